// Our digests against OpenSSL's on random messages of many lengths, fed
// whole and in random pieces, where OpenSSL has the same digest; every code
// path the processor can run, from misaligned buffers.
#include <gtest/gtest.h>
#include <openssl/md4.h>
#include <openssl/md5.h>
#include <openssl/ripemd.h>
#include <openssl/sha.h>

#include <random>
#include <vector>

#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "tests/cpu_paths.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

using Reference = unsigned char* (*)(const unsigned char*, std::size_t, unsigned char*);

struct OracleCase {
    const char* name;
    const TKC_hashclass* digestClass;
    Reference reference;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
const OracleCase Cases[] = {
    {"MD4", &HashClassOf<TKC_md4>, &MD4},
    {"MD5", &HashClassOf<TKC_md5>, &MD5},
    {"RIPEMD160", &HashClassOf<TKC_ripemd160>, &RIPEMD160},
    {"SHA1", &HashClassOf<TKC_sha1>, &SHA1},
    {"SHA256", &HashClassOf<TKC_sha256>, &SHA256},
    {"SHA384", &HashClassOf<TKC_sha384>, &SHA384},
    {"SHA512", &HashClassOf<TKC_sha512>, &SHA512},
};
#pragma GCC diagnostic pop

std::vector<std::uint8_t> RandomBytes(std::mt19937& rng, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

std::string Expected(const OracleCase& c, const std::vector<std::uint8_t>& message) {
    std::vector<std::uint8_t> digest(64);
    c.reference(message.data(), message.size(), digest.data());
    digest.resize(static_cast<std::size_t>(c.digestClass->GetHashSize()) / 8);
    return test::ToHex(digest);
}

std::string Final(TKC_hash& hash) {
    std::vector<std::uint8_t> digest(hash.DigestBytes());
    hash.Final(digest);
    return test::ToHex(digest);
}

std::vector<test::CpuPath> PathsOf(const OracleCase& c) {
    return test::CpuPathsOf([&] { return c.digestClass->Create()->Provider(); });
}

// The message digested from a buffer that starts misaligned by 1 to 15 bytes.
std::string DigestMisaligned(TKC_hash& hash, const std::vector<std::uint8_t>& message, std::size_t shift) {
    std::vector<std::uint8_t> buffer(message.size() + 16);
    const auto moved = Bytes(buffer).subspan(1 + shift % 15, message.size());
    std::copy(message.begin(), message.end(), moved.begin());
    hash.Init();
    hash.Update(moved);
    return Final(hash);
}

class DigestOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(DigestOracle, EveryLengthUpToSixBlocksFedWhole) {
    const auto& c = GetParam();
    for (const auto& path : PathsOf(c)) {
        const CpuFeatures::Restriction only(path.allowed);
        std::mt19937 rng(1);
        auto hash = c.digestClass->Create();
        for (std::size_t length = 0; length <= 6 * 128 + 1; ++length) {
            const auto message = RandomBytes(rng, length);
            ASSERT_EQ(DigestMisaligned(*hash, message, length), Expected(c, message))
                << path.provider << ", length " << length;
        }
    }
}

// Block counts on both sides of every remainder of the many-block groups
// (the AVX2 path of SHA-384/512 takes two blocks at a time and a last odd
// block by itself), with tails after them.
TEST_P(DigestOracle, EveryBlockCountAcrossTheManyBlockGroups) {
    const auto& c = GetParam();
    for (const auto& path : PathsOf(c)) {
        const CpuFeatures::Restriction only(path.allowed);
        std::mt19937 rng(4);
        auto hash = c.digestClass->Create();
        for (std::size_t blocks = 1; blocks <= 20; ++blocks) {
            for (std::size_t tail : {0u, 1u, 111u, 112u}) {
                const auto message = RandomBytes(rng, 128 * blocks + tail);
                EXPECT_EQ(DigestMisaligned(*hash, message, blocks + tail), Expected(c, message))
                    << path.provider << ", " << blocks << " blocks + " << tail;
            }
        }
    }
}

TEST_P(DigestOracle, LongMessagesFedInRandomPieces) {
    const auto& c = GetParam();
    for (const auto& path : PathsOf(c)) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        std::mt19937 rng(2);
        auto hash = c.digestClass->Create();
        for (std::size_t length : {1000u, 4097u, 8192u, 65536u + 129u, (1u << 20) + 13u}) {
            const auto message = RandomBytes(rng, length);
            hash->Init();
            for (std::size_t off = 0; off < length;) {
                // Mostly short pieces, some empty, some spanning many blocks.
                std::size_t piece = rng() % 8 == 0 ? rng() % 20000 : rng() % 300;
                piece = std::min(piece, length - off);
                hash->Update(ConstBytes(message).subspan(off, piece));
                off += piece;
            }
            EXPECT_EQ(Final(*hash), Expected(c, message)) << "length " << length;
        }
    }
}

TEST_P(DigestOracle, InitRestartsAMessageInProgress) {
    const auto& c = GetParam();
    std::mt19937 rng(3);
    auto hash = c.digestClass->Create();
    const auto abandoned = RandomBytes(rng, 200), message = RandomBytes(rng, 77);
    hash->Init();
    hash->Update(abandoned);
    hash->Init();
    hash->Update(message);
    EXPECT_EQ(Final(*hash), Expected(c, message));
}

INSTANTIATE_TEST_SUITE_P(OpenSSL, DigestOracle, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<OracleCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestrune
