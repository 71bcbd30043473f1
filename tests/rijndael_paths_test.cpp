// Rijndael's block paths (the processor's AES instructions and the portable
// bitsliced one) in the fused modes against OpenSSL's AES, across calls and at the
// counter's carries. The published values and the agreement of the paths
// in every mode are checked with the other block ciphers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "ciphers/KCrijndael.h"
#include "tests/cpu_paths.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

const std::vector<test::CpuPath>& Paths() {
    static const auto paths = test::CpuPathsOf([] { return TKC_rijndael().Provider(); });
    return paths;
}

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

// Many blocks at once: the hardware paths work 24, 16 or eight at a time and
// then one by one; the modes hand over the whole run. Counter mode from an
// all-zero initial vector is ECB of the counters, which OpenSSL computes.
TEST(RijndaelPaths, BothPathsMatchOpenSslOverManyBlocks) {
    for (std::size_t keyBytes : {16u, 24u, 32u}) {
        std::vector<std::uint8_t> key(keyBytes);
        for (std::size_t i = 0; i < keyBytes; ++i) key[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 11));
        for (std::size_t blocks : {1u, 7u, 8u, 9u, 33u, 40u, 100u}) {
            std::vector<std::uint8_t> counters(16 * blocks, 0);
            for (std::size_t b = 0; b < blocks; ++b) {
                counters[16 * b + 15] = static_cast<std::uint8_t>(b);
                counters[16 * b + 14] = static_cast<std::uint8_t>(b >> 8);
            }
            const auto keystream = OpenSslEcb(key, counters, true);
            for (const auto& path : Paths()) {
                const CpuFeatures::Restriction only(path.allowed);
                TKC_rijndael cipher;
                cipher.CipherMode = TKC_ciphermode::cmCTR;
                cipher.Init(key, static_cast<std::uint32_t>(keyBytes * 8), std::array<std::uint8_t, 16>{});
                std::vector<std::uint8_t> data(16 * blocks, 0);
                cipher.Encrypt(data, data);
                EXPECT_EQ(test::ToHex(data), test::ToHex(keystream)) << keyBytes << " " << blocks << " " << path.provider;
                // CBC decryption runs the inverse cipher over whole runs.
                const auto cbcPlain = OpenSslEcb(key, keystream, false);
                cipher.CipherMode = TKC_ciphermode::cmCBC;
                cipher.SetIV(std::array<std::uint8_t, 16>{});
                std::vector<std::uint8_t> decrypted = keystream;
                cipher.Decrypt(decrypted, decrypted);
                for (std::size_t i = 16; i < decrypted.size(); ++i) decrypted[i] ^= keystream[i - 16];
                EXPECT_EQ(test::ToHex(decrypted), test::ToHex(cbcPlain))
                    << keyBytes << " " << blocks << " " << path.provider;
            }
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

// CBC, CTR, CFB-8, CFB and OFB on each path against OpenSSL, with the input cut
// into calls of whole blocks (so the chain crosses calls at every offset
// within the eight-block groups and CFB-8's runs of bytes) plus a partial
// block at the end, in place and into a separate buffer. The partial block
// of CBC is E(last ciphertext).
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
        const EVP_CIPHER* cfb8 = cbcOf256 ? EVP_aes_256_cfb8() : cbcOf192 ? EVP_aes_192_cfb8() : EVP_aes_128_cfb8();
        const EVP_CIPHER* cfb = cbcOf256 ? EVP_aes_256_cfb128() : cbcOf192 ? EVP_aes_192_cfb128() : EVP_aes_128_cfb128();
        const EVP_CIPHER* ofb = cbcOf256 ? EVP_aes_256_ofb() : cbcOf192 ? EVP_aes_192_ofb() : EVP_aes_128_ofb();
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
            const auto cfb8Expected = OpenSslMode(cfb8, key, iv, plain, true);
            const auto cfbExpected = OpenSslMode(cfb, key, iv, plain, true);
            const auto ofbExpected = OpenSslMode(ofb, key, iv, plain, true);

            for (const auto& path : Paths()) {
                for (bool inPlace : {true, false}) {
                    TKC_rijndael cipher;
                    {
                        const CpuFeatures::Restriction only(path.allowed);
                        cipher.Init(key, static_cast<std::uint32_t>(keyBytes * 8), iv);
                    }
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
                                              std::to_string(tail) + ", " + path.provider +
                                              (inPlace ? ", in place" : "");
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCBC, true, plain)), test::ToHex(cbcExpected)) << where;
                    EXPECT_EQ(run(TKC_ciphermode::cmCBC, false, cbcExpected), plain) << "CBC decrypting, " << where;
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCTR, true, plain)), test::ToHex(ctrExpected)) << where;
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCFB8bit, true, plain)), test::ToHex(cfb8Expected)) << where;
                    EXPECT_EQ(run(TKC_ciphermode::cmCFB8bit, false, cfb8Expected), plain) << "CFB-8 decrypting, " << where;
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmCFBblock, true, plain)), test::ToHex(cfbExpected)) << where;
                    EXPECT_EQ(run(TKC_ciphermode::cmCFBblock, false, cfbExpected), plain) << "CFB decrypting, " << where;
                    EXPECT_EQ(test::ToHex(run(TKC_ciphermode::cmOFB, true, plain)), test::ToHex(ofbExpected)) << where;
                }
            }
        }
    }
}

