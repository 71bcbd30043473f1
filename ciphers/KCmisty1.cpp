#include "KCmisty1.h"

#include <algorithm>

#include "KCbyteslices.h"
#include "KCpaths.h"
#include "KCmisty1_tables.inc"
#include "KCserial.h"

namespace kestrune {
namespace {

// FI with its 16-bit subkey split into the 7-bit half (high) and the 9-bit
// half (low), as the schedule stores them. Written for a short chain from
// the first S9 look-up to the result, the part a lone block waits on: the
// key and the input's low 7 bits join the second look-up's index in one
// exclusive-or, and as the 7-bit half d7 sits both above the 9-bit one and
// in its low bits, (d7 << 9) | (S9[..] ^ d7) is S9[..] ^ d7 * 0x201.
[[gnu::always_inline]] inline std::uint32_t FI(std::uint32_t x, std::uint32_t key7, std::uint32_t key9) noexcept {
    const std::uint32_t d9 = x >> 7, d7 = x & 0x7F;
    const std::uint32_t s9 = tables::Misty1S9[d9];
    const std::uint32_t d7Out = tables::Misty1S7[d7] ^ d7 ^ key7 ^ (s9 & 0x7F);
    return tables::Misty1S9[s9 ^ (d7 ^ key9)] ^ d7Out * 0x201;
}

using ExpandedKeys = std::array<std::uint32_t, 32>;

// Indices into the expanded key: K at 0, K' at 8, its low 9 bits at 16, high 7 bits at 24.
template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t FO(const ExpandedKeys& ek, std::uint32_t x) noexcept {
    std::uint32_t t0 = x >> 16, t1 = x & 0xFFFF;
    t0 ^= ek[K];
    t0 = FI(t0, ek[24 + (K + 5) % 8], ek[16 + (K + 5) % 8]) ^ t1;
    t1 ^= ek[(K + 2) % 8];
    t1 = FI(t1, ek[24 + (K + 1) % 8], ek[16 + (K + 1) % 8]) ^ t0;
    t0 ^= ek[(K + 7) % 8];
    t0 = FI(t0, ek[24 + (K + 3) % 8], ek[16 + (K + 3) % 8]) ^ t1;
    t1 ^= ek[(K + 4) % 8];
    return (t1 << 16) | t0;
}

// Even layers use K[k/2] and K'[k/2 + 6]; odd ones K'[(k-1)/2 + 2] and K[(k-1)/2 + 4].
template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t FL(const ExpandedKeys& ek, std::uint32_t x) noexcept {
    std::uint32_t d0 = x >> 16, d1 = x & 0xFFFF;
    if constexpr (K % 2 == 0) {
        d1 ^= d0 & ek[K / 2];
        d0 ^= d1 | ek[8 + (K / 2 + 6) % 8];
    } else {
        d1 ^= d0 & ek[8 + ((K - 1) / 2 + 2) % 8];
        d0 ^= d1 | ek[((K - 1) / 2 + 4) % 8];
    }
    return (d0 << 16) | d1;
}

template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t FLInverse(const ExpandedKeys& ek, std::uint32_t x) noexcept {
    std::uint32_t d0 = x >> 16, d1 = x & 0xFFFF;
    if constexpr (K % 2 == 0) {
        d0 ^= d1 | ek[8 + (K / 2 + 6) % 8];
        d1 ^= d0 & ek[K / 2];
    } else {
        d0 ^= d1 | ek[((K - 1) / 2 + 4) % 8];
        d1 ^= d0 & ek[8 + ((K - 1) / 2 + 2) % 8];
    }
    return (d0 << 16) | d1;
}

}  // namespace

void TKC_misty1::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Shorter keys are padded with zero bytes to 16.
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    for (std::size_t i = 0; i < 8; ++i) ExpandedKey[i] = (std::uint32_t{padded[2 * i]} << 8) | padded[2 * i + 1];
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint32_t k = ExpandedKey[(i + 1) % 8];
        const std::uint32_t derived = FI(ExpandedKey[i], k >> 9, k & 0x1FF);
        ExpandedKey[8 + i] = derived;
        ExpandedKey[16 + i] = derived & 0x1FF;
        ExpandedKey[24 + i] = derived >> 9;
    }
    SecureZero(padded);
    SlicedPath = lanes::ByteSlicesUsable();
}

