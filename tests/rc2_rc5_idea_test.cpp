// RC2 against OpenSSL with the effective key length at 1024 bits, IDEA
// against libgcrypt, and the key sizes that hold no whole byte.
#include <gcrypt.h>
#include <gtest/gtest.h>
#include <openssl/rc2.h>

#include "ciphers/KCidea.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc5.h"
#include "tests/block_oracle.h"
#include "tests/cpu_paths.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace kestrune {
namespace {

using test::Block8;

TEST(Rc2, EffectiveKeyLengthIsAlways1024Bits) {
    const auto key = test::RandomBytes(128, 31);
    for (std::size_t bytes : {1u, 2u, 5u, 8u, 16u, 33u, 64u, 100u, 127u, 128u}) {
        RC2_KEY ks;
        RC2_set_key(&ks, static_cast<int>(bytes), key.data(), 1024);
        auto run = [&ks](const Block8& in, int enc) {
            Block8 out;
            RC2_ecb_encrypt(in.data(), out.data(), &ks, enc);
            return out;
        };
        TKC_rc2 ours;
        ours.Init(key, static_cast<std::uint32_t>(8 * bytes));
        test::ExpectMatchesReference(
            ours, [&](const Block8& b) { return run(b, RC2_ENCRYPT); },
            [&](const Block8& b) { return run(b, RC2_DECRYPT); }, "RC2 " + std::to_string(8 * bytes) + "-bit key");
    }
}

TEST(Idea, MatchesLibgcryptAndShortKeysArePadded) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto key = test::RandomBytes(16, 41);
    for (std::size_t bytes : {16u, 15u, 8u, 1u}) {
        std::vector<std::uint8_t> padded(16, 0);
        std::copy_n(key.begin(), bytes, padded.begin());
        gcry_cipher_hd_t handle;
        ASSERT_EQ(gcry_cipher_open(&handle, GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_ECB, 0), 0u);
        ASSERT_EQ(gcry_cipher_setkey(handle, padded.data(), padded.size()), 0u);
        auto run = [handle](const Block8& in, bool enc) {
            Block8 out;
            if (enc)
                gcry_cipher_encrypt(handle, out.data(), 8, in.data(), 8);
            else
                gcry_cipher_decrypt(handle, out.data(), 8, in.data(), 8);
            return out;
        };
        TKC_idea ours;
        ours.Init(key, static_cast<std::uint32_t>(8 * bytes));
        test::ExpectMatchesReference(
            ours, [&](const Block8& b) { return run(b, true); }, [&](const Block8& b) { return run(b, false); },
            "IDEA " + std::to_string(8 * bytes) + "-bit key");
        gcry_cipher_close(handle);
    }
}

// The lane paths multiply sixteen or eight blocks at once: 0 stands for
// 65536 there too, in keys and in data, and groups cut anywhere. CBC
// decryption runs the decryption keys over many blocks, CFB decryption the
// encryption keys.
TEST(Idea, EveryPathMatchesLibgcryptOnZeroAndExtremeWords) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    std::vector<std::vector<std::uint8_t>> keys = {std::vector<std::uint8_t>(16, 0), test::RandomBytes(16, 43)};
    keys.push_back(keys[1]);
    for (std::size_t i = 0; i < 16; i += 4) keys[2][i] = keys[2][i + 1] = 0;  // zero words among the subkeys
    auto data = test::RandomBytes(8 * 53, 44);
    const std::uint16_t extremes[] = {0x0000, 0x0001, 0xFFFF, 0x8000};
    for (std::size_t w = 0; w < data.size() / 2; w += 3) data[2 * w] = data[2 * w + 1] = 0;
    for (std::size_t w = 1; w < data.size() / 2; w += 5) {
        data[2 * w] = static_cast<std::uint8_t>(extremes[w % 4] >> 8);
        data[2 * w + 1] = static_cast<std::uint8_t>(extremes[w % 4]);
    }
    const std::vector<std::uint8_t> iv(8, 0x5A);
    const auto paths = test::CpuPathsOf([] { return TKC_idea().Provider(); });
    for (const auto& key : keys) {
        for (const int mode : {GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_MODE_CFB}) {
            gcry_cipher_hd_t handle;
            ASSERT_EQ(gcry_cipher_open(&handle, GCRY_CIPHER_IDEA, mode, 0), 0u);
            ASSERT_EQ(gcry_cipher_setkey(handle, key.data(), key.size()), 0u);
            ASSERT_EQ(gcry_cipher_setiv(handle, iv.data(), iv.size()), 0u);
            std::vector<std::uint8_t> expected(data.size());
            ASSERT_EQ(gcry_cipher_decrypt(handle, expected.data(), expected.size(), data.data(), data.size()), 0u);
            gcry_cipher_close(handle);
            for (const auto& path : paths) {
                const CpuFeatures::Restriction only(path.allowed);
                for (const std::size_t cut : {std::size_t{0}, std::size_t{8 * 3}, std::size_t{8 * 17}}) {
                    TKC_idea ours;
                    ours.CipherMode = mode == GCRY_CIPHER_MODE_CBC ? TKC_ciphermode::cmCBC : TKC_ciphermode::cmCFBblock;
                    ours.Init(key, 128, iv);
                    std::vector<std::uint8_t> plain = data;
                    ours.Decrypt(ConstBytes(plain).first(cut), Bytes(plain).first(cut));
                    ours.Decrypt(ConstBytes(plain).subspan(cut), Bytes(plain).subspan(cut));
                    EXPECT_EQ(test::ToHex(plain), test::ToHex(expected))
                        << path.provider << ", mode " << mode << ", cut " << cut;
                }
            }
        }
    }
}

template <typename Cipher>
void ExpectNibbleKeyRefused() {
    Cipher cipher;
    const std::vector<std::uint8_t> key(16, 0x5A);
    cipher.Init(key, 64);
    try {
        cipher.Init(key, 4);
        FAIL() << Cipher::ClassAlgorithm << " accepted a 4-bit key";
    } catch (const EKC_cipher& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(cipher.IsInitialized());
    Block8 block{};
    EXPECT_THROW(cipher.EncryptBlock(block, block), EKC_blockcipher);
    // Password keys are whole bytes; the smallest, and a trailing nibble
    // after it, still work.
    cipher.Init(key, 8);
    Block8 one{}, two{};
    cipher.EncryptBlock(one, one);
    cipher.Init(key, 12);
    cipher.EncryptBlock(two, two);
    EXPECT_EQ(one, two);
}

TEST(Rc2, FourBitKeyIsAnInvalidKeySize) { ExpectNibbleKeyRefused<TKC_rc2>(); }
TEST(Rc5, FourBitKeyIsAnInvalidKeySize) { ExpectNibbleKeyRefused<TKC_rc5>(); }

TEST(Rc5, KeyOf132BitsUsesItsSixteenWholeBytes) {
    const auto key = test::RandomBytes(17, 51);
    const auto data = test::RandomBytes(40, 52);
    TKC_rc5 a, b;
    a.Init(key, 128);
    b.Init(key, 132);
    std::vector<std::uint8_t> x = data, y = data;
    a.Encrypt(x, x);
    b.Encrypt(y, y);
    EXPECT_EQ(x, y);
}

}  // namespace
}  // namespace kestrune
