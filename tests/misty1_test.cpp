// MISTY1 beyond its published vectors: key padding and refused keys.
#include <gtest/gtest.h>

#include <array>

#include "ciphers/KCmisty1.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

std::vector<std::uint8_t> EncryptOne(const std::vector<std::uint8_t>& key, std::uint32_t keyBits) {
    TKC_misty1 cipher;
    cipher.Init(key, keyBits);
    std::array<std::uint8_t, 8> block{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    cipher.EncryptBlock(block, block);
    return {block.begin(), block.end()};
}

TEST(Misty1, ShortKeysArePaddedWithZeroBytes) {
    const auto key = test::FromHex("00112233445566778899AABB");
    auto padded = key;
    padded.resize(16, 0);
    EXPECT_EQ(EncryptOne(key, 96), EncryptOne(padded, 128));
    // 92 bits: the partial last byte is dropped.
    auto eleven = key;
    eleven[11] = 0;
    EXPECT_EQ(EncryptOne(key, 92), EncryptOne(eleven, 96));
}

TEST(Misty1, KeysWithoutAWholeByteAreZeroFilled) {
    TKC_misty1 cipher;
    std::array<std::uint8_t, 8> nibble{}, zero{};
    cipher.Init(test::FromHex("F0"), 4);
    cipher.EncryptBlock(nibble, nibble);
    cipher.Init(std::array<std::uint8_t, 16>{}, 128);
    cipher.EncryptBlock(zero, zero);
    EXPECT_EQ(nibble, zero);
    EXPECT_THROW(cipher.Init(test::FromHex("00112233445566778899AABBCCDDEEFF00"), 132), EKC_cipher);
}

}  // namespace
}  // namespace kestrune
