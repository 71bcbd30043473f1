// Runs the portable Rijndael path with the key and the data marked as
// undefined for Valgrind's memcheck: a branch or a memory address that
// depends on them is then reported as the use of an uninitialised value.
// The marks cost nothing outside Valgrind, where the program still checks a
// known answer and that every mode's decryption restores its input.
// The cipher class is driven directly, so that only its code and the modes
// see the secrets.
#include <valgrind/memcheck.h>

#include <array>
#include <cstdio>
#include <vector>

#include "ciphers/KCrijndael.h"
#include "framework/KCcpufeatures.h"

namespace {

using namespace kestrune;

template <typename T>
void MarkSecret(T& bytes) {
    VALGRIND_MAKE_MEM_UNDEFINED(bytes.data(), bytes.size());
}

// Only for comparing results: declassified after the work is done.
template <typename T>
void MarkPublic(T& bytes) {
    VALGRIND_MAKE_MEM_DEFINED(bytes.data(), bytes.size());
}

int failures = 0;

void Expect(bool ok, const char* what, std::uint32_t keyBits, int mode) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s, %u-bit key, mode %d\n", what, keyBits, mode);
    ++failures;
}

// FIPS-197 appendix C.1, encrypted and decrypted with the secrets marked.
void KnownAnswer() {
    std::array<std::uint8_t, 16> key, block;
    for (std::size_t i = 0; i < 16; ++i) key[i] = static_cast<std::uint8_t>(i), block[i] = static_cast<std::uint8_t>(0x11 * i);
    const std::array<std::uint8_t, 16> expected{0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                                0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
    const auto plain = block;
    MarkSecret(key), MarkSecret(block);
    TKC_rijndael cipher;
    cipher.Init(key, 128);
    cipher.EncryptBlock(block, block);
    auto encrypted = block;
    MarkPublic(encrypted);
    Expect(encrypted == expected, "known answer", 128, -1);
    cipher.DecryptBlock(block, block);
    MarkPublic(block);
    Expect(block == plain, "known answer decrypted", 128, -1);
}

// Every key size and mode, both directions, over a length that cuts the
// four-block groups and ends in a partial block; once with an initial
// vector and once with the one derived from the key.
void Modes() {
    for (const std::uint32_t keyBits : {128u, 192u, 256u}) {
        for (int mode = 0; mode <= static_cast<int>(TKC_ciphermode::cmCTR); ++mode) {
            for (const bool withIv : {true, false}) {
                std::vector<std::uint8_t> key(keyBits / 8), plain(16 * 9 + 5), sealed(plain.size()), opened(plain.size());
                for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5A ^ (7 * i));
                for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
                std::array<std::uint8_t, 16> iv{};
                iv[15] = 0xFE, iv[14] = 0xFF;  // the counter carries into byte 13
                const auto original = plain;
                MarkSecret(key), MarkSecret(plain);

                TKC_rijndael cipher;
                cipher.CipherMode = static_cast<TKC_ciphermode>(mode);
                withIv ? cipher.Init(key, keyBits, iv) : cipher.Init(key, keyBits);
                cipher.Encrypt(plain, sealed);
                cipher.Reset();
                cipher.Decrypt(sealed, opened);
                MarkPublic(opened);
                Expect(opened == original, "round trip", keyBits, mode);
                MarkPublic(key), MarkPublic(plain), MarkPublic(sealed);
            }
        }
    }
}

}  // namespace

int main() {
    // The environment asks for the portable path too; this makes sure of it.
    const CpuFeatures::Restriction portable(CpuFeatures::None);
    if (TKC_rijndael().Provider() != "portable") {
        std::fprintf(stderr, "the portable path is not the one taken\n");
        return 1;
    }
    KnownAnswer();
    Modes();
    return failures == 0 ? 0 : 1;
}
