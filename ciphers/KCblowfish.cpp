#include "KCblowfish.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "KCblowfish_tables.inc"
#include "../framework/KCcpufeatures.h"
#include "KCbyteslices.h"
#include "KCpaths.h"
#include "KClanes.h"
#include "KCserial.h"

namespace kestrune {

namespace {

// S-box entry at a byte offset: base plus index, no scale or displacement.
inline std::uint32_t At(const std::uint8_t* box, std::uint32_t offset) noexcept {
    std::uint32_t v;
    std::memcpy(&v, box + offset, 4);
    return v;
}

// The S-boxes addressed through four pointers held in registers: F's
// look-ups then use the short base+index address form, which measured
// faster on the chain of dependent look-ups than base+index*4+displacement,
// and the four byte offsets are extracted already multiplied by 4.
struct Boxes {
    const std::uint8_t *s0, *s1, *s2, *s3;
    explicit Boxes(const std::array<std::array<std::uint32_t, 256>, 4>& boxes) noexcept
        : s0(reinterpret_cast<const std::uint8_t*>(boxes[0].data())),
          s1(reinterpret_cast<const std::uint8_t*>(boxes[1].data())),
          s2(reinterpret_cast<const std::uint8_t*>(boxes[2].data())),
          s3(reinterpret_cast<const std::uint8_t*>(boxes[3].data())) {
        // Otherwise the compiler folds the boxes' offsets back into each address.
        __asm__("" : "+r"(s0), "+r"(s1), "+r"(s2), "+r"(s3));
    }
    std::uint32_t F(std::uint32_t x) const noexcept {
        return ((At(s0, (x >> 22) & 0x3FC) + At(s1, (x >> 14) & 0x3FC)) ^ At(s2, (x >> 6) & 0x3FC)) +
               At(s3, (x << 2) & 0x3FC);
    }
};

}  // namespace

// The sixteen rounds, unrolled: each xors F of one half and a P entry
// into the other. x ^ P is computed beside F, off the chain of look-ups.
#define KC_BLOWFISH_ROUND(a, b, n) a = (a ^ p[n]) ^ boxes.F(b)

namespace {

// The encryption rounds on one block's words, for EncryptWords and the
// serial modes.
[[gnu::always_inline]] inline void EncryptPair(const std::uint32_t* p, const Boxes& boxes, std::uint32_t& left,
                                               std::uint32_t& right) noexcept {
    std::uint32_t l = left ^ p[0], r = right;
    KC_BLOWFISH_ROUND(r, l, 1);
    KC_BLOWFISH_ROUND(l, r, 2);
    KC_BLOWFISH_ROUND(r, l, 3);
    KC_BLOWFISH_ROUND(l, r, 4);
    KC_BLOWFISH_ROUND(r, l, 5);
    KC_BLOWFISH_ROUND(l, r, 6);
    KC_BLOWFISH_ROUND(r, l, 7);
    KC_BLOWFISH_ROUND(l, r, 8);
    KC_BLOWFISH_ROUND(r, l, 9);
    KC_BLOWFISH_ROUND(l, r, 10);
    KC_BLOWFISH_ROUND(r, l, 11);
    KC_BLOWFISH_ROUND(l, r, 12);
    KC_BLOWFISH_ROUND(r, l, 13);
    KC_BLOWFISH_ROUND(l, r, 14);
    KC_BLOWFISH_ROUND(r, l, 15);
    KC_BLOWFISH_ROUND(l, r, 16);
    left = r ^ p[17];
    right = l;
}

// What one block's encryption needs, held in registers across the blocks
// of a serial mode (KCserial.h).
struct Keyed {
    const std::uint32_t* p;
    Boxes boxes;
    [[gnu::always_inline]] void Encrypt(std::uint32_t& l, std::uint32_t& r) const noexcept {
        EncryptPair(p, boxes, l, r);
    }
};
using Halves = serial::Halves<Keyed>;

}  // namespace

inline void TKC_blowfish::EncryptWords(std::uint32_t& left, std::uint32_t& right) const noexcept {
    EncryptPair(PArray.data(), Boxes(SBoxes), left, right);
}

inline void TKC_blowfish::DecryptWords(std::uint32_t& left, std::uint32_t& right) const noexcept {
    const std::uint32_t* p = PArray.data();
    const Boxes boxes(SBoxes);
    std::uint32_t l = left ^ p[17], r = right;
    KC_BLOWFISH_ROUND(r, l, 16);
    KC_BLOWFISH_ROUND(l, r, 15);
    KC_BLOWFISH_ROUND(r, l, 14);
    KC_BLOWFISH_ROUND(l, r, 13);
    KC_BLOWFISH_ROUND(r, l, 12);
    KC_BLOWFISH_ROUND(l, r, 11);
    KC_BLOWFISH_ROUND(r, l, 10);
    KC_BLOWFISH_ROUND(l, r, 9);
    KC_BLOWFISH_ROUND(r, l, 8);
    KC_BLOWFISH_ROUND(l, r, 7);
    KC_BLOWFISH_ROUND(r, l, 6);
    KC_BLOWFISH_ROUND(l, r, 5);
    KC_BLOWFISH_ROUND(r, l, 4);
    KC_BLOWFISH_ROUND(l, r, 3);
    KC_BLOWFISH_ROUND(r, l, 2);
    KC_BLOWFISH_ROUND(l, r, 1);
    left = r ^ p[0];
    right = l;
}

#undef KC_BLOWFISH_ROUND

namespace {

using SBoxArray = std::array<std::array<std::uint32_t, 256>, 4>;

// Several blocks at once, round by round: each block's rounds are one chain
// of dependent look-ups, and the chains of other blocks fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks). Here throughput
// counts, not one chain's latency, so F takes the plain indexed form, whose
// byte extraction costs fewer instructions; eight chains measured fastest on
// x86-64 (about 1.6 times four), two fit the registers of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 8 : 2;

struct IndexedBoxes {
    const std::array<std::array<std::uint32_t, 256>, 4>& s;
    std::uint32_t F(std::uint32_t x) const noexcept {
        return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
    }
};

template <bool Encrypting>
[[gnu::always_inline]] inline void CryptLanes(const std::uint32_t* p, const IndexedBoxes& boxes,
                                              std::uint32_t (&l)[Lanes], std::uint32_t (&r)[Lanes]) noexcept {
    constexpr std::size_t first = Encrypting ? 0 : 17, last = Encrypting ? 17 : 0;
#pragma GCC unroll 8
    for (std::size_t k = 0; k < Lanes; ++k) l[k] ^= p[first];
    // Two of the eight round pairs per pass: wholly unrolled, the loop
    // outgrew what the processor keeps decoded and ran a tenth slower.
#pragma GCC unroll 2
    for (std::size_t round = 1; round <= 16; round += 2) {
        const std::size_t a = Encrypting ? round : 17 - round, b = Encrypting ? round + 1 : 16 - round;
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Lanes; ++k) r[k] = (r[k] ^ p[a]) ^ boxes.F(l[k]);
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Lanes; ++k) l[k] = (l[k] ^ p[b]) ^ boxes.F(r[k]);
    }
#pragma GCC unroll 8
    for (std::size_t k = 0; k < Lanes; ++k) {
        const std::uint32_t left = r[k] ^ p[last];
        r[k] = l[k];
        l[k] = left;
    }
}

// Whole groups of Lanes blocks; returns the bytes done.
template <bool Encrypting>
std::size_t CryptGroups(const std::uint32_t* p, const std::array<std::array<std::uint32_t, 256>, 4>& sboxes,
                        ConstBytes source, Bytes dest) noexcept {
    const IndexedBoxes boxes{sboxes};
    return CryptGroupsBE<Lanes>(source, dest, [&](std::uint32_t (&l)[Lanes], std::uint32_t (&r)[Lanes]) __attribute__((always_inline)) {
        CryptLanes<Encrypting>(p, boxes, l, r);
    });
}

#if defined(__x86_64__)
// Processors with BMI2 (all of which have BMI1's bextr) take four lanes
// with the round written out: bextr takes the middle two bytes without a
// copy of the word, and each look-up is one base+index operand of the four
// boxes, which lie one after another. Fewer instructions per round than the
// eight lanes above, and four chains then fill the waits.
constexpr std::size_t BmiLanes = 4;
constexpr bool HasBmiLanes = true;

// y ^= p ^ F(x), F(x) = ((S1[a] + S2[b]) ^ S3[c]) + S4[d] for x's bytes a..d.
// second and third hold bextr's position and length for bytes b and c.
// The boxes are an operand beside their address, so that the compiler
// knows what the instructions read.
[[gnu::always_inline]] inline void LaneRoundBmi(std::uint32_t& y, std::uint32_t x, const std::uint32_t& p,
                                                const SBoxArray& boxes, std::uint32_t second,
                                                std::uint32_t third) noexcept {
    std::uint32_t t, u;
    __asm__("movl %k[x], %k[t]\n\t"
            "shrl $24, %k[t]\n\t"
            "bextrl %k[second], %k[x], %k[u]\n\t"
            "movl (%[s],%q[t],4), %k[t]\n\t"
            "addl 0x400(%[s],%q[u],4), %k[t]\n\t"
            "bextrl %k[third], %k[x], %k[u]\n\t"
            "xorl 0x800(%[s],%q[u],4), %k[t]\n\t"
            "movzbl %b[x], %k[u]\n\t"
            "addl 0xc00(%[s],%q[u],4), %k[t]\n\t"
            "xorl %[p], %k[y]\n\t"
            "xorl %k[t], %k[y]"
            : [y] "+r"(y), [t] "=&r"(t), [u] "=&r"(u)
            : [x] "r"(x), [p] "m"(p), [s] "r"(boxes[0].data()), [second] "r"(second),
              [third] "r"(third), "m"(boxes)
            : "cc");
}

