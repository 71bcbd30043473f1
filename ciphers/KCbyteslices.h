// Sixty-four 32-bit words byte-sliced in AVX-512 registers, for the
// ciphers whose rounds look bytes up in tables of 256 entries: the words
// stay in 32-bit lanes for their arithmetic, and for the look-ups they are
// regrouped by byte position, so that one two-table byte permute (VBMI)
// looks up sixty-four bytes in a table held in registers. Nothing is looked
// up in memory by the data. Callers carry KC_SLICES_TARGET (or more) and
// inline everything, as with the word lanes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "KCwordlanes.h"

#if defined(KESTRUNE_WORD_LANES)
#define KC_SLICES_TARGET "avx512f,avx512bw,avx512vbmi"

namespace kestrune::slices {

using lanes::Word16;
using V = __m512i;

// AVX-512 with its byte instructions and VBMI's byte permutes.
inline bool Usable() noexcept {
    return CpuFeatures::Has(CpuFeature::Avx512F, CpuFeature::Avx512BW, CpuFeature::Avx512Vbmi);
}

// The byte permutes between words and byte positions. To bytes, from two
// registers of words (w, w'): bytes 0 then 1 (or 2 then 3) of w's words,
// then of w''s, each run of sixteen in word order. From bytes, to the words
// of one register: byte j from the (j / 2)th source, run j % 2, 16 * which.
constexpr std::array<std::uint8_t, 64> ToBytesIndex(std::size_t firstByte) {
    std::array<std::uint8_t, 64> index{};
    for (std::size_t n = 0; n < 64; ++n)
        index[n] = static_cast<std::uint8_t>(64 * (n / 16 % 2) + 4 * (n % 16) + firstByte + n / 32);
    return index;
}
constexpr std::array<std::uint8_t, 64> ToWordsIndex(std::size_t which) {
    std::array<std::uint8_t, 64> index{};
    for (std::size_t n = 0; n < 64; ++n) {
        const std::size_t word = n / 4, byte = n % 4;
        index[n] = static_cast<std::uint8_t>(64 * (byte / 2) + 32 * (byte % 2) + 16 * which + word);
    }
    return index;
}
alignas(64) inline constexpr std::array<std::uint8_t, 64> ToBytes01 = ToBytesIndex(0), ToBytes23 = ToBytesIndex(2);
alignas(64) inline constexpr std::array<std::uint8_t, 64> ToWords0 = ToWordsIndex(0), ToWords1 = ToWordsIndex(1);

#define KC_SLICES_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

KC_SLICES_INLINE V Load512(const std::uint8_t* p) noexcept { return _mm512_loadu_si512(p); }

// x's bytes through a table of 256 bytes held in four registers.
KC_SLICES_INLINE void Substitute(const V (&table)[4], V& x) noexcept {
    const V low = _mm512_permutex2var_epi8(table[0], x, table[1]);
    const V high = _mm512_permutex2var_epi8(table[2], x, table[3]);
    x = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}
// The same through a table in memory; high marks x's bytes of 128 and over,
// which several tables looked up by the same bytes share.
KC_SLICES_INLINE V Substitute(const std::uint8_t* table, const V& x, __mmask64 high) noexcept {
    const V low = _mm512_permutex2var_epi8(Load512(table), x, Load512(table + 64));
    return _mm512_mask_blend_epi8(high, low, _mm512_permutex2var_epi8(Load512(table + 128), x, Load512(table + 192)));
}

// The first (or last) halves of two registers, a's then b's: generic
// shuffles, as GCC's own reads an undefined vector that -Wmaybe-uninitialized reports.
using Quads = std::uint64_t __attribute__((vector_size(64)));
KC_SLICES_INLINE V FirstHalves(const V& a, const V& b) noexcept {
    return V(__builtin_shufflevector(Quads(a), Quads(b), 0, 1, 2, 3, 8, 9, 10, 11));
}
KC_SLICES_INLINE V LastHalves(const V& a, const V& b) noexcept {
    return V(__builtin_shufflevector(Quads(a), Quads(b), 4, 5, 6, 7, 12, 13, 14, 15));
}

// Four registers of sixteen words to four of sixty-four bytes, byte j of
// every word in register j, the words in the registers' order; ToWords is
// the exact inverse.
KC_SLICES_INLINE void ToBytes(const Word16 (&w)[4], V (&x)[4]) noexcept {
    const V i01 = Load512(ToBytes01.data()), i23 = Load512(ToBytes23.data());
    const V a01 = _mm512_permutex2var_epi8(V(w[0]), i01, V(w[1]));
    const V a23 = _mm512_permutex2var_epi8(V(w[2]), i01, V(w[3]));
    const V b01 = _mm512_permutex2var_epi8(V(w[0]), i23, V(w[1]));
    const V b23 = _mm512_permutex2var_epi8(V(w[2]), i23, V(w[3]));
    x[0] = FirstHalves(a01, a23), x[1] = LastHalves(a01, a23);
    x[2] = FirstHalves(b01, b23), x[3] = LastHalves(b01, b23);
}
KC_SLICES_INLINE void ToWords(const V (&x)[4], Word16 (&w)[4]) noexcept {
    const V i0 = Load512(ToWords0.data()), i1 = Load512(ToWords1.data());
    const V a01 = FirstHalves(x[0], x[1]), a23 = LastHalves(x[0], x[1]);
    const V b01 = FirstHalves(x[2], x[3]), b23 = LastHalves(x[2], x[3]);
    w[0] = Word16(_mm512_permutex2var_epi8(a01, i0, b01)), w[1] = Word16(_mm512_permutex2var_epi8(a01, i1, b01));
    w[2] = Word16(_mm512_permutex2var_epi8(a23, i0, b23)), w[3] = Word16(_mm512_permutex2var_epi8(a23, i1, b23));
}

// x's bytes through a table of 256 words held as four tables of bytes
// (byte j of the entries at tables + 256 * j), as words.
KC_SLICES_INLINE void LookUpWords(const std::uint8_t* tables, const V& x, Word16 (&out)[4]) noexcept {
    const __mmask64 high = _mm512_movepi8_mask(x);
    V y[4];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) y[j] = Substitute(tables + 256 * j, x, high);
    ToWords(y, out);
}

