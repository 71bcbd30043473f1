// Blocks of the ciphers built on 32-bit words, side by side in vector lanes:
// a cipher writes its rounds once over a word type W (a plain word for one
// block, Word4 for four blocks, Word8 for eight, Word16 for sixteen) and these helpers move
// whole blocks between memory and lanes. Vectors pass by reference only: a
// wide vector by value would change the calling convention between code
// built for different targets. Callers reach them from functions that carry
// the target and inline everything (flatten).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../framework/KCbytes.h"
#include "../framework/KCcpufeatures.h"
#include "KCpaths.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTRUNE_WORD_LANES 1

namespace kestrune::lanes {

using Word4 = std::uint32_t __attribute__((vector_size(16)));
using Word8 = std::uint32_t __attribute__((vector_size(32)));
using Word16 = std::uint32_t __attribute__((vector_size(64)));

// Four sets in flight where sixteen vector registers hold them: the rounds
// are chains of dependent steps, and four independent chains keep the
// vector units busy (measured: two sets ran at three quarters of the
// speed). 32-bit code has eight registers, and takes one set.
constexpr std::size_t SetsInFlight = sizeof(void*) == 8 ? 4 : 1;

__attribute__((target("sse2"))) inline void Load(Word4& x, const std::uint8_t* p) noexcept {
    x = Word4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
__attribute__((target("sse2"))) inline void Store(std::uint8_t* p, const Word4& x) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), __m128i(x));
}
__attribute__((target("avx2"))) inline void Load(Word8& x, const std::uint8_t* p) noexcept {
    x = Word8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
__attribute__((target("avx2"))) inline void Store(std::uint8_t* p, const Word8& x) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), __m256i(x));
}
__attribute__((target("avx512f"))) inline void Load(Word16& x, const std::uint8_t* p) noexcept {
    x = Word16(_mm512_loadu_si512(p));
}
__attribute__((target("avx512f"))) inline void Store(std::uint8_t* p, const Word16& x) noexcept {
    _mm512_storeu_si512(p, __m512i(x));
}

// Two registers of 64-bit blocks (two words each) to one register of first
// words and one of second words, within each 128-bit half; Join is the exact
// inverse. Lanes 0-1 of a half come from a, 2-3 from b: any order serves
// while the words are lanes.
__attribute__((target("sse2"))) inline void Split(Word4& a, Word4& b) noexcept {
    const __m128i x = _mm_shuffle_epi32(__m128i(a), 0xD8), y = _mm_shuffle_epi32(__m128i(b), 0xD8);
    a = Word4(_mm_unpacklo_epi64(x, y)), b = Word4(_mm_unpackhi_epi64(x, y));
}
__attribute__((target("sse2"))) inline void Join(Word4& a, Word4& b) noexcept {
    const __m128i x = _mm_unpacklo_epi64(__m128i(a), __m128i(b)), y = _mm_unpackhi_epi64(__m128i(a), __m128i(b));
    a = Word4(_mm_shuffle_epi32(x, 0xD8)), b = Word4(_mm_shuffle_epi32(y, 0xD8));
}
__attribute__((target("avx2"))) inline void Split(Word8& a, Word8& b) noexcept {
    const __m256i x = _mm256_shuffle_epi32(__m256i(a), 0xD8), y = _mm256_shuffle_epi32(__m256i(b), 0xD8);
    a = Word8(_mm256_unpacklo_epi64(x, y)), b = Word8(_mm256_unpackhi_epi64(x, y));
}
__attribute__((target("avx2"))) inline void Join(Word8& a, Word8& b) noexcept {
    const __m256i x = _mm256_unpacklo_epi64(__m256i(a), __m256i(b)), y = _mm256_unpackhi_epi64(__m256i(a), __m256i(b));
    a = Word8(_mm256_shuffle_epi32(x, 0xD8)), b = Word8(_mm256_shuffle_epi32(y, 0xD8));
}

