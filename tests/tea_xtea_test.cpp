// TEA and XTEA in this system's own round functions: no published vector
// applies, so they are checked against a plain model written from the round
// formulas, against values pinned from that model, and for their key padding.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "ciphers/KCtea.h"
#include "ciphers/KCxtea.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

using ByteVector = std::vector<std::uint8_t>;
using KeyWords = std::array<std::uint32_t, 4>;
constexpr std::uint32_t Delta = 0x9E3779B9;

void ModelTea(const KeyWords& k, std::uint32_t& y, std::uint32_t& z) {
    for (std::uint32_t n = 0, sum = 0; n < 32; ++n) {
        sum += Delta;
        y += (z << 4) + (k[0] ^ z) + (sum ^ (z >> 5)) + k[1];
        z += (y << 4) + (k[2] ^ y) + (sum ^ (y >> 5)) + k[3];
    }
}

void ModelXtea(const KeyWords& k, std::uint32_t& y, std::uint32_t& z) {
    for (std::uint32_t sum = 0; sum != Delta * 32;) {
        y += ((z << 4) ^ (z >> 5)) ^ (sum + k[sum & 3]);
        sum += Delta;
        z += ((y << 4) ^ (y >> 5)) ^ (sum + k[(sum >> 11) & 3]);
    }
}

struct Variant {
    const char* name;
    const TKC_cipherclass* cipherClass;
    void (*model)(const KeyWords&, std::uint32_t&, std::uint32_t&);
    // Pinned from the model: zero key and block; key 000102..0F with block
    // 0011223344556677; 64-bit key 0123456789ABCDEF with block FEDCBA9876543210.
    const char* pinned[3];
};

const Variant Variants[] = {
    {"Tea", &CipherClassOf<TKC_tea>, ModelTea, {"F88B1C2D0684458E", "77966763A8240BE9", "83DB56BA73E16787"}},
    {"XTea", &CipherClassOf<TKC_xtea>, ModelXtea, {"AB4158CCE2683CBD", "52ADEBB7B885BE47", "83B5B41A76B672C3"}},
};

std::uint32_t BigEndian(const ByteVector& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

std::string ModelEncrypt(const Variant& v, ByteVector key, std::uint32_t keyBits, const ByteVector& plain) {
    key.resize(keyBits / 8);
    key.resize(16, 0);
    const KeyWords k{BigEndian(key, 0), BigEndian(key, 4), BigEndian(key, 8), BigEndian(key, 12)};
    std::uint32_t y = BigEndian(plain, 0), z = BigEndian(plain, 4);
    v.model(k, y, z);
    ByteVector out;
    for (std::uint32_t word : {y, z})
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(word >> shift));
    return test::ToHex(out);
}

// Encrypts one block and checks that decrypting gives it back.
std::string Encrypt(const TKC_cipherclass& cls, const ByteVector& key, std::uint32_t keyBits, const ByteVector& plain) {
    auto cipher = cls.Create();
    auto& block = dynamic_cast<TKC_blockcipher64&>(*cipher);
    block.Init(key, keyBits);
    std::array<std::uint8_t, 8> data;
    std::copy(plain.begin(), plain.end(), data.begin());
    block.EncryptBlock(data, data);
    const std::string result = test::ToHex({data.begin(), data.end()});
    block.DecryptBlock(data, data);
    EXPECT_EQ(test::ToHex({data.begin(), data.end()}), test::ToHex(plain));
    return result;
}

class TeaFamily : public testing::TestWithParam<Variant> {};

TEST_P(TeaFamily, MatchesTheRoundFormulasAndPinnedValues) {
    const auto& v = GetParam();
    const auto& cls = *v.cipherClass;
    EXPECT_TRUE(cls.SelfTest());
    ByteVector counting(16);
    for (std::size_t i = 0; i < 16; ++i) counting[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(Encrypt(cls, ByteVector(16), 128, ByteVector(8)), v.pinned[0]);
    EXPECT_EQ(Encrypt(cls, counting, 128, test::FromHex("0011223344556677")), v.pinned[1]);
    EXPECT_EQ(Encrypt(cls, test::FromHex("0123456789ABCDEF"), 64, test::FromHex("FEDCBA9876543210")), v.pinned[2]);

    std::uint32_t seed = 0x12345678;
    const auto next = [&] { return static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    for (std::uint32_t round = 0; round < 48; ++round) {
        ByteVector key(16), plain(8);
        for (auto& b : key) b = next();
        for (auto& b : plain) b = next();
        const std::uint32_t keyBits = 8 * (1 + round % 16);
        ASSERT_EQ(Encrypt(cls, key, keyBits, plain), ModelEncrypt(v, key, keyBits, plain)) << keyBits;
    }
}

// Short keys are padded with zero bytes at the end; a partial byte is dropped.
TEST_P(TeaFamily, ShortKeysArePaddedEmptyOnesToZero) {
    const auto& cls = *GetParam().cipherClass;
    const auto plain = test::FromHex("0706050403020100");
    const auto key = test::FromHex("A1B2C3D4E5F60718");
    auto padded = key, seven = key;
    padded.resize(16, 0);
    seven[7] = 0;
    EXPECT_EQ(Encrypt(cls, key, 64, plain), Encrypt(cls, padded, 128, plain));  // K2 = K3 = 0
    EXPECT_EQ(Encrypt(cls, key, 60, plain), Encrypt(cls, seven, 64, plain));    // low byte of K1 = 0
    EXPECT_NE(Encrypt(cls, key, 60, plain), Encrypt(cls, key, 64, plain));

    EXPECT_EQ(Encrypt(cls, key, 4, plain), Encrypt(cls, ByteVector(16, 0), 128, plain));  // no whole byte
}

TEST_P(TeaFamily, PasswordKeysRoundTripInEveryMode) {
    const auto& cls = *GetParam().cipherClass;
    ByteVector data(29), key(16);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 13 + 5);
    for (std::uint32_t bits : {64u, 128u}) {
        for (int mode = 0; mode <= 4; ++mode) {
            auto cipher = cls.Create();
            auto& block = dynamic_cast<TKC_blockcipher&>(*cipher);
            block.CipherMode = static_cast<TKC_ciphermode>(mode);
            block.Init(key, bits);
            auto buffer = data;
            block.Encrypt(buffer, buffer);
            EXPECT_NE(buffer, data);
            block.Reset();
            block.Decrypt(buffer, buffer);
            EXPECT_EQ(buffer, data) << "key bits " << bits << " mode " << mode;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, TeaFamily, testing::ValuesIn(Variants),
                         [](const testing::TestParamInfo<Variant>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestrune
