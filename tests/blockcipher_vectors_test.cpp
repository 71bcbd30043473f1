// Published known answers for every block cipher: one block each way with a
// raw key, on every code path the processor can run; and every mode on every
// path against the portable path, at lengths that cut every many-block group.
#include <gtest/gtest.h>

#include <numeric>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCice.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCxtea.h"
#include "tests/cpu_paths.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

struct CipherFamily {
    const char* file;  // none for this system's own variants (tea_xtea_test checks them)
    const char* algorithm;  // section name in the file
    const TKC_cipherclass* cipherClass;
};

const CipherFamily Families[] = {
    {"blowfish.vec", "Blowfish", &CipherClassOf<TKC_blowfish>},
    {"rijndael.vec", "Rijndael", &CipherClassOf<TKC_rijndael>},
    {"twofish.vec", "Twofish", &CipherClassOf<TKC_twofish>},
    {"serpent.vec", "Serpent", &CipherClassOf<TKC_serpent>},
    {"mars.vec", "MARS", &CipherClassOf<TKC_mars>},
    {"rc6.vec", "RC6", &CipherClassOf<TKC_rc6>},
    {"cast.vec", "CAST-256", &CipherClassOf<TKC_cast256>},
    {"misty1.vec", "MISTY1", &CipherClassOf<TKC_misty1>},
    {"ice.vec", "ICE", &CipherClassOf<TKC_ice>},
    {"ice.vec", "Thin-ICE", &CipherClassOf<TKC_thinice>},
    {"ice.vec", "ICE-2", &CipherClassOf<TKC_ice2>},
    {"cast.vec", "CAST-128", &CipherClassOf<TKC_cast128>},
    {"des.vec", "DES", &CipherClassOf<TKC_des>},
    {"des.vec", "3DES", &CipherClassOf<TKC_3des>},
    {"idea.vec", "IDEA", &CipherClassOf<TKC_idea>},
    {"rc2.vec", "RC2", &CipherClassOf<TKC_rc2>},
    {"rc5.vec", "RC5", &CipherClassOf<TKC_rc5>},
    {nullptr, "TEA", &CipherClassOf<TKC_tea>},
    {nullptr, "XTEA", &CipherClassOf<TKC_xtea>},
};

template <std::size_t B>
void CheckRecord(TKC_blockcipherN<B>& cipher, const test::VectorRecord& rec) {
    const auto key = rec.Bytes("Key");
    const auto plain = rec.Bytes("In");
    const auto expected = rec.Bytes("Out");
    ASSERT_EQ(plain.size(), B) << rec.Where();
    cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
    std::array<std::uint8_t, B> block;
    std::copy(plain.begin(), plain.end(), block.begin());
    cipher.EncryptBlock(block, block);
    EXPECT_EQ(test::ToHex({block.begin(), block.end()}), test::ToHex(expected)) << rec.Where() << " encrypting";
    std::copy(expected.begin(), expected.end(), block.begin());
    cipher.DecryptBlock(block, block);
    EXPECT_EQ(test::ToHex({block.begin(), block.end()}), test::ToHex(plain)) << rec.Where() << " decrypting";
}

std::vector<test::CpuPath> PathsOf(const TKC_cipherclass& cls) {
    return test::CpuPathsOf([&] { return cls.Create()->Provider(); });
}

class BlockCipherVectors : public testing::TestWithParam<CipherFamily> {};

TEST_P(BlockCipherVectors, MatchPublishedValuesBothWays) {
    const auto& family = GetParam();
    if (!family.file) GTEST_SKIP() << "no published values for this variant";
    const auto records = test::RecordsFor(family.file, family.algorithm);
    ASSERT_FALSE(records.empty());
    for (const auto& path : PathsOf(*family.cipherClass)) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        auto cipher = family.cipherClass->Create();
        for (const auto& rec : records) {
            if (auto* c64 = dynamic_cast<TKC_blockcipher64*>(cipher.get()))
                CheckRecord(*c64, rec);
            else if (auto* c128 = dynamic_cast<TKC_blockcipher128*>(cipher.get()))
                CheckRecord(*c128, rec);
            else
                FAIL() << family.algorithm << " is not a block cipher";
        }
    }
}

// One mode one way over data, keyed under the current restriction. With
// shift > 0 the data sits that many bytes past an aligned start, is
// transformed in place, and goes in two calls cut at a block boundary.
std::vector<std::uint8_t> RunMode(const TKC_cipherclass& cls, TKC_ciphermode mode, bool encrypting,
                                  const std::vector<std::uint8_t>& data, std::size_t shift) {
    auto cipher = cls.Create();
    auto& block = dynamic_cast<TKC_blockcipher&>(*cipher);
    block.CipherMode = mode;
    std::vector<std::uint8_t> key(16);
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5C + 29 * i);
    block.Init(key, std::min<std::uint32_t>(128, static_cast<std::uint32_t>(cls.GetMaxKeySize())));
    const auto run = [&](ConstBytes in, Bytes out) { encrypting ? block.Encrypt(in, out) : block.Decrypt(in, out); };
    if (shift == 0) {
        std::vector<std::uint8_t> out(data.size());
        run(data, out);
        return out;
    }
    std::vector<std::uint8_t> buffer(data.size() + 16);
    const auto moved = Bytes(buffer).subspan(shift, data.size());
    std::copy(data.begin(), data.end(), moved.begin());
    const std::size_t blockBytes = static_cast<std::size_t>(block.GetBlockSize()) / 8;
    const std::size_t cut = data.size() / blockBytes / 2 * blockBytes;
    run(moved.first(cut), moved.first(cut));
    run(moved.subspan(cut), moved.subspan(cut));
    return {moved.begin(), moved.end()};
}