// The bytes of each word reversed, for ciphers whose words are big-endian.
KC_SLICES_INLINE void SwapBytes(Word16& x) noexcept {
    using Bytes64 = std::uint8_t __attribute__((vector_size(64)));
#define KC_WORD(n) n + 3, n + 2, n + 1, n
#define KC_WORDS(n) KC_WORD(n), KC_WORD(n + 4), KC_WORD(n + 8), KC_WORD(n + 12)
    const Bytes64 b = Bytes64(x);
    x = Word16(__builtin_shufflevector(b, b, KC_WORDS(0), KC_WORDS(16), KC_WORDS(32), KC_WORDS(48)));
#undef KC_WORDS
#undef KC_WORD
}

#undef KC_SLICES_INLINE

// Whole sets through crypt(source, dest), which does whole sets only and
// returns the bytes done; then a rest of paddedFrom bytes or more (at most
// a set) as one set filled up with zeros, which costs about what the rest
// would one group at a time. Returns the bytes done.
template <std::size_t SetBytes, typename Crypt>
std::size_t CryptPadded(ConstBytes source, Bytes dest, std::size_t paddedFrom, Crypt crypt) noexcept {
    // The serial modes come a block at a time: they skip the call.
    if (source.size() < paddedFrom) return 0;
    const std::size_t done = crypt(source, dest);
    const std::size_t rest = source.size() - done;
    if (rest < paddedFrom) return done;
    std::array<std::uint8_t, SetBytes> set{};
    std::copy(source.begin() + static_cast<std::ptrdiff_t>(done), source.end(), set.begin());
    crypt(ConstBytes(set), Bytes(set));
    std::copy_n(set.begin(), rest, dest.begin() + static_cast<std::ptrdiff_t>(done));
    SecureZero(set);
    return source.size();
}

}  // namespace kestrune::slices
#endif