namespace {

// Several blocks at once, step by step: each block's rounds are one chain
// of dependent look-ups, and the chains of other blocks fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks). Four chains
// fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// Whole groups of Lanes blocks through CRYPT<Lanes>, then the rest one by
// one through CRYPT<1>; CRYPT takes the offset of its first block.
template <typename Crypt>
void ForEachGroup(std::size_t size, const Crypt& crypt) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t grouped = size / group * group;
    std::size_t off = 0;
    for (; off < grouped; off += group) crypt.template operator()<Lanes>(off);
    for (; off < size; off += 8) crypt.template operator()<1>(off);
}

#if defined(KESTRUNE_WORD_LANES)
// Sixty-four blocks at a time in AVX-512 registers, each 16-bit half of
// their words in a lane of its own: FL and FO work on halves, so the halves
// stay apart from load to store. S9 is eight tables of 64 halves, looked up
// by two-table word permutes and chosen by the index's top three bits; S7
// one table of 128 bytes, one byte permute. No look-up goes to memory by
// the data.
using slices::V;
using Shorts = std::uint16_t __attribute__((vector_size(64)));
constexpr std::size_t SetBytes = 8 * 64;

// The sixty-four values of one half of a word, 32 to a register.
struct Halves {
    Shorts v[2];
};
// A word of each block: its high and low halves.
struct SetWords {
    Halves hi, lo;
};

// The permutes between blocks (four halves A B C D, A B the first word)
// and halves: from two registers of eight blocks each, the A halves of both
// then their B halves (or C then D); back, as KCbyteslices.h's.
alignas(64) constexpr std::array<std::uint16_t, 32> ToHalvesAB = slices::GatherIndex<std::uint16_t, 32>(0),
                                                    ToHalvesCD = slices::GatherIndex<std::uint16_t, 32>(2);
alignas(64) constexpr std::array<std::uint16_t, 32> ToBlocks0 = slices::ScatterIndex<std::uint16_t, 32>(0),
                                                    ToBlocks1 = slices::ScatterIndex<std::uint16_t, 32>(1);

struct SlicedTables {
    alignas(64) std::array<std::uint16_t, 512> s9;
    alignas(64) std::array<std::uint8_t, 128> s7;
};
constexpr SlicedTables Boxes{tables::Misty1S9, tables::Misty1S7};

#define KC_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

KC_INLINE V Load(const void* p) noexcept { return _mm512_loadu_si512(p); }

KC_INLINE Shorts S9(const Shorts& index) noexcept {
    const V x = V(index);
    const std::uint16_t* t = Boxes.s9.data();
    V part[8];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < 8; ++i) part[i] = _mm512_permutex2var_epi16(Load(t + 64 * i), x, Load(t + 64 * i + 32));
    const __mmask32 b6 = _mm512_test_epi16_mask(x, _mm512_set1_epi16(0x40));
    const __mmask32 b7 = _mm512_test_epi16_mask(x, _mm512_set1_epi16(0x80));
    const __mmask32 b8 = _mm512_test_epi16_mask(x, _mm512_set1_epi16(0x100));
    const V p01 = _mm512_mask_blend_epi16(b6, part[0], part[1]), p23 = _mm512_mask_blend_epi16(b6, part[2], part[3]);
    const V p45 = _mm512_mask_blend_epi16(b6, part[4], part[5]), p67 = _mm512_mask_blend_epi16(b6, part[6], part[7]);
    const V p03 = _mm512_mask_blend_epi16(b7, p01, p23), p47 = _mm512_mask_blend_epi16(b7, p45, p67);
    return Shorts(_mm512_mask_blend_epi16(b8, p03, p47));
}

// Indexes below 128 in the low byte of each half, zero above.
KC_INLINE Shorts S7(const Shorts& index) noexcept {
    const V s = _mm512_permutex2var_epi8(Load(Boxes.s7.data()), V(index), Load(Boxes.s7.data() + 64));
    return Shorts(s) & 0xFF;
}

// FI as the scalar one computes it.
KC_INLINE Shorts SlicedFI(const Shorts& x, std::uint16_t key7, std::uint16_t key9) noexcept {
    const Shorts d9 = x >> 7, d7 = x & 0x7F;
    const Shorts s9 = S9(d9);
    const Shorts d7Out = S7(d7) ^ d7 ^ key7 ^ (s9 & 0x7F);
    return S9(s9 ^ (d7 ^ key9)) ^ (d7Out << 9) ^ d7Out;
}

KC_INLINE std::uint16_t Key(const ExpandedKeys& ek, std::size_t i) noexcept { return static_cast<std::uint16_t>(ek[i]); }

