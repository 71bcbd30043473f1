// Published known answers for every digest, fed whole and in pieces, on
// every code path the processor can run.
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"
#include "tests/cpu_paths.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

struct DigestFamily {
    const char* file;
    const char* algorithm;  // section name in the file
    const TKC_hashclass* digestClass;
};

// One row per digest; ":pad01" records describe a different padding.
const DigestFamily Families[] = {
    {"md.vec", "MD4", &HashClassOf<TKC_md4>},
    {"md.vec", "MD5", &HashClassOf<TKC_md5>},
    {"ripemd.vec", "RIPEMD-128", &HashClassOf<TKC_ripemd128>},
    {"ripemd.vec", "RIPEMD-160", &HashClassOf<TKC_ripemd160>},
    {"sha.vec", "SHA-1", &HashClassOf<TKC_sha1>},
    {"sha.vec", "SHA-256", &HashClassOf<TKC_sha256>},
    {"sha.vec", "SHA-384", &HashClassOf<TKC_sha384>},
    {"sha.vec", "SHA-512", &HashClassOf<TKC_sha512>},
    {"haval.vec", "HAVAL-256/5", &HashClassOf<TKC_haval>},
    {"tiger.vec", "Tiger", &HashClassOf<TKC_tiger>},
};

std::vector<std::uint8_t> Digest(const TKC_hashclass& cls, const std::vector<std::uint8_t>& message, long repeat,
                                 std::size_t pieceSize) {
    auto hash = cls.Create();
    hash->Init();
    for (long r = 0; r < repeat; ++r) {
        for (std::size_t off = 0; off < message.size(); off += pieceSize) {
            hash->Update(ConstBytes(message).subspan(off, std::min(pieceSize, message.size() - off)));
            hash->Update({});  // empty pieces change nothing
        }
    }
    std::vector<std::uint8_t> digest(hash->DigestBytes());
    hash->Final(digest);
    return digest;
}

class DigestVectors : public testing::TestWithParam<DigestFamily> {};

TEST_P(DigestVectors, MatchPublishedValuesWholeAndInPieces) {
    const auto& family = GetParam();
    const auto records = test::RecordsFor(family.file, family.algorithm, {"pad01"});
    ASSERT_FALSE(records.empty());
    for (const auto& path : test::CpuPathsOf([&] { return family.digestClass->Create()->Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        for (const auto& rec : records) {
            const auto message = rec.Bytes("In");
            const long repeat = rec.Number("Repeat", 1);
            const auto expected = rec.Bytes("Out");
            // Repeated messages are fed a repetition at a time, which is many
            // Update calls; short ones also whole and in awkward pieces.
            std::vector<std::size_t> pieceSizes = {std::max<std::size_t>(message.size(), 1)};
            if (repeat == 1) pieceSizes.insert(pieceSizes.end(), {1, 3, 63, 64, 65, 127, 129});
            for (auto pieceSize : pieceSizes)
                EXPECT_EQ(test::ToHex(Digest(*family.digestClass, message, repeat, pieceSize)), test::ToHex(expected))
                    << rec.Where() << " piece size " << pieceSize;
            if (repeat == 1) {
                std::vector<std::uint8_t> oneCall(expected.size());
                family.digestClass->DigestMessage(message, oneCall);
                EXPECT_EQ(test::ToHex(oneCall), test::ToHex(expected)) << rec.Where() << " in one call";
            }
        }
    }
}

TEST_P(DigestVectors, ClassAnswersAndSelfTest) {
    const auto& cls = *GetParam().digestClass;
    EXPECT_TRUE(cls.SelfTest());
    auto hash = cls.Create();
    EXPECT_EQ(hash->GetId(), cls.GetId());
    EXPECT_EQ(hash->GetHashSize(), cls.GetHashSize());
    EXPECT_FALSE(hash->IsInitialized());
}

TEST_P(DigestVectors, MisuseRaisesHashNotInitialized) {
    auto hash = GetParam().digestClass->Create();
    std::array<std::uint8_t, 64> digest{};
    EXPECT_THROW(GetParam().digestClass->DigestMessage({}, Bytes(digest).first(hash->DigestBytes() - 1)), EKC_hash);
    EXPECT_THROW(hash->Update({}), EKC_hash);
    EXPECT_THROW(hash->Final(digest), EKC_hash);
    hash->Init();
    hash->UpdateFromString("abc");
    hash->Final(digest);
    try {
        hash->Final(digest);  // Final wipes
        FAIL() << "second Final did not raise";
    } catch (const EKC_hash& e) {
        EXPECT_STREQ(e.what(), "Hash not initialized");
    }
}

TEST_P(DigestVectors, BoundaryLengthsAgreeWholeAndByteByByte) {
    const auto& cls = *GetParam().digestClass;
    std::vector<std::uint8_t> message(300);
    std::iota(message.begin(), message.end(), 0);
    for (std::size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 111, 112, 117, 118, 119, 127, 128, 129, 300}) {
        const std::vector<std::uint8_t> m(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(Digest(cls, m, 1, std::max<std::size_t>(length, 1)), Digest(cls, m, 1, 1)) << "length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(All, DigestVectors, testing::ValuesIn(Families),
                         [](const testing::TestParamInfo<DigestFamily>& param) {
                             std::string name = param.param.algorithm;
                             for (auto& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace kestrune
