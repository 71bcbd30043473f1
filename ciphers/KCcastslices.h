// The round of CAST-128 and CAST-256 (the same S-boxes and round types)
// for sixty-four words byte-sliced in AVX-512 registers: each S-box is four
// tables of 256 bytes, byte j of its entries, looked up by byte permutes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "KCbyteslices.h"
#include "KCcast128_tables.inc"

#if defined(KESTRUNE_WORD_LANES)
namespace kestrune::castslices {

using slices::V;
using slices::Word16;

struct ByteTables {
    alignas(64) std::array<std::array<std::array<std::uint8_t, 256>, 4>, 4> box;  // [S-box][byte]
};
inline constexpr ByteTables Boxes = [] {
    const std::array<const std::array<std::uint32_t, 256>*, 4> s = {&tables::Cast128S1, &tables::Cast128S2,
                                                                   &tables::Cast128S3, &tables::Cast128S4};
    ByteTables t{};
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            for (std::size_t x = 0; x < 256; ++x) t.box[i][j][x] = static_cast<std::uint8_t>((*s[i])[x] >> (8 * j));
    return t;
}();

#define KC_CAST_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

// S-box i of the bytes in x, as words.
KC_CAST_INLINE void LookUp(std::size_t i, const V& x, Word16 (&out)[4]) noexcept {
    slices::LookUpWords(Boxes.box[i][0].data(), x, out);
}

// x ^= f(y) for sixty-four words, f of the given type (1, 2 or 3) with
// masking key km and rotation kr (0 to 31): I = (km op y) <<< kr, and S1 to
// S4 take I's bytes from the most significant.
template <int Type>
KC_CAST_INLINE void Round(Word16 (&x)[4], const Word16 (&y)[4], std::uint32_t km, std::uint32_t kr) noexcept {
    Word16 in[4];
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        const Word16 t = Type == 1 ? km + y[g] : Type == 2 ? km ^ y[g] : km - y[g];
        in[g] = (t << kr) | (t >> ((32 - kr) & 31));
    }
    V b[4];
    slices::ToBytes(in, b);
    Word16 s1[4], s2[4], s3[4], s4[4];
    LookUp(0, b[3], s1), LookUp(1, b[2], s2), LookUp(2, b[1], s3), LookUp(3, b[0], s4);
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        if constexpr (Type == 1)
            x[g] ^= ((s1[g] ^ s2[g]) - s3[g]) + s4[g];
        else if constexpr (Type == 2)
            x[g] ^= ((s1[g] - s2[g]) + s3[g]) ^ s4[g];
        else
            x[g] ^= ((s1[g] + s2[g]) ^ s3[g]) - s4[g];
    }
}

#undef KC_CAST_INLINE

}  // namespace kestrune::castslices
#endif
