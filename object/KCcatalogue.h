// The algorithm tables, one per family: a row holds everything the object,
// the tool and the tests know of an algorithm, so that adding one is its
// unit, its vectors and one row. The object's two catalogues are these
// tables; codes outside a table select its default row (MD5, Blowfish).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "../framework/KCcrypt.h"

namespace kestrune {

template <typename Class>
struct TKC_catalogrow {
    std::int32_t code;           // selection code; the default row has 0
    std::string_view name;       // catalogue name ("Triple DES")
    std::string_view className;  // "TKC_3des"
    const Class& algorithmClass;
    // Further names the tool accepts for this row, separated by spaces
    // ("aes"), beside the catalogue name, the class name with or without
    // its prefix, the class's algorithm text and the code.
    std::string_view aliases = {};
};

using TKC_digestrow = TKC_catalogrow<TKC_hashclass>;
using TKC_cipherrow = TKC_catalogrow<TKC_cipherclass>;

// Rows in code order; the last is the default row, listed with code 0.
std::span<const TKC_digestrow> DigestCatalogue() noexcept;
std::span<const TKC_cipherrow> CipherCatalogue() noexcept;

// The row for code in a table of that shape; the last row for any code
// that no other row has.
template <typename Class>
constexpr const TKC_catalogrow<Class>& RowFor(std::span<const TKC_catalogrow<Class>> rows, std::int32_t code) noexcept {
    // The default row (code 0, the one most used) and rows in code order
    // from 1 are found at once; the search is for any other order.
    if (!rows.empty() && code == rows.back().code) return rows.back();
    if (code >= 1 && static_cast<std::size_t>(code) < rows.size() && rows[static_cast<std::size_t>(code) - 1].code == code)
        return rows[static_cast<std::size_t>(code) - 1];
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        if (rows[i].code == code) return rows[i];
    return rows.back();
}

// What the lookups rely on: rows exist, the default row comes last with
// code 0, and no code or class (told by its id) appears twice.
template <typename Class>
constexpr bool IsWellFormed(std::span<const TKC_catalogrow<Class>> rows) noexcept {
    if (rows.empty() || rows.back().code != 0) return false;
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = i + 1; j < rows.size(); ++j)
            if (rows[i].code == rows[j].code || rows[i].algorithmClass.id == rows[j].algorithmClass.id) return false;
    return true;
}

const TKC_hashclass& DigestClassFor(std::int32_t code) noexcept;
const TKC_cipherclass& CipherClassFor(std::int32_t code) noexcept;
std::unique_ptr<TKC_cipher> CreateCipherFor(std::int32_t code);

}  // namespace kestrune