// The hardware counter adds in a register while the low 64 bits cannot
// carry within a group of eight or sixteen blocks and steps one by one
// otherwise: starts on both sides of those edges, several wide groups before
// the carry and after it, and at the top where the whole counter wraps.
TEST(RijndaelPaths, CounterCarriesLikeOpenSslOnBothPaths) {
    const std::vector<std::uint8_t> key(16, 0x77);
    std::vector<std::uint8_t> plain(16 * 75 + 9);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i);
    for (std::uint8_t lowEnd : {0xC0, 0xE0, 0xEF, 0xF0, 0xF1, 0xF5, 0xF7, 0xF8, 0xF9, 0xFF}) {
        for (bool allOnes : {false, true}) {
            std::array<std::uint8_t, 16> start;
            start.fill(allOnes ? 0xFF : 0x00);
            std::fill(start.begin() + 8, start.end(), 0xFF);
            start[15] = lowEnd;
            // OpenSSL's counter wraps at 2^128 as ours does.
            const auto expected = OpenSslMode(EVP_aes_128_ctr(), key, start, plain, true);
            for (const auto& path : Paths()) {
                TKC_rijndael cipher;
                cipher.CipherMode = TKC_ciphermode::cmCTR;
                {
                    const CpuFeatures::Restriction only(path.allowed);
                    cipher.Init(key, 128, start);
                }
                std::vector<std::uint8_t> data = plain;
                cipher.Encrypt(data, data);
                EXPECT_EQ(test::ToHex(data), test::ToHex(expected)) << int(lowEnd) << " " << allOnes << " " << path.provider;
            }
        }
    }
}

// An instance keeps the path it was keyed with, whatever is allowed later.
TEST(RijndaelPaths, InstancesKeepTheirPathAndInteroperate) {
    std::vector<std::uint8_t> key(32, 0x42), data(16 * 41 + 5);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    TKC_rijndael best;
    best.Init(key, 256);
    const std::string bestPath(best.Provider());
    std::vector<std::uint8_t> buffer = data;
    const CpuFeatures::Restriction portableOnly(CpuFeatures::None);
    EXPECT_EQ(best.Provider(), bestPath);
    best.Encrypt(buffer, buffer);
    TKC_rijndael portable;
    portable.Init(key, 256);
    EXPECT_EQ(portable.Provider(), "portable");
    portable.Decrypt(buffer, buffer);
    EXPECT_EQ(buffer, data);
}

// Keying an instance again on another path uses only the new schedule,
// whichever path and key size came before.
TEST(RijndaelPaths, RekeyingMovesAnInstanceBetweenPaths) {
    const std::vector<std::uint8_t> first(24, 0x11), second(16, 0x22), plain(16, 0x5C);
    const auto expected = OpenSslEcb(second, plain, true);
    for (const auto& before : Paths()) {
        for (const auto& after : Paths()) {
            TKC_rijndael cipher;
            {
                const CpuFeatures::Restriction only(before.allowed);
                cipher.Init(first, 192);
            }
            const CpuFeatures::Restriction only(after.allowed);
            cipher.Init(second, 128);
            std::vector<std::uint8_t> block = plain;
            cipher.EncryptBlock(block, block);
            EXPECT_EQ(test::ToHex(block), test::ToHex(expected)) << before.provider << " then " << after.provider;
            cipher.DecryptBlock(block, block);
            EXPECT_EQ(block, plain) << before.provider << " then " << after.provider;
        }
    }
}

// Each keying's round keys are wiped as far as it wrote them, also when
// ExpandKey builds a shorter schedule over a longer one, on the same path or
// another: once the instance is gone, neither key is left in its memory (on
// the hardware paths both halves of a 256-bit key are round keys in full).
TEST(RijndaelPaths, NoKeyOutlivesTheInstance) {
    std::vector<std::uint8_t> first(32), second(16, 0x3C);
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<std::uint8_t>(0x80 + 7 * i);
    const ConstBytes keys[] = {ConstBytes(first).first(16), ConstBytes(first).subspan(16), second};
    for (const auto& before : Paths()) {
        for (const auto& after : Paths()) {
            alignas(TKC_rijndael) std::array<std::uint8_t, sizeof(TKC_rijndael)> storage;
            storage.fill(0xA5);
            auto* cipher = std::construct_at(reinterpret_cast<TKC_rijndael*>(storage.data()));
            {
                const CpuFeatures::Restriction only(before.allowed);
                cipher->Init(first, 256);
            }
            {
                const CpuFeatures::Restriction only(after.allowed);
                cipher->ExpandKey(second, 128);
            }
            std::destroy_at(cipher);
            for (const auto key : keys)
                EXPECT_EQ(std::search(storage.begin(), storage.end(), key.begin(), key.end()), storage.end())
                    << before.provider << " then " << after.provider;
        }
    }
}

}  // namespace
}  // namespace kestrune
