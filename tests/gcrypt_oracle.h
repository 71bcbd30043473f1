// A libgcrypt cipher over data in one of its modes: the independent answer
// the oracle tests of the block ciphers compare every mode with.
#pragma once

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/KCblockciphers.h"
#include "tests/block_oracle.h"

namespace kestrune::test {

// Our modes and libgcrypt's names for them.
struct GcryptMode {
    TKC_ciphermode ours;
    int theirs;
};
inline constexpr GcryptMode GcryptModes[] = {{TKC_ciphermode::cmCBC, GCRY_CIPHER_MODE_CBC},
                                             {TKC_ciphermode::cmCFBblock, GCRY_CIPHER_MODE_CFB},
                                             {TKC_ciphermode::cmCFB8bit, GCRY_CIPHER_MODE_CFB8},
                                             {TKC_ciphermode::cmOFB, GCRY_CIPHER_MODE_OFB},
                                             {TKC_ciphermode::cmCTR, GCRY_CIPHER_MODE_CTR}};

inline std::vector<std::uint8_t> LibgcryptEncrypt(int algo, int mode, const std::vector<std::uint8_t>& key,
                                                  const std::vector<std::uint8_t>& iv,
                                                  const std::vector<std::uint8_t>& data) {
    using Handle = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, decltype(&gcry_cipher_close)>;
    gcry_cipher_hd_t raw = nullptr;
    EXPECT_EQ(gcry_cipher_open(&raw, algo, mode, 0), 0u);
    const Handle handle(raw, &gcry_cipher_close);
    EXPECT_EQ(gcry_cipher_setkey(raw, key.data(), key.size()), 0u);
    if (mode == GCRY_CIPHER_MODE_CTR)
        EXPECT_EQ(gcry_cipher_setctr(raw, iv.data(), iv.size()), 0u);
    else
        EXPECT_EQ(gcry_cipher_setiv(raw, iv.data(), iv.size()), 0u);
    std::vector<std::uint8_t> out(data.size());
    EXPECT_EQ(gcry_cipher_encrypt(raw, out.data(), out.size(), data.data(), data.size()), 0u);
    return out;
}

// Cipher keyed with the whole key in mode m encrypts data in place in two
// calls cut at `cut` bytes to libgcrypt's answer, and decrypts it back.
template <typename Cipher>
void ExpectLibgcryptAnswer(int algo, const GcryptMode& m, const std::vector<std::uint8_t>& key,
                           const std::vector<std::uint8_t>& iv, const std::vector<std::uint8_t>& data, std::size_t cut,
                           const std::string& where) {
    const auto expected = LibgcryptEncrypt(algo, m.theirs, key, iv, data);
    Cipher ours;
    ours.CipherMode = m.ours;
    ours.Init(key, static_cast<std::uint32_t>(8 * key.size()), iv);
    auto buffer = data;
    ours.Encrypt(ConstBytes(buffer).first(cut), Bytes(buffer).first(cut));
    ours.Encrypt(ConstBytes(buffer).subspan(cut), Bytes(buffer).subspan(cut));
    EXPECT_EQ(ToHex(buffer), ToHex(expected)) << where;
    ours.Reset();
    ours.Decrypt(ConstBytes(buffer).first(cut), Bytes(buffer).first(cut));
    ours.Decrypt(ConstBytes(buffer).subspan(cut), Bytes(buffer).subspan(cut));
    EXPECT_EQ(buffer, data) << where << " decrypting";
}

}  // namespace kestrune::test