// The same for sixteen-word registers, in generic shuffles (see Transpose):
// the first words of a's blocks then b's, and the second words likewise.
__attribute__((target("avx512f"))) inline void Split(Word16& a, Word16& b) noexcept {
    const Word16 first = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    b = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    a = first;
}
__attribute__((target("avx512f"))) inline void Join(Word16& a, Word16& b) noexcept {
    const Word16 low = __builtin_shufflevector(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    b = __builtin_shufflevector(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    a = low;
}

// Four registers of 128-bit blocks to one register per word position: a 4x4
// transpose within each 128-bit part, its own inverse.
__attribute__((target("sse2"))) inline void Transpose(Word4& a, Word4& b, Word4& c, Word4& d) noexcept {
    const __m128i t0 = _mm_unpacklo_epi32(__m128i(a), __m128i(b)), t1 = _mm_unpacklo_epi32(__m128i(c), __m128i(d));
    const __m128i t2 = _mm_unpackhi_epi32(__m128i(a), __m128i(b)), t3 = _mm_unpackhi_epi32(__m128i(c), __m128i(d));
    a = Word4(_mm_unpacklo_epi64(t0, t1)), b = Word4(_mm_unpackhi_epi64(t0, t1));
    c = Word4(_mm_unpacklo_epi64(t2, t3)), d = Word4(_mm_unpackhi_epi64(t2, t3));
}
__attribute__((target("avx2"))) inline void Transpose(Word8& a, Word8& b, Word8& c, Word8& d) noexcept {
    const __m256i t0 = _mm256_unpacklo_epi32(__m256i(a), __m256i(b));
    const __m256i t1 = _mm256_unpacklo_epi32(__m256i(c), __m256i(d));
    const __m256i t2 = _mm256_unpackhi_epi32(__m256i(a), __m256i(b));
    const __m256i t3 = _mm256_unpackhi_epi32(__m256i(c), __m256i(d));
    a = Word8(_mm256_unpacklo_epi64(t0, t1)), b = Word8(_mm256_unpackhi_epi64(t0, t1));
    c = Word8(_mm256_unpacklo_epi64(t2, t3)), d = Word8(_mm256_unpackhi_epi64(t2, t3));
}
// The same for sixteen blocks, in generic shuffles: GCC's AVX-512 unpack
// intrinsics read an undefined vector that -Wmaybe-uninitialized reports.
__attribute__((target("avx512f"))) inline void Transpose(Word16& a, Word16& b, Word16& c, Word16& d) noexcept {
// The four words x, y, z, w of each 128-bit part, as indexes into two vectors.
#define KC_PARTS(x, y, z, w) \
    x, y, z, w, x + 4, y + 4, z + 4, w + 4, x + 8, y + 8, z + 8, w + 8, x + 12, y + 12, z + 12, w + 12
    const Word16 t0 = __builtin_shufflevector(a, b, KC_PARTS(0, 16, 1, 17));
    const Word16 t1 = __builtin_shufflevector(c, d, KC_PARTS(0, 16, 1, 17));
    const Word16 t2 = __builtin_shufflevector(a, b, KC_PARTS(2, 18, 3, 19));
    const Word16 t3 = __builtin_shufflevector(c, d, KC_PARTS(2, 18, 3, 19));
    a = __builtin_shufflevector(t0, t1, KC_PARTS(0, 1, 16, 17));
    b = __builtin_shufflevector(t0, t1, KC_PARTS(2, 3, 18, 19));
    c = __builtin_shufflevector(t2, t3, KC_PARTS(0, 1, 16, 17));
    d = __builtin_shufflevector(t2, t3, KC_PARTS(2, 3, 18, 19));
#undef KC_PARTS
}

// Big-endian words of memory as lane values and back (SSE2 has no byte shuffle).
template <typename W>
inline void SwapBytes(W& x) noexcept {
    x = (x << 24) | (x >> 24) | ((x & 0xFF00U) << 8) | ((x >> 8) & 0xFF00U);
}

// Rotations by each lane's own count, taken modulo 32. AVX2's shifts by a
// count of 32 give 0, so a count of 0 rotates exactly too.
__attribute__((target("avx2"))) inline void RotlBy(Word8& x, const Word8& count) noexcept {
    const __m256i n = _mm256_and_si256(__m256i(count), _mm256_set1_epi32(31));
    const __m256i rest = _mm256_sub_epi32(_mm256_set1_epi32(32), n);
    x = Word8(_mm256_or_si256(_mm256_sllv_epi32(__m256i(x), n), _mm256_srlv_epi32(__m256i(x), rest)));
}
__attribute__((target("avx2"))) inline void RotrBy(Word8& x, const Word8& count) noexcept {
    const __m256i n = _mm256_and_si256(__m256i(count), _mm256_set1_epi32(31));
    const __m256i rest = _mm256_sub_epi32(_mm256_set1_epi32(32), n);
    x = Word8(_mm256_or_si256(_mm256_srlv_epi32(__m256i(x), n), _mm256_sllv_epi32(__m256i(x), rest)));
}

}  // namespace kestrune::lanes
#endif

namespace kestrune::lanes {

// The one-block forms, so that rounds written over W read the same for both.
inline void RotlBy(std::uint32_t& x, std::uint32_t count) noexcept { x = Rol32(x, count); }
inline void RotrBy(std::uint32_t& x, std::uint32_t count) noexcept { x = Ror32(x, count); }

}  // namespace kestrune::lanes

#ifdef KESTRUNE_WORD_LANES
namespace kestrune::lanes {

// Whole groups of Sets registers' worth of 64-bit blocks (sizeof(W) / 4
// blocks each), their words split into lanes of first and second words;
// crypt(first, second) transforms the two arrays of Sets registers in
// place. BigEndian blocks hold big-endian words. Returns the bytes done.
template <typename W, std::size_t Sets, bool BigEndian, typename Crypt>
inline std::size_t CryptPairs(ConstBytes source, Bytes dest, Crypt crypt) noexcept {
    constexpr std::size_t set = 2 * sizeof(W), group = Sets * set;
    const std::size_t done = source.size() / group * group;
    for (std::size_t off = 0; off < done; off += group) {
        W first[Sets], second[Sets];
#pragma GCC unroll 8
        for (std::size_t s = 0; s < Sets; ++s) {
            const std::uint8_t* in = source.data() + off + s * set;
            Load(first[s], in), Load(second[s], in + sizeof(W));
            if constexpr (BigEndian) SwapBytes(first[s]), SwapBytes(second[s]);
            Split(first[s], second[s]);
        }
        crypt(first, second);
#pragma GCC unroll 8
        for (std::size_t s = 0; s < Sets; ++s) {
            Join(first[s], second[s]);
            if constexpr (BigEndian) SwapBytes(first[s]), SwapBytes(second[s]);
            std::uint8_t* out = dest.data() + off + s * set;
            Store(out, first[s]), Store(out + sizeof(W), second[s]);
        }
    }
    return done;
}

// The same for 128-bit blocks of four little-endian words: crypt(a, b, c, d).
template <typename W, std::size_t Sets, typename Crypt>
inline std::size_t CryptQuads(ConstBytes source, Bytes dest, Crypt crypt) noexcept {
    constexpr std::size_t set = 4 * sizeof(W), group = Sets * set;
    const std::size_t done = source.size() / group * group;
    for (std::size_t off = 0; off < done; off += group) {
        W a[Sets], b[Sets], c[Sets], d[Sets];
#pragma GCC unroll 8
        for (std::size_t s = 0; s < Sets; ++s) {
            const std::uint8_t* in = source.data() + off + s * set;
            Load(a[s], in), Load(b[s], in + sizeof(W)), Load(c[s], in + 2 * sizeof(W)), Load(d[s], in + 3 * sizeof(W));
            Transpose(a[s], b[s], c[s], d[s]);
        }
        crypt(a, b, c, d);
#pragma GCC unroll 8
        for (std::size_t s = 0; s < Sets; ++s) {
            Transpose(a[s], b[s], c[s], d[s]);
            std::uint8_t* out = dest.data() + off + s * set;
            Store(out, a[s]), Store(out + sizeof(W), b[s]), Store(out + 2 * sizeof(W), c[s]);
            Store(out + 3 * sizeof(W), d[s]);
        }
    }
    return done;
}

// SetsInFlight sets at a time, then one set; the caller takes the rest.
template <typename W, bool BigEndian, typename Crypt>
inline std::size_t CryptPairsInFlight(ConstBytes source, Bytes dest, Crypt crypt) noexcept {
    std::size_t done = CryptPairs<W, SetsInFlight, BigEndian>(source, dest, crypt);
    if constexpr (SetsInFlight > 1)
        done += CryptPairs<W, 1, BigEndian>(source.subspan(done), dest.subspan(done), crypt);
    return done;
}

// Blocks of four words spill some registers with four sets, and still ran
// faster than with two (RC6).
template <typename W, typename Crypt>
inline std::size_t CryptQuadsInFlight(ConstBytes source, Bytes dest, Crypt crypt) noexcept {
    std::size_t done = CryptQuads<W, SetsInFlight>(source, dest, crypt);
    if constexpr (SetsInFlight > 1) done += CryptQuads<W, 1>(source.subspan(done), dest.subspan(done), crypt);
    return done;
}

}  // namespace kestrune::lanes
#endif

namespace kestrune::lanes {

// How blocks become lanes: 64-bit blocks as a pair of words (big-endian
// words or little), or 128-bit blocks as four little-endian words. One
// block at a time, crypt receives arrays of one plain word.
template <bool BigEndian>
struct Pairs {
    static constexpr std::size_t WordsPerBlock = 2;
    template <typename Crypt>
    static void OneByOne(ConstBytes source, Bytes dest, const Crypt& crypt) noexcept {
        const auto load = [](ConstBytes in) { return BigEndian ? LoadBE32(in) : LoadLE32(in); };
        const auto store = [](Bytes out, std::uint32_t x) { BigEndian ? StoreBE32(out, x) : StoreLE32(out, x); };
        for (std::size_t off = 0; off < source.size(); off += 8) {
            const auto in = source.subspan(off, 8);
            const auto out = dest.subspan(off, 8);
            std::uint32_t a[1] = {load(in)}, b[1] = {load(in.subspan(4))};
            crypt(a, b);
            store(out, a[0]), store(out.subspan(4), b[0]);
        }
    }
#ifdef KESTRUNE_WORD_LANES
    template <typename W, typename Crypt>
    static std::size_t InLanes(ConstBytes source, Bytes dest, const Crypt& crypt) noexcept {
        return CryptPairsInFlight<W, BigEndian>(source, dest, crypt);
    }
#endif
};

struct Quads {
    static constexpr std::size_t WordsPerBlock = 4;
    template <typename Crypt>
    static void OneByOne(ConstBytes source, Bytes dest, const Crypt& crypt) noexcept {
        for (std::size_t off = 0; off < source.size(); off += 16) {
            const auto in = source.subspan(off, 16);
            const auto out = dest.subspan(off, 16);
            std::uint32_t a[1] = {LoadLE32(in)}, b[1] = {LoadLE32(in.subspan(4))};
            std::uint32_t c[1] = {LoadLE32(in.subspan(8))}, d[1] = {LoadLE32(in.subspan(12))};
            crypt(a, b, c, d);
            StoreLE32(out, a[0]), StoreLE32(out.subspan(4), b[0]);
            StoreLE32(out.subspan(8), c[0]), StoreLE32(out.subspan(12), d[0]);
        }
    }
#ifdef KESTRUNE_WORD_LANES
    template <typename W, typename Crypt>
    static std::size_t InLanes(ConstBytes source, Bytes dest, const Crypt& crypt) noexcept {
        return CryptQuadsInFlight<W>(source, dest, crypt);
    }
#endif
};

#ifdef KESTRUNE_WORD_LANES
// The instruction sets' entry points: they carry the target and inline
// everything (flatten), so the cipher's rounds are built for it.
template <typename Layout, typename Crypt>
__attribute__((target("sse2"), flatten)) std::size_t CryptSse2(ConstBytes source, Bytes dest,
                                                               const Crypt& crypt) noexcept {
    return Layout::template InLanes<Word4>(source, dest, crypt);
}
template <typename Layout, typename Crypt>
__attribute__((target("avx2"), flatten)) std::size_t CryptAvx2(ConstBytes source, Bytes dest,
                                                               const Crypt& crypt) noexcept {
    return Layout::template InLanes<Word8>(source, dest, crypt);
}
#endif

// Whole groups on the path chosen at keying; the rest, one block at a time.
// crypt is the cipher's rounds over arrays of any word type.
template <typename Layout, bool HasSse2Path, typename Crypt>
void CryptOnPath(std::uint8_t path, ConstBytes source, Bytes dest, const Crypt& crypt) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_WORD_LANES
    // The serial modes come one block at a time: they skip the call.
    if (path == PathAvx2 && source.size() >= Layout::WordsPerBlock * sizeof(Word8)) {
        done = CryptAvx2<Layout>(source, dest, crypt);
    } else if constexpr (HasSse2Path) {
        if (path == PathSse2 && source.size() >= Layout::WordsPerBlock * sizeof(Word4))
            done = CryptSse2<Layout>(source, dest, crypt);
    }
#else
    static_cast<void>(path);
#endif
    Layout::OneByOne(source.subspan(done), dest.subspan(done), crypt);
}

}  // namespace kestrune::lanes
