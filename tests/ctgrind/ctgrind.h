// What the constant-time programs share: marking secrets undefined for
// Valgrind's memcheck (a branch or a memory address that depends on them is
// then reported as the use of an uninitialised value), counting failures,
// and the round trip of every mode. The marks cost nothing outside
// Valgrind, where the programs still check their answers.
#pragma once

#include <valgrind/memcheck.h>

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "framework/KCblockciphers.h"

namespace kestrune::ctgrind {

template <typename T>
void MarkSecret(T& bytes) {
    VALGRIND_MAKE_MEM_UNDEFINED(bytes.data(), bytes.size());
}

// Only for comparing results: declassified after the work is done.
template <typename T>
void MarkPublic(T& bytes) {
    VALGRIND_MAKE_MEM_DEFINED(bytes.data(), bytes.size());
}

inline int failures = 0;

inline void Expect(bool ok, const char* what, std::string_view path, std::uint32_t keyBits, int mode) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s, path %.*s, %u-bit key, mode %d\n", what, static_cast<int>(path.size()),
                 path.data(), keyBits, mode);
    ++failures;
}

// Every mode both ways for each key size, over a length of blocks plus a
// partial one; once with an initial vector (its counter carrying into byte
// 13) and once with the one derived from the key.
template <typename Cipher>
void Modes(std::string_view path, std::initializer_list<std::uint32_t> keySizes, std::size_t blocks) {
    for (const std::uint32_t keyBits : keySizes) {
        for (int mode = 0; mode <= static_cast<int>(TKC_ciphermode::cmCTR); ++mode) {
            for (const bool withIv : {true, false}) {
                std::vector<std::uint8_t> key(keyBits / 8), plain(16 * blocks + 5), sealed(plain.size()),
                    opened(plain.size());
                for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x5A ^ (7 * i));
                for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
                std::array<std::uint8_t, 16> iv{};
                iv[15] = 0xFE, iv[14] = 0xFF;
                const auto original = plain;
                MarkSecret(key), MarkSecret(plain);

                Cipher cipher;
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

}  // namespace kestrune::ctgrind