// y ^= FO<K>(x) on halves, as FO.
template <unsigned K>
KC_INLINE void SlicedFO(const ExpandedKeys& ek, const SetWords& x, SetWords& y) noexcept {
#pragma GCC unroll 2
    for (std::size_t g = 0; g < 2; ++g) {
        Shorts t0 = x.hi.v[g], t1 = x.lo.v[g];
        t0 ^= Key(ek, K);
        t0 = SlicedFI(t0, Key(ek, 24 + (K + 5) % 8), Key(ek, 16 + (K + 5) % 8)) ^ t1;
        t1 ^= Key(ek, (K + 2) % 8);
        t1 = SlicedFI(t1, Key(ek, 24 + (K + 1) % 8), Key(ek, 16 + (K + 1) % 8)) ^ t0;
        t0 ^= Key(ek, (K + 7) % 8);
        t0 = SlicedFI(t0, Key(ek, 24 + (K + 3) % 8), Key(ek, 16 + (K + 3) % 8)) ^ t1;
        t1 ^= Key(ek, (K + 4) % 8);
        y.hi.v[g] ^= t1, y.lo.v[g] ^= t0;
    }
}

// FL<K> and its inverse on halves, as FL and FLInverse.
template <unsigned K, bool Inverse>
KC_INLINE void SlicedFL(const ExpandedKeys& ek, SetWords& x) noexcept {
    const std::uint16_t andKey = Key(ek, K % 2 == 0 ? K / 2 : 8 + ((K - 1) / 2 + 2) % 8);
    const std::uint16_t orKey = Key(ek, K % 2 == 0 ? 8 + (K / 2 + 6) % 8 : ((K - 1) / 2 + 4) % 8);
#pragma GCC unroll 2
    for (std::size_t g = 0; g < 2; ++g) {
        Shorts &d0 = x.hi.v[g], &d1 = x.lo.v[g];
        if constexpr (Inverse) {
            d0 ^= d1 | orKey;
            d1 ^= d0 & andKey;
        } else {
            d1 ^= d0 & andKey;
            d0 ^= d1 | orKey;
        }
    }
}

#undef KC_INLINE

