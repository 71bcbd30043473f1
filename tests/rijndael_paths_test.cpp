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

std::vector<std::uint8_t> OpenSslMode(const EVP_CIPHER* type, const std::vector<std::uint8_t>& key,
                                      const std::array<std::uint8_t, 16>& iv, const std::vector<std::uint8_t>& in,
                                      bool encrypting) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), type, nullptr, key.data(), iv.data(), encrypting ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::vector<std::uint8_t> out(in.size());
    int len = 0;
    EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size()));
    return out;
}

// CBC both ways and CTR, each path against OpenSSL, with the input cut into
// calls of whole blocks (so the chain crosses calls at every offset within
// the eight-block groups) plus a partial block at the end, in place and
// into a separate buffer. The partial block of CBC is E(last ciphertext).
TEST(RijndaelPaths, ChainedModesMatchOpenSslAcrossCalls) {
    const std::size_t cuts[][4] = {{0, 0, 0, 0}, {1, 0, 0, 0}, {7, 9, 0, 3}, {8, 8, 17, 15}, {3, 16, 1, 1},
                                   {33, 0, 2, 0}, {0, 5, 0, 16}};
    std::array<std::uint8_t, 16> iv;
    for (std::size_t i = 0; i < 16; ++i) iv[i] = static_cast<std::uint8_t>(0xF0 + i * 7);
    for (std::size_t keyBytes : {16u, 24u, 32u}) {
        std::vector<std::uint8_t> key(keyBytes);
        for (std::size_t i = 0; i < keyBytes; ++i) key[i] = static_cast<std::uint8_t>(0x3C ^ (i * 29));
        const bool cbcOf256 = keyBytes == 32, cbcOf192 = keyBytes == 24;
        const EVP_CIPHER* cbc = cbcOf256 ? EVP_aes_256_cbc() : cbcOf192 ? EVP_aes_192_cbc() : EVP_aes_128_cbc();
        const EVP_CIPHER* ctr = cbcOf256 ? EVP_aes_256_ctr() : cbcOf192 ? EVP_aes_192_ctr() : EVP_aes_128_ctr();
        for (const auto& cut : cuts) {
            // Whole blocks per call, then the partial block's length.
            const std::size_t blocks = cut[0] + cut[1] + cut[2], tail = cut[3] % 16;
            std::vector<std::uint8_t> plain(16 * blocks + tail);
            for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 13 + keyBytes);
            const std::vector<std::uint8_t> whole(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(16 * blocks));

            auto cbcExpected = OpenSslMode(cbc, key, iv, whole, true);
            std::vector<std::uint8_t> last(iv.begin(), iv.end());
            if (blocks > 0) last.assign(cbcExpected.end() - 16, cbcExpected.end());
            const auto pad = OpenSslEcb(key, last, true);
            for (std::size_t i = 0; i < tail; ++i) cbcExpected.push_back(plain[16 * blocks + i] ^ pad[i]);
            const auto ctrExpected = OpenSslMode(ctr, key, iv, plain, true);

            for (bool hardware : {true, false}) {
                for (bool inPlace : {true, false}) {
                    TKC_rijndael::AllowHardware(hardware);
                    TKC_rijndael cipher;
                    cipher.Init(key, static_cast<std::uint32_t>(keyBytes * 8), iv);
                    TKC_rijndael::AllowHardware(true);
                    const auto run = [&](TKC_ciphermode mode, bool encrypting, const std::vector<std::uint8_t>& in) {
                        cipher.CipherMode = mode;
                        cipher.Reset();
                        std::vector<std::uint8_t> out = inPlace ? in : std::vector<std::uint8_t>(in.size(), 0xEE);
                        std::size_t off = 0;
                        for (std::size_t n : {16 * cut[0], 16 * cut[1], 16 * cut[2], tail}) {
                            const auto source = ConstBytes(inPlace ? out : in).subspan(off, n);
                            const auto dest = Bytes(out).subspan(off, n);
                            encrypting ? cipher.Encrypt(source, dest) : cipher.Decrypt(source, dest);
                            off += n;
                        }
                        return out;
                    };
                    const std::string where = std::to_string(keyBytes) + " bytes, " + std::to_string(blocks) + "+" +
                                              std::to_string(tail) + (hardware ? ", hardware" : ", portable") +
                                              (inPlace ? ", in place" : "");
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCBC, true, plain)), test::ToHex(cbcExpected)) << where;
                    EXPECT_EQ(run(TKC_ciphermode::cmCBC, false, cbcExpected), plain) << "CBC decrypting, " << where;
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCTR, true, plain)), test::ToHex(ctrExpected)) << where;
                }
            }
        }
    }
}

// The hardware counter adds in a register while the low 64 bits cannot
// carry within eight blocks and steps one by one otherwise: starts on both
// sides of that edge, and at the top where the whole counter wraps.
TEST(RijndaelPaths, CounterCarriesLikeOpenSslOnBothPaths) {
    const std::vector<std::uint8_t> key(16, 0x77);
    std::vector<std::uint8_t> plain(16 * 27 + 9);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i);
    for (std::uint8_t lowEnd : {0xE0, 0xF0, 0xF5, 0xF7, 0xF8, 0xF9, 0xFF}) {
        for (bool allOnes : {false, true}) {
            std::array<std::uint8_t, 16> start;
            start.fill(allOnes ? 0xFF : 0x00);
            std::fill(start.begin() + 8, start.end(), 0xFF);
            start[15] = lowEnd;
            // OpenSSL's counter wraps at 2^128 as ours does.
            const auto expected = OpenSslMode(EVP_aes_128_ctr(), key, start, plain, true);
            for (bool hardware : {true, false}) {
                TKC_rijndael::AllowHardware(hardware);
                TKC_rijndael cipher;
                cipher.CipherMode = TKC_ciphermode::cmCTR;
                cipher.Init(key, 128, start);
                TKC_rijndael::AllowHardware(true);
                std::vector<std::uint8_t> data = plain;
                cipher.Encrypt(data, data);
                EXPECT_EQ(test::ToHex(data), test::ToHex(expected)) << int(lowEnd) << " " << allOnes << " " << hardware;
            }
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
