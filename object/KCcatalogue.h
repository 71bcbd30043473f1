// The two catalogues: a selection code becomes a digest or a cipher class.
// Codes outside the table select the default row (MD5, Blowfish).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "../framework/KCcrypt.h"

namespace kestrune {

struct TKC_digestrow {
    std::int32_t code;
    std::string_view name;
    const TKC_hashclass* digestClass;  // null while the algorithm is not built
};

struct TKC_cipherrow {
    std::int32_t code;
    std::string_view name;
    const TKC_cipherclass* cipherClass;  // null while the algorithm is not built
};

// Rows in code order; the last is the default row, listed with code 0.
std::span<const TKC_digestrow> DigestCatalogue() noexcept;
std::span<const TKC_cipherrow> CipherCatalogue() noexcept;

// Raise EKestrune for a row whose algorithm is not built, rather than
// silently using another algorithm.
const TKC_hashclass& DigestClassFor(std::int32_t code);
const TKC_cipherclass& CipherClassFor(std::int32_t code);
std::unique_ptr<TKC_cipher> CreateCipherFor(std::int32_t code);

}  // namespace kestrune