// Whole sets of sixty-four blocks; returns the bytes done.
template <bool Encrypting>
__attribute__((target(KC_SLICES_TARGET), flatten)) std::size_t CryptSetsAvx512(const ExpandedKeys& ek,
                                                                               ConstBytes source,
                                                                               Bytes dest) noexcept {
    const V toAB = Load(ToHalvesAB.data()), toCD = Load(ToHalvesCD.data());
    const V to0 = Load(ToBlocks0.data()), to1 = Load(ToBlocks1.data());
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        // The first word of each block, then the second.
        SetWords w0, w1;
#pragma GCC unroll 2
        for (std::size_t g = 0; g < 2; ++g) {
            V ab[2], cd[2];
#pragma GCC unroll 2
            for (std::size_t p = 0; p < 2; ++p) {
                const std::uint8_t* in = source.data() + off + 256 * g + 128 * p;
                Shorts a = Shorts(Load(in)), b = Shorts(Load(in + 64));
                a = (a << 8) | (a >> 8), b = (b << 8) | (b >> 8);  // big-endian halves
                ab[p] = _mm512_permutex2var_epi16(V(a), toAB, V(b));
                cd[p] = _mm512_permutex2var_epi16(V(a), toCD, V(b));
            }
            w0.hi.v[g] = Shorts(slices::FirstHalves(ab[0], ab[1])), w0.lo.v[g] = Shorts(slices::LastHalves(ab[0], ab[1]));
            w1.hi.v[g] = Shorts(slices::FirstHalves(cd[0], cd[1])), w1.lo.v[g] = Shorts(slices::LastHalves(cd[0], cd[1]));
        }
        // As the groups below: x0, x1 the block's words on the way in,
        // leaving as (x1, x0); decryption takes them the other way round.
        SetWords& x0 = Encrypting ? w0 : w1;
        SetWords& x1 = Encrypting ? w1 : w0;
        if constexpr (Encrypting) {
            SlicedFL<0, false>(ek, x0), SlicedFL<1, false>(ek, x1), SlicedFO<0>(ek, x0, x1);
            SlicedFO<1>(ek, x1, x0);
            SlicedFL<2, false>(ek, x0), SlicedFL<3, false>(ek, x1), SlicedFO<2>(ek, x0, x1);
            SlicedFO<3>(ek, x1, x0);
            SlicedFL<4, false>(ek, x0), SlicedFL<5, false>(ek, x1), SlicedFO<4>(ek, x0, x1);
            SlicedFO<5>(ek, x1, x0);
            SlicedFL<6, false>(ek, x0), SlicedFL<7, false>(ek, x1), SlicedFO<6>(ek, x0, x1);
            SlicedFO<7>(ek, x1, x0);
            SlicedFL<8, false>(ek, x0), SlicedFL<9, false>(ek, x1);
        } else {
            SlicedFL<8, true>(ek, x0), SlicedFL<9, true>(ek, x1);
            SlicedFO<7>(ek, x1, x0);
            SlicedFO<6>(ek, x0, x1), SlicedFL<6, true>(ek, x0), SlicedFL<7, true>(ek, x1);
            SlicedFO<5>(ek, x1, x0);
            SlicedFO<4>(ek, x0, x1), SlicedFL<4, true>(ek, x0), SlicedFL<5, true>(ek, x1);
            SlicedFO<3>(ek, x1, x0);
            SlicedFO<2>(ek, x0, x1), SlicedFL<2, true>(ek, x0), SlicedFL<3, true>(ek, x1);
            SlicedFO<1>(ek, x1, x0);
            SlicedFO<0>(ek, x0, x1), SlicedFL<0, true>(ek, x0), SlicedFL<1, true>(ek, x1);
        }
        // Out as (x1, x0) when encrypting, (x0, x1) when decrypting: w1 first either way.
#pragma GCC unroll 2
        for (std::size_t g = 0; g < 2; ++g) {
            const V ab0 = slices::FirstHalves(V(w1.hi.v[g]), V(w1.lo.v[g]));
            const V ab1 = slices::LastHalves(V(w1.hi.v[g]), V(w1.lo.v[g]));
            const V cd0 = slices::FirstHalves(V(w0.hi.v[g]), V(w0.lo.v[g]));
            const V cd1 = slices::LastHalves(V(w0.hi.v[g]), V(w0.lo.v[g]));
            const V ab[2] = {ab0, ab1}, cd[2] = {cd0, cd1};
#pragma GCC unroll 2
            for (std::size_t p = 0; p < 2; ++p) {
                Shorts a = Shorts(_mm512_permutex2var_epi16(ab[p], to0, cd[p]));
                Shorts b = Shorts(_mm512_permutex2var_epi16(ab[p], to1, cd[p]));
                a = (a << 8) | (a >> 8), b = (b << 8) | (b >> 8);
                std::uint8_t* out = dest.data() + off + 256 * g + 128 * p;
                _mm512_storeu_si512(out, V(a)), _mm512_storeu_si512(out + 64, V(b));
            }
        }
    }
    return done;
}

// Whole sets, then a rest of sixteen blocks or more as one set filled up
// with zeros; returns the bytes done.
template <bool Encrypting>
std::size_t CryptSliced(const ExpandedKeys& ek, ConstBytes source, Bytes dest) noexcept {
    return slices::CryptPadded<SetBytes>(source, dest, 8 * 16, [&](ConstBytes in, Bytes out) {
        return CryptSetsAvx512<Encrypting>(ek, in, out);
    });
}
#endif

}  // namespace

std::string_view TKC_misty1::Provider() const noexcept {
    return (IsInitialized() ? SlicedPath : lanes::ByteSlicesUsable()) ? "avx512" : "portable";
}

namespace {

// N blocks' words (x0, x1) through the rounds, each step taken for every
// block before the next; encryption's words leave as (x1, x0), and
// decryption takes them in that way round.
template <std::size_t N>
[[gnu::always_inline]] inline void EncryptWords(const ExpandedKeys& ek, std::uint32_t (&d0)[N],
                                                std::uint32_t (&d1)[N]) noexcept {
    const auto each = [&d0, &d1](auto step) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < N; ++b) step(d0[b], d1[b]);
    };
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x0 = FL<0>(ek, x0), x1 = FL<1>(ek, x1), x1 ^= FO<0>(ek, x0);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<1>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x0 = FL<2>(ek, x0), x1 = FL<3>(ek, x1), x1 ^= FO<2>(ek, x0);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<3>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x0 = FL<4>(ek, x0), x1 = FL<5>(ek, x1), x1 ^= FO<4>(ek, x0);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<5>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x0 = FL<6>(ek, x0), x1 = FL<7>(ek, x1), x1 ^= FO<6>(ek, x0);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<7>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<8>(ek, x0), x1 = FL<9>(ek, x1); });
}