using BmiWords = LaneHalves<BmiLanes>;

// Round n (1..16) for every lane: odd rounds change r, even rounds l.
template <std::size_t N>
[[gnu::always_inline]] inline void RoundLanesBmi(BmiWords& l, BmiWords& r, const std::uint32_t* p,
                                                 std::size_t key, const SBoxArray& boxes) noexcept {
    BmiWords& y = N % 2 == 1 ? r : l;
    BmiWords& x = N % 2 == 1 ? l : r;
    std::uint32_t xs[BmiLanes];
    x.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { xs[k] = w; });
    y.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) {
        LaneRoundBmi(w, xs[k], p[key], boxes, 0x0810, 0x0808);
    });
}

template <bool Encrypting, std::size_t... N>
[[gnu::always_inline]] inline void AllRoundsBmi(BmiWords& l, BmiWords& r, const std::uint32_t* p,
                                                const SBoxArray& boxes, std::index_sequence<N...>) noexcept {
    // Decryption runs the same rounds with the P entries in reverse order.
    (RoundLanesBmi<N + 1>(l, r, p, Encrypting ? N + 1 : 16 - N, boxes), ...);
}

template <bool Encrypting>
std::size_t CryptGroupsBmi(const std::uint32_t* p, const SBoxArray& sboxes,
                           ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t first = Encrypting ? 0 : 17, last = Encrypting ? 17 : 0;
    const auto crypt = [&](std::uint32_t (&left)[BmiLanes], std::uint32_t (&right)[BmiLanes]) __attribute__((always_inline)) {
        BmiWords l, r;
        l.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { w = left[k] ^ p[first]; });
        r.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { w = right[k]; });
        AllRoundsBmi<Encrypting>(l, r, p, sboxes, std::make_index_sequence<16>());
        // The halves leave swapped, the last P entry on the new left.
        r.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { left[k] = w ^ p[last]; });
        l.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { right[k] = w; });
    };
    return CryptGroupsBE<BmiLanes>(source, dest, crypt);
}
#else
constexpr bool HasBmiLanes = false;
#endif

