// How each 128-bit block cipher turns a key of any admissible length into
// one of its native lengths: zero bytes, a padding bit, whole words.
#include <gtest/gtest.h>

#include "ciphers/KCcast256.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtwofish.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

using Key = std::vector<std::uint8_t>;

Key Pattern(std::size_t bytes, std::uint8_t seed = 0x3C) {
    Key key(bytes);
    for (std::size_t i = 0; i < bytes; ++i) key[i] = static_cast<std::uint8_t>(seed + 29 * i);
    return key;
}

Key Padded(Key key, std::size_t bytes) {
    key.resize(bytes, 0);
    return key;
}

// Three blocks in CBC, so the initial vector E(0) is covered too.
template <typename Cipher>
std::string Encrypt(const Key& key, std::uint32_t bits) {
    Cipher cipher;
    cipher.Init(key, bits);
    std::vector<std::uint8_t> data(48);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    cipher.EncryptCBC(data, data);
    return test::ToHex(data);
}

template <typename Cipher>
void ExpectInvalidKeySize(std::uint32_t bits) {
    Cipher cipher;
    const Key key = Pattern(8);
    try {
        cipher.Init(key, bits);
        FAIL() << Cipher::ClassAlgorithm << " accepted " << bits << " key bits";
    } catch (const EKC_cipher& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(cipher.IsInitialized());
}

TEST(Rijndael, ShortKeysAreZeroFilledToTheNextAesLength) {
    const Key key = Pattern(32);
    const Key k12 = Key(key.begin(), key.begin() + 12), k17 = Key(key.begin(), key.begin() + 17);
    const Key k20 = Key(key.begin(), key.begin() + 20), k25 = Key(key.begin(), key.begin() + 25);
    // 100 bits keep 12 whole bytes; the rest of the 128-bit key is zero.
    EXPECT_EQ(Encrypt<TKC_rijndael>(key, 100), Encrypt<TKC_rijndael>(Padded(k12, 16), 128));
    EXPECT_EQ(Encrypt<TKC_rijndael>(key, 136), Encrypt<TKC_rijndael>(Padded(k17, 24), 192));
    EXPECT_EQ(Encrypt<TKC_rijndael>(key, 160), Encrypt<TKC_rijndael>(Padded(k20, 24), 192));
    EXPECT_EQ(Encrypt<TKC_rijndael>(key, 200), Encrypt<TKC_rijndael>(Padded(k25, 32), 256));
    EXPECT_NE(Encrypt<TKC_rijndael>(key, 128), Encrypt<TKC_rijndael>(Padded(Key(key.begin(), key.begin() + 16), 24), 192));
}

TEST(Twofish, KeyLengthIsRoundedUpInBits) {
    const Key key = Pattern(32);
    const Key k16 = Key(key.begin(), key.begin() + 16), k20 = Key(key.begin(), key.begin() + 20);
    // 132 bits: 16 key bytes of a 192-bit key; the half byte is lost.
    EXPECT_EQ(Encrypt<TKC_twofish>(key, 132), Encrypt<TKC_twofish>(Padded(k16, 24), 192));
    EXPECT_EQ(Encrypt<TKC_twofish>(key, 160), Encrypt<TKC_twofish>(Padded(k20, 24), 192));
    EXPECT_EQ(Encrypt<TKC_twofish>(key, 200), Encrypt<TKC_twofish>(Padded(Key(key.begin(), key.begin() + 25), 32), 256));
    EXPECT_EQ(Encrypt<TKC_twofish>(key, 64), Encrypt<TKC_twofish>(Padded(Key(key.begin(), key.begin() + 8), 16), 128));
    // A 128-bit key is not a 192-bit one with zeros: the schedule length differs.
    EXPECT_NE(Encrypt<TKC_twofish>(key, 128), Encrypt<TKC_twofish>(Padded(k16, 24), 192));
}

TEST(Serpent, ShortKeysArePaddedWithOneBit) {
    const Key key = Pattern(32);
    const auto withBit = [&key](std::size_t keyBytes, std::size_t bit) {
        Key full = Padded(Key(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(keyBytes)), 32);
        full[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        return Encrypt<TKC_serpent>(full, 256);
    };
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 128), withBit(16, 128));
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 192), withBit(24, 192));
    // The partial byte is dropped before the bit goes in at position 132.
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 132), withBit(16, 132));
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 100), withBit(12, 100));
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 252), withBit(31, 252));
    EXPECT_EQ(Encrypt<TKC_serpent>(key, 4), withBit(0, 4));
    // A full-length key takes no padding bit.
    EXPECT_NE(Encrypt<TKC_serpent>(key, 256), withBit(32, 0));
}