template <std::size_t N>
[[gnu::always_inline]] inline void DecryptWords(const ExpandedKeys& ek, std::uint32_t (&d0)[N],
                                                std::uint32_t (&d1)[N]) noexcept {
    const auto each = [&d0, &d1](auto step) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < N; ++b) step(d0[b], d1[b]);
    };
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 = FLInverse<8>(ek, x0), x1 = FLInverse<9>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<7>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x1 ^= FO<6>(ek, x0), x0 = FLInverse<6>(ek, x0), x1 = FLInverse<7>(ek, x1);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<5>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x1 ^= FO<4>(ek, x0), x0 = FLInverse<4>(ek, x0), x1 = FLInverse<5>(ek, x1);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<3>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x1 ^= FO<2>(ek, x0), x0 = FLInverse<2>(ek, x0), x1 = FLInverse<3>(ek, x1);
    });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<1>(ek, x1); });
    each([&ek](std::uint32_t& x0, std::uint32_t& x1) {
        x1 ^= FO<0>(ek, x0), x0 = FLInverse<0>(ek, x0), x1 = FLInverse<1>(ek, x1);
    });
}

// What one block's encryption needs, for the serial modes (KCserial.h).
struct Keyed {
    const ExpandedKeys& ek;
    [[gnu::always_inline]] void Encrypt(std::uint32_t& l, std::uint32_t& r) const noexcept {
        std::uint32_t d0[1] = {l}, d1[1] = {r};
        EncryptWords(ek, d0, d1);
        l = d1[0], r = d0[0];
    }
};
using OneBlock = serial::Halves<Keyed>;

}  // namespace

// The AVX-512 sets first when chosen; the groups take what is left.
void TKC_misty1::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) {
        const std::size_t done = CryptSliced<true>(ExpandedKey, source, dest);
        source = source.subspan(done), dest = dest.subspan(done);
    }
#endif
    ForEachGroup(source.size(), [this, source, dest]<std::size_t N>(std::size_t off) {
        std::uint32_t d0[N], d1[N];
        for (std::size_t b = 0; b < N; ++b)
            d0[b] = LoadBE32(source.subspan(off + 8 * b)), d1[b] = LoadBE32(source.subspan(off + 8 * b + 4));
        EncryptWords(ExpandedKey, d0, d1);
        for (std::size_t b = 0; b < N; ++b)
            StoreBE32(dest.subspan(off + 8 * b), d1[b]), StoreBE32(dest.subspan(off + 8 * b + 4), d0[b]);
    });
}

void TKC_misty1::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) {
        const std::size_t done = CryptSliced<false>(ExpandedKey, source, dest);
        source = source.subspan(done), dest = dest.subspan(done);
    }
#endif
    ForEachGroup(source.size(), [this, source, dest]<std::size_t N>(std::size_t off) {
        std::uint32_t d0[N], d1[N];
        for (std::size_t b = 0; b < N; ++b)
            d1[b] = LoadBE32(source.subspan(off + 8 * b)), d0[b] = LoadBE32(source.subspan(off + 8 * b + 4));
        DecryptWords(ExpandedKey, d0, d1);
        for (std::size_t b = 0; b < N; ++b)
            StoreBE32(dest.subspan(off + 8 * b), d0[b]), StoreBE32(dest.subspan(off + 8 * b + 4), d1[b]);
    });
}

void TKC_misty1::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<OneBlock>(Keyed{ExpandedKey}, chain, source, dest);
}

void TKC_misty1::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<OneBlock>(Keyed{ExpandedKey}, chain, source, dest);
}

void TKC_misty1::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<OneBlock>(Keyed{ExpandedKey}, chain, source, dest);
}

void TKC_misty1::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<OneBlock>(Keyed{ExpandedKey}, chain, source, dest);
}

// One key, two plaintexts: keyed once, wiped once at the end.
bool TKC_misty1::SelfTest() {
    TKC_misty1 cipher;
    cipher.Init(tables::Misty1SelfTestKey, static_cast<std::uint32_t>(tables::Misty1SelfTestKey.size() * 8));
    bool ok = true;
    const auto check = [&](const Block& plain, const Block& expected) {
        Block block = plain;
        cipher.EncryptBlock(block, block);
        ok = (block == expected) && ok;
        cipher.DecryptBlock(block, block);
        ok = (block == plain) && ok;
    };
    check(tables::Misty1SelfTestPlain1, tables::Misty1SelfTestCipher1);
    check(tables::Misty1SelfTestPlain2, tables::Misty1SelfTestCipher2);
    cipher.Wipe();
    return ok;
}

}  // namespace kestrune