// The serial modes come one block at a time: they skip the call.
template <bool Encrypting>
[[gnu::always_inline]] inline std::size_t CryptGroupsOnPath(bool bmi, const std::uint32_t* p, const SBoxArray& sboxes,
                                                            ConstBytes source, Bytes dest) noexcept {
#if defined(__x86_64__)
    if (bmi) return source.size() < 8 * BmiLanes ? 0 : CryptGroupsBmi<Encrypting>(p, sboxes, source, dest);
#else
    static_cast<void>(bmi);
#endif
    return source.size() < 8 * Lanes ? 0 : CryptGroups<Encrypting>(p, sboxes, source, dest);
}

#if defined(KESTRUNE_WORD_LANES)
// Sixty-four blocks at a time, byte-sliced in AVX-512 registers: the keyed
// S-boxes as tables of bytes (byte j of each entry, made when keyed) looked
// up by byte permutes, the words in 32-bit lanes for the arithmetic. No
// look-up goes to memory by the data.
using slices::V;
using slices::Word16;
constexpr std::size_t SetBytes = 8 * 64;
using ByteBoxes = std::array<std::array<std::array<std::uint8_t, 256>, 4>, 4>;  // [S-box][byte]

#define KC_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

// y ^= F(x) ^ key for sixty-four words.
KC_INLINE void SlicedRound(const ByteBoxes& boxes, const Word16 (&x)[4], Word16 (&y)[4], std::uint32_t key) noexcept {
    V b[4];
    slices::ToBytes(x, b);
    Word16 s0[4], s1[4], s2[4], s3[4];
    slices::LookUpWords(boxes[0][0].data(), b[3], s0), slices::LookUpWords(boxes[1][0].data(), b[2], s1);
    slices::LookUpWords(boxes[2][0].data(), b[1], s2), slices::LookUpWords(boxes[3][0].data(), b[0], s3);
#pragma GCC unroll 4
    for (std::size_t g = 0; g < 4; ++g) y[g] ^= (((s0[g] + s1[g]) ^ s2[g]) + s3[g]) ^ key;
}

#undef KC_INLINE

// Whole sets of sixty-four blocks, with the same rounds as CryptLanes;
// returns the bytes done.
template <bool Encrypting>
__attribute__((target(KC_SLICES_TARGET), flatten)) std::size_t CryptSetsAvx512(const std::uint32_t* p,
                                                                               const ByteBoxes& boxes,
                                                                               ConstBytes source,
                                                                               Bytes dest) noexcept {
    constexpr std::size_t first = Encrypting ? 0 : 17, last = Encrypting ? 17 : 0;
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        Word16 l[4], r[4];
        slices::LoadHalves(source.data() + off, l, r);
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g) l[g] ^= p[first];
        for (std::size_t round = 1; round <= 16; round += 2) {
            SlicedRound(boxes, l, r, p[Encrypting ? round : 17 - round]);
            SlicedRound(boxes, r, l, p[Encrypting ? round + 1 : 16 - round]);
        }
#pragma GCC unroll 4
        for (std::size_t g = 0; g < 4; ++g) r[g] ^= p[last];
        slices::StoreHalves(dest.data() + off, r, l);
    }
    return done;
}

// Whole sets, then a rest of sixteen blocks or more as one set filled up
// with zeros; returns the bytes done.
template <bool Encrypting>
std::size_t CryptSliced(const std::uint32_t* p, const ByteBoxes& boxes, ConstBytes source, Bytes dest) noexcept {
    return slices::CryptPadded<SetBytes>(source, dest, 8 * 16, [&](ConstBytes in, Bytes out) {
        return CryptSetsAvx512<Encrypting>(p, boxes, in, out);
    });
}

// The keyed S-boxes as tables of bytes.
__attribute__((target(KC_SLICES_TARGET))) void SliceBoxes(const SBoxArray& boxes, ByteBoxes& bytes) noexcept {
    using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            for (std::size_t x = 0; x < 256; x += 16) {
                Word16 w;
                std::memcpy(&w, boxes[i].data() + x, sizeof w);
                const Bytes16 b = __builtin_convertvector(w >> (8 * j), Bytes16);
                std::memcpy(bytes[i][j].data() + x, &b, sizeof b);
            }
}
#endif

}  // namespace

std::string_view TKC_blowfish::Provider() const noexcept {
    if (IsInitialized() ? SlicedPath : lanes::ByteSlicesUsable()) return "avx512";
    return (IsInitialized() ? BmiPath : UsableBmiPath()) ? "bmi2" : "portable";
}

