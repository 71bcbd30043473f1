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

// The permutes between elements grouped by four (the bytes of a word, the
// halves of a 64-bit block) and element positions, over registers of Count
// elements. Gather, from two registers (x, y): elements `first` then
// `first` + 1 of x's groups, then of y's, each run of Count / 4 in group
// order. Scatter, to the groups of one register: element e from the
// (e / 2)th source, run e % 2, Count / 4 * which.
template <typename T, std::size_t Count>
constexpr std::array<T, Count> GatherIndex(std::size_t first) {
    constexpr std::size_t run = Count / 4;
    std::array<T, Count> index{};
    for (std::size_t n = 0; n < Count; ++n)
        index[n] = static_cast<T>(Count * (n / run % 2) + 4 * (n % run) + first + n / (2 * run));
    return index;
}
template <typename T, std::size_t Count>
constexpr std::array<T, Count> ScatterIndex(std::size_t which) {
    constexpr std::size_t run = Count / 4;
    std::array<T, Count> index{};
    for (std::size_t n = 0; n < Count; ++n) {
        const std::size_t group = n / 4, element = n % 4;
        index[n] = static_cast<T>(Count * (element / 2) + 2 * run * (element % 2) + run * which + group);
    }
    return index;
}
alignas(64) inline constexpr std::array<std::uint8_t, 64> ToBytes01 = GatherIndex<std::uint8_t, 64>(0),
                                                          ToBytes23 = GatherIndex<std::uint8_t, 64>(2);
alignas(64) inline constexpr std::array<std::uint8_t, 64> ToWords0 = ScatterIndex<std::uint8_t, 64>(0),
                                                          ToWords1 = ScatterIndex<std::uint8_t, 64>(1);

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

// Sixty-four 64-bit blocks at in as their first and second big-endian
// words, sixteen to a register; StoreHalves is the inverse.
KC_SLICES_INLINE void LoadHalves(const std::uint8_t* in, Word16 (&l)[4], Word16 (&r)[4]) noexcept {
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        lanes::Load(l[g], in + 128 * g), lanes::Load(r[g], in + 128 * g + 64);
        lanes::Split(l[g], r[g]);
        SwapBytes(l[g]), SwapBytes(r[g]);
    }
}
KC_SLICES_INLINE void StoreHalves(std::uint8_t* out, const Word16 (&l)[4], const Word16 (&r)[4]) noexcept {
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        Word16 first = l[g], second = r[g];
        SwapBytes(first), SwapBytes(second);
        lanes::Join(first, second);
        lanes::Store(out + 128 * g, first), lanes::Store(out + 128 * g + 64, second);
    }
}

// Sixty-four 128-bit blocks at in as their four words (big-endian words
// when BigEndian), sixteen to a register; StoreQuads is the inverse.
template <bool BigEndian>
KC_SLICES_INLINE void LoadQuads(const std::uint8_t* in, Word16 (&a)[4], Word16 (&b)[4], Word16 (&c)[4],
                                Word16 (&d)[4]) noexcept {
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        const std::uint8_t* at = in + 256 * g;
        lanes::Load(a[g], at), lanes::Load(b[g], at + 64), lanes::Load(c[g], at + 128), lanes::Load(d[g], at + 192);
        lanes::Transpose(a[g], b[g], c[g], d[g]);
        if constexpr (BigEndian) SwapBytes(a[g]), SwapBytes(b[g]), SwapBytes(c[g]), SwapBytes(d[g]);
    }
}
template <bool BigEndian>
KC_SLICES_INLINE void StoreQuads(std::uint8_t* out, const Word16 (&a)[4], const Word16 (&b)[4], const Word16 (&c)[4],
                                 const Word16 (&d)[4]) noexcept {
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) {
        Word16 w0 = a[g], w1 = b[g], w2 = c[g], w3 = d[g];
        if constexpr (BigEndian) SwapBytes(w0), SwapBytes(w1), SwapBytes(w2), SwapBytes(w3);
        lanes::Transpose(w0, w1, w2, w3);
        std::uint8_t* at = out + 256 * g;
        lanes::Store(at, w0), lanes::Store(at + 64, w1), lanes::Store(at + 128, w2), lanes::Store(at + 192, w3);
    }
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