// Run lengths on both sides of every remainder of the many-block groups (up
// to sixteen blocks: the odd lengths past 31 go in two calls of h and h + 1
// blocks, h = 15..32) and of the framework's batches (64 blocks of 128
// bits, 128 of 64), each with and without a partial block, and calls of 40,
// 47 and 48 blocks that run a group of 24 before a group of 16 or another
// of 24; the portable path in one aligned call is the reference.
TEST_P(BlockCipherVectors, EveryPathMatchesPortableInEveryModeFromMisalignedBuffers) {
    const auto& cls = *GetParam().cipherClass;
    const auto paths = PathsOf(cls);
    const std::size_t blockBytes = static_cast<std::size_t>(cls.GetBlockSize()) / 8;
    std::vector<std::size_t> blockCounts(18);
    std::iota(blockCounts.begin(), blockCounts.end(), 0);
    for (std::size_t blocks = 31; blocks <= 65; blocks += 2) blockCounts.push_back(blocks);
    blockCounts.insert(blockCounts.end(), {32, 80, 95, 127, 129});
    for (int mode = 0; mode <= 4; ++mode) {
        const auto m = static_cast<TKC_ciphermode>(mode);
        for (std::size_t blocks : blockCounts) {
            for (std::size_t tail : {std::size_t{0}, blockBytes - 1}) {
                std::vector<std::uint8_t> plain(blocks * blockBytes + tail);
                for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 31 + blocks);
                std::vector<std::uint8_t> cipherText;
                {
                    const CpuFeatures::Restriction portable(CpuFeatures::None);
                    cipherText = RunMode(cls, m, true, plain, 0);
                }
                for (const auto& path : paths) {
                    const CpuFeatures::Restriction only(path.allowed);
                    const std::size_t shift = 1 + (blocks + tail) % 15;
                    const auto where = path.provider + ", mode " + std::to_string(mode) + ", " +
                                       std::to_string(blocks) + " blocks + " + std::to_string(tail);
                    ASSERT_EQ(test::ToHex(RunMode(cls, m, true, plain, shift)), test::ToHex(cipherText)) << where;
                    ASSERT_EQ(RunMode(cls, m, false, cipherText, shift), plain) << where << " decrypting";
                }
            }
        }
    }
}

TEST_P(BlockCipherVectors, ClassAnswersSelfTestAndWipedStart) {
    const auto& cls = *GetParam().cipherClass;
    EXPECT_TRUE(cls.SelfTest());
    auto cipher = cls.Create();
    EXPECT_EQ(cipher->GetId(), cls.GetId());
    EXPECT_EQ(cipher->GetMaxKeySize(), cls.GetMaxKeySize());
    EXPECT_FALSE(cipher->IsInitialized());
    auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->CipherMode, TKC_ciphermode::cmCBC);
    std::array<std::uint8_t, 16> data{};
    try {
        block->Encrypt(data, data);
        FAIL() << "an unkeyed cipher encrypted";
    } catch (const EKC_blockcipher& e) {
        EXPECT_STREQ(e.what(), "Cipher not initialized");
    }
}

// Every key size the crypto object can hand over (whole bytes from a
// digest, up to the largest key) round-trips in every mode.
TEST_P(BlockCipherVectors, PasswordKeysRoundTripInEveryMode) {
    const auto& cls = *GetParam().cipherClass;
    std::vector<std::uint8_t> data(3 * 16 + 5);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::vector<std::uint8_t> key(256);
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 13 + 5);
    for (std::uint32_t bits : {64u, 128u, 160u, 192u, 256u, 384u, 512u, 1024u, 1248u, 2048u}) {
        if (bits > static_cast<std::uint32_t>(cls.GetMaxKeySize())) continue;
        for (int mode = 0; mode <= 4; ++mode) {
            auto cipher = cls.Create();
            auto& block = dynamic_cast<TKC_blockcipher&>(*cipher);
            block.CipherMode = static_cast<TKC_ciphermode>(mode);
            block.Init(key, bits);
            std::vector<std::uint8_t> buffer = data;
            block.Encrypt(buffer, buffer);
            EXPECT_NE(buffer, data);
            block.Reset();
            block.Decrypt(buffer, buffer);
            EXPECT_EQ(buffer, data) << "key bits " << bits << " mode " << mode;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, BlockCipherVectors, testing::ValuesIn(Families),
                         [](const testing::TestParamInfo<CipherFamily>& param) {
                             std::string name = param.param.algorithm;
                             for (auto& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace kestrune