bool TKC_blowfish::UsableBmiPath() noexcept { return HasBmiLanes && CpuFeatures::Has(CpuFeature::Bmi2); }

void TKC_blowfish::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    BmiPath = UsableBmiPath();
    SlicedPath = lanes::ByteSlicesUsable();
    const std::size_t n = keyBits / 8;  // a trailing partial byte is ignored
    for (std::size_t s = 0; s < 4; ++s)
        std::copy_n(tables::BlowfishInitialS.begin() + static_cast<std::ptrdiff_t>(256 * s), 256, SBoxes[s].begin());
    std::copy(tables::BlowfishInitialP.begin(), tables::BlowfishInitialP.end(), PArray.begin());
    // The key bytes are used cyclically, one big-endian word per P entry.
    for (std::size_t i = 0, k = 0; i < 18; ++i) {
        std::uint32_t w = 0;
        for (std::size_t b = 0; b < 4; ++b, k = (k + 1) % n) w = (w << 8) | key[k];
        PArray[i] ^= w;
    }
    std::uint32_t l = 0, r = 0;
    for (std::size_t i = 0; i < 18; i += 2) {
        EncryptWords(l, r);
        PArray[i] = l;
        PArray[i + 1] = r;
    }
    for (auto& box : SBoxes) {
        for (std::size_t i = 0; i < 256; i += 2) {
            EncryptWords(l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) SliceBoxes(SBoxes, SlicedBoxes);
#endif
}

void TKC_blowfish::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t sliced = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) sliced = CryptSliced<true>(PArray.data(), SlicedBoxes, source, dest);
#endif
    const std::size_t grouped =
        sliced + CryptGroupsOnPath<true>(BmiPath, PArray.data(), SBoxes, source.subspan(sliced), dest.subspan(sliced));
    const std::uint8_t* in = source.data() + grouped;
    std::uint8_t* out = dest.data() + grouped;
    for (const std::uint8_t* end = source.data() + source.size(); in != end; in += 8, out += 8) {
        std::uint32_t l = LoadBE32({in, 4}), r = LoadBE32({in + 4, 4});
        EncryptWords(l, r);
        StoreBE32Block({out, 4}, l);
        StoreBE32Block({out + 4, 4}, r);
    }
}

void TKC_blowfish::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t sliced = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) sliced = CryptSliced<false>(PArray.data(), SlicedBoxes, source, dest);
#endif
    const std::size_t grouped =
        sliced + CryptGroupsOnPath<false>(BmiPath, PArray.data(), SBoxes, source.subspan(sliced), dest.subspan(sliced));
    const std::uint8_t* in = source.data() + grouped;
    std::uint8_t* out = dest.data() + grouped;
    for (const std::uint8_t* end = source.data() + source.size(); in != end; in += 8, out += 8) {
        std::uint32_t l = LoadBE32({in, 4}), r = LoadBE32({in + 4, 4});
        DecryptWords(l, r);
        StoreBE32Block({out, 4}, l);
        StoreBE32Block({out + 4, 4}, r);
    }
}

void TKC_blowfish::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<Halves>(Keyed{PArray.data(), Boxes(SBoxes)}, chain, source, dest);
}

void TKC_blowfish::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<Halves>(Keyed{PArray.data(), Boxes(SBoxes)}, chain, source, dest);
}

void TKC_blowfish::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<Halves>(Keyed{PArray.data(), Boxes(SBoxes)}, chain, source, dest);
}

void TKC_blowfish::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<Halves>(Keyed{PArray.data(), Boxes(SBoxes)}, chain, source, dest);
}

bool TKC_blowfish::SelfTest() {
    TKC_blowfish cipher;
    const bool first = CheckBlockVector(cipher, tables::BlowfishSelfTestKey1, tables::BlowfishSelfTestPlain1,
                                        tables::BlowfishSelfTestCipher1);
    const bool second = CheckBlockVector(cipher, tables::BlowfishSelfTestKey2, tables::BlowfishSelfTestPlain2,
                                         tables::BlowfishSelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
