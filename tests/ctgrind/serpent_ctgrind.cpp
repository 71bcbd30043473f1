// Runs every Serpent path this processor has with the key and the data
// marked as undefined for Valgrind's memcheck: a branch or a memory address
// that depends on them is then reported as the use of an uninitialised
// value. The marks cost nothing outside Valgrind, where the program still
// checks a known answer and that every mode's decryption restores its input.
#include <valgrind/memcheck.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "ciphers/KCserpent.h"
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

void Expect(bool ok, const char* what, std::string_view path, std::uint32_t keyBits, int mode) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s, path %.*s, %u-bit key, mode %d\n", what, static_cast<int>(path.size()),
                 path.data(), keyBits, mode);
    ++failures;
}

// NESSIE Serpent-128 set 1, vector 0, with the secrets marked.
void KnownAnswer(std::string_view path) {
    std::array<std::uint8_t, 16> key{0x80}, block{};
    const std::array<std::uint8_t, 16> expected{0x26, 0x4E, 0x54, 0x81, 0xEF, 0xF4, 0x2A, 0x46,
                                                0x06, 0xAB, 0xDA, 0x06, 0xC0, 0xBF, 0xDA, 0x3D};
    MarkSecret(key), MarkSecret(block);
    TKC_serpent cipher;
    cipher.Init(key, 128);
    cipher.EncryptBlock(block, block);
    auto encrypted = block;
    MarkPublic(encrypted);
    Expect(encrypted == expected, "known answer", path, 128, -1);
    cipher.DecryptBlock(block, block);
    MarkPublic(block);
    Expect(block == std::array<std::uint8_t, 16>{}, "known answer decrypted", path, 128, -1);
}

// Every mode both ways over a length that takes two groups of sixteen
// blocks, a set of eight, a set of four and single blocks and ends in a
// partial block; once with an initial vector and once with the one derived
// from the key.
void Modes(std::string_view path) {
    for (const std::uint32_t keyBits : {128u, 256u}) {
        for (int mode = 0; mode <= static_cast<int>(TKC_ciphermode::cmCTR); ++mode) {
            for (const bool withIv : {true, false}) {
                std::vector<std::uint8_t> key(keyBits / 8), plain(16 * 47 + 5), sealed(plain.size()), opened(plain.size());
                for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5A ^ (7 * i));
                for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
                std::array<std::uint8_t, 16> iv{};
                iv[15] = 0xFE, iv[14] = 0xFF;  // the counter carries into byte 13
                const auto original = plain;
                MarkSecret(key), MarkSecret(plain);

                TKC_serpent cipher;
                cipher.CipherMode = static_cast<TKC_ciphermode>(mode);
                withIv ? cipher.Init(key, keyBits, iv) : cipher.Init(key, keyBits);
                cipher.Encrypt(plain, sealed);
                cipher.Reset();
                cipher.Decrypt(sealed, opened);
                MarkPublic(opened);
                Expect(opened == original, "round trip", path, keyBits, mode);
                MarkPublic(key), MarkPublic(plain), MarkPublic(sealed);
            }
        }
    }
}

}  // namespace

int main() {
    // All features, then without AVX2, then none: the AVX2, SSE2 and
    // portable paths where the processor has them.
    for (const auto allowed : {~CpuFeatures::None, ~CpuFeatures::Of(CpuFeature::Avx2), CpuFeatures::None}) {
        const CpuFeatures::Restriction only(allowed);
        const std::string path(TKC_serpent().Provider());
        KnownAnswer(path);
        Modes(path);
    }
    return failures == 0 ? 0 : 1;
}
