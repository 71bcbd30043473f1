// Rijndael's two block paths, the processor's AES instructions and the
// portable tables, against each other and against OpenSSL's AES.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

#include "ciphers/KCrijndael.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

// Keys new instances with the portable tables for the life of the guard.
class PortableOnly {
public:
    PortableOnly() { TKC_rijndael::AllowHardware(false); }
    ~PortableOnly() { TKC_rijndael::AllowHardware(true); }
};

std::vector<std::uint8_t> OpenSslEcb(const std::vector<std::uint8_t>& key, const std::vector<std::uint8_t>& in,
                                     bool encrypting) {
    const EVP_CIPHER* type = key.size() == 16 ? EVP_aes_128_ecb() : key.size() == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), type, nullptr, key.data(), nullptr, encrypting ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::vector<std::uint8_t> out(in.size());
    int len = 0;
    EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size()));
    return out;
}

TEST(RijndaelPaths, PortableTablesMatchPublishedValues) {
    const PortableOnly portable;
    TKC_rijndael cipher;
    for (const auto& rec : test::RecordsFor("rijndael.vec", "Rijndael")) {
        const auto key = rec.Bytes("Key");
        std::array<std::uint8_t, 16> block;
        const auto plain = rec.Bytes("In");
        std::copy(plain.begin(), plain.end(), block.begin());
        cipher.Init(key, static_cast<std::uint32_t>(key.size() * 8));
        cipher.EncryptBlock(block, block);
        EXPECT_EQ(test::ToHex({block.begin(), block.end()}), rec.fields.at("Out")) << rec.Where();
        cipher.DecryptBlock(block, block);
        EXPECT_EQ(test::ToHex({block.begin(), block.end()}), rec.fields.at("In")) << rec.Where();
    }
}

// Many blocks at once: the hardware path works eight at a time and then one
// by one; the modes hand over runs of up to 32 blocks. Counter mode from an
// all-zero initial vector is ECB of the counters, which OpenSSL computes.
TEST(RijndaelPaths, BothPathsMatchOpenSslOverManyBlocks) {
    for (std::size_t keyBytes : {16u, 24u, 32u}) {
        std::vector<std::uint8_t> key(keyBytes);
        for (std::size_t i = 0; i < keyBytes; ++i) key[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 11));
        for (std::size_t blocks : {1u, 7u, 8u, 9u, 33u, 100u}) {
            std::vector<std::uint8_t> counters(16 * blocks, 0);
            for (std::size_t b = 0; b < blocks; ++b) {
                counters[16 * b + 15] = static_cast<std::uint8_t>(b);
                counters[16 * b + 14] = static_cast<std::uint8_t>(b >> 8);
            }
            const auto keystream = OpenSslEcb(key, counters, true);
            for (bool hardware : {true, false}) {
                TKC_rijndael::AllowHardware(hardware);
                TKC_rijndael cipher;
                cipher.CipherMode = TKC_ciphermode::cmCTR;
                cipher.Init(key, static_cast<std::uint32_t>(keyBytes * 8), std::array<std::uint8_t, 16>{});
                std::vector<std::uint8_t> data(16 * blocks, 0);
                cipher.Encrypt(data, data);
                EXPECT_EQ(test::ToHex(data), test::ToHex(keystream)) << keyBytes << " " << blocks << " " << hardware;
                // CBC decryption runs the inverse cipher over whole runs.
                const auto cbcPlain = OpenSslEcb(key, keystream, false);
                cipher.CipherMode = TKC_ciphermode::cmCBC;
                cipher.SetIV(std::array<std::uint8_t, 16>{});
                std::vector<std::uint8_t> decrypted = keystream;
                cipher.Decrypt(decrypted, decrypted);
                for (std::size_t i = 16; i < decrypted.size(); ++i) decrypted[i] ^= keystream[i - 16];
                EXPECT_EQ(test::ToHex(decrypted), test::ToHex(cbcPlain)) << keyBytes << " " << blocks << " " << hardware;
            }
            TKC_rijndael::AllowHardware(true);
        }
    }
}

TEST(RijndaelPaths, HardwareAndPortableInstancesInteroperate) {
    std::vector<std::uint8_t> key(32, 0x42), data(16 * 41 + 5);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    TKC_rijndael hardware;
    hardware.Init(key, 256);
    std::vector<std::uint8_t> buffer = data;
    hardware.Encrypt(buffer, buffer);
    const PortableOnly portableOnly;
    TKC_rijndael portable;
    portable.Init(key, 256);
    portable.Decrypt(buffer, buffer);
    EXPECT_EQ(buffer, data);
}

}  // namespace
}  // namespace kestrune