TEST(Mars, UsesWholeKeyWordsOnly) {
    const Key key = Pattern(156);
    const Key k16 = Key(key.begin(), key.begin() + 16);
    EXPECT_EQ(Encrypt<TKC_mars>(key, 136), Encrypt<TKC_mars>(k16, 128));
    EXPECT_EQ(Encrypt<TKC_mars>(key, 156), Encrypt<TKC_mars>(k16, 128));
    EXPECT_NE(Encrypt<TKC_mars>(key, 160), Encrypt<TKC_mars>(k16, 128));
    EXPECT_EQ(Encrypt<TKC_mars>(key, 32), Encrypt<TKC_mars>(key, 60));
    // The largest key, 39 words, and every smaller whole-word key are accepted.
    for (std::uint32_t bits = 32; bits <= 1248; bits += 32) EXPECT_NO_THROW(Encrypt<TKC_mars>(key, bits)) << bits;
}

TEST(Mars, KeysWithoutAWholeWordAreInvalid) {
    for (std::uint32_t bits : {4u, 8u, 16u, 28u}) ExpectInvalidKeySize<TKC_mars>(bits);
    ExpectInvalidKeySize<TKC_mars>(1252);
}

TEST(RC6, KeysUseWholeBytesInWholeWords) {
    const Key key = Pattern(256);
    EXPECT_EQ(Encrypt<TKC_rc6>(key, 12), Encrypt<TKC_rc6>(key, 8));
    // A partial last word is zero-filled, so zero bytes up to a word
    // boundary change nothing; a further word of zeros does.
    const Key k5 = Key(key.begin(), key.begin() + 5);
    EXPECT_EQ(Encrypt<TKC_rc6>(key, 40), Encrypt<TKC_rc6>(Padded(k5, 8), 64));
    EXPECT_NE(Encrypt<TKC_rc6>(key, 40), Encrypt<TKC_rc6>(Padded(k5, 12), 96));
    // The last byte of the longest key still matters.
    Key changed = key;
    changed[255] ^= 1;
    EXPECT_NE(Encrypt<TKC_rc6>(key, 2048), Encrypt<TKC_rc6>(changed, 2048));
    EXPECT_EQ(Encrypt<TKC_rc6>(key, 2044), Encrypt<TKC_rc6>(changed, 2044));
}

TEST(RC6, KeysWithoutAWholeByteAreInvalid) {
    ExpectInvalidKeySize<TKC_rc6>(4);
    ExpectInvalidKeySize<TKC_rc6>(2052);
}

TEST(Cast256, ShortKeysAreZeroFilled) {
    const Key key = Pattern(32);
    EXPECT_EQ(Encrypt<TKC_cast256>(key, 160), Encrypt<TKC_cast256>(Padded(Key(key.begin(), key.begin() + 20), 32), 256));
    EXPECT_EQ(Encrypt<TKC_cast256>(key, 128), Encrypt<TKC_cast256>(Padded(Key(key.begin(), key.begin() + 16), 32), 256));
    EXPECT_EQ(Encrypt<TKC_cast256>(key, 4), Encrypt<TKC_cast256>(Key(32, 0), 256));
}

// A key schedule is rebuilt from scratch by every Init: re-keying a used
// instance gives what a fresh instance gives.
template <typename Cipher>
void ExpectRekeyingMatchesFreshInstance(std::uint32_t bits) {
    const Key first = Pattern(256, 1), second = Pattern(256, 2);
    Cipher cipher;
    cipher.Init(first, bits);
    std::vector<std::uint8_t> data(48);
    cipher.EncryptCBC(data, data);
    cipher.Init(second, bits);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    cipher.EncryptCBC(data, data);
    EXPECT_EQ(test::ToHex(data), Encrypt<Cipher>(second, bits)) << Cipher::ClassAlgorithm;
}

TEST(Ciphers128, RekeyingMatchesAFreshInstance) {
    ExpectRekeyingMatchesFreshInstance<TKC_rijndael>(192);
    ExpectRekeyingMatchesFreshInstance<TKC_twofish>(256);
    ExpectRekeyingMatchesFreshInstance<TKC_serpent>(160);
    ExpectRekeyingMatchesFreshInstance<TKC_mars>(512);
    ExpectRekeyingMatchesFreshInstance<TKC_rc6>(2048);
    ExpectRekeyingMatchesFreshInstance<TKC_cast256>(200);
}

}  // namespace
}  // namespace kestrune
