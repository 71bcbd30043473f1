#include "KCcast128.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "KCcast128_tables.inc"
#include "../framework/KCcpufeatures.h"
#include "KCcastslices.h"
#include "KClanes.h"
#include "KCserial.h"

namespace kestrune {
namespace {

// S1..S4 read at byte offsets through pointers held in registers: the
// round's look-ups use the short base+index address form, which measured
// faster on the chain of dependent rounds (as in Blowfish).
struct OffsetLook {
    const std::uint8_t *s1, *s2, *s3, *s4;
    OffsetLook() noexcept
        : s1(reinterpret_cast<const std::uint8_t*>(tables::Cast128S1.data())),
          s2(reinterpret_cast<const std::uint8_t*>(tables::Cast128S2.data())),
          s3(reinterpret_cast<const std::uint8_t*>(tables::Cast128S3.data())),
          s4(reinterpret_cast<const std::uint8_t*>(tables::Cast128S4.data())) {
        __asm__("" : "+r"(s1), "+r"(s2), "+r"(s3), "+r"(s4));
    }
    static std::uint32_t At(const std::uint8_t* box, std::uint32_t offset) noexcept {
        std::uint32_t v;
        std::memcpy(&v, box + offset, 4);
        return v;
    }
    // The four bytes of I, most significant first, as byte offsets.
    std::uint32_t A(std::uint32_t i) const noexcept { return At(s1, (i >> 22) & 0x3FC); }
    std::uint32_t B(std::uint32_t i) const noexcept { return At(s2, (i >> 14) & 0x3FC); }
    std::uint32_t C(std::uint32_t i) const noexcept { return At(s3, (i >> 6) & 0x3FC); }
    std::uint32_t D(std::uint32_t i) const noexcept { return At(s4, (i << 2) & 0x3FC); }
};

// The four boxes in one array, for the many-block paths: one register
// holds its address for all four look-ups (position-independent code cannot
// name each box's address in the instruction), which leaves the registers
// to the blocks' words.
constexpr std::array<std::array<std::uint32_t, 256>, 4> JoinedBoxes{tables::Cast128S1, tables::Cast128S2,
                                                                    tables::Cast128S3, tables::Cast128S4};

template <typename Look>
struct Rounds : Look {
    using Look::A, Look::B, Look::C, Look::D;

    // The S-box halves of the three round functions, given the keyed,
    // rotated input word I. Type 1's ((A ^ B) - C) + D is summed as
    // (A ^ B) + (D - C), two steps deep instead of three.
    std::uint32_t G1(std::uint32_t i) const noexcept { return (A(i) ^ B(i)) + (D(i) - C(i)); }
    std::uint32_t G2(std::uint32_t i) const noexcept { return ((A(i) - B(i)) + C(i)) ^ D(i); }
    std::uint32_t G3(std::uint32_t i) const noexcept { return ((A(i) + B(i)) ^ C(i)) - D(i); }

    // Three rounds of types 1, 2, 3 with keys n, n+1, n+2: x ^= f1(y),
    // y ^= f2(x), x ^= f3(y). The type-2 round xors its masking key with
    // the new x = x ^ f; taking (Km ^ x) ^ f instead leaves one operation
    // after f on the chain rather than two.
    [[gnu::always_inline]] void Forward(std::uint32_t& x, std::uint32_t& y, const std::uint32_t* km,
                                        const std::uint32_t* kr, std::size_t n) const noexcept {
        std::uint32_t f = G1(Rol32(km[n] + y, kr[n]));
        const std::uint32_t mixed = (km[n + 1] ^ x) ^ f;
        x ^= f;
        y ^= G2(Rol32(mixed, kr[n + 1]));
        x ^= G3(Rol32(km[n + 2] - y, kr[n + 2]));
    }
    // The same three rounds undone, types 3, 2, 1.
    [[gnu::always_inline]] void Backward(std::uint32_t& x, std::uint32_t& y, const std::uint32_t* km,
                                         const std::uint32_t* kr, std::size_t n) const noexcept {
        std::uint32_t f = G3(Rol32(km[n + 2] - y, kr[n + 2]));
        const std::uint32_t mixed = (km[n + 1] ^ x) ^ f;
        x ^= f;
        y ^= G2(Rol32(mixed, kr[n + 1]));
        x ^= G1(Rol32(km[n] + y, kr[n]));
    }
    // The lone round 16 (type 1).
    [[gnu::always_inline]] std::uint32_t Last(std::uint32_t y, const std::uint32_t* km,
                                              const std::uint32_t* kr) const noexcept {
        return G1(Rol32(km[15] + y, kr[15]));
    }
};

using Boxes = Rounds<OffsetLook>;

// Several blocks at once, round by round: each block's rounds are one chain
// of dependent look-ups, and the chains of other blocks fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks). Four chains
// fit the registers of x86-64 (three, five and six measured slower), two
// those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

using LaneWords = LaneHalves<Lanes>;

// One lane's round of the given type: x ^= f(y). km is the masking key, kr
// the rotation. The same sums as Rounds::G1..G3.
template <int Type>
[[gnu::always_inline]] inline void LaneRound(std::uint32_t& x, std::uint32_t y, const std::uint32_t& km,
                                             std::uint32_t kr) noexcept {
    const std::uint32_t i = Rol32(Type == 1 ? km + y : Type == 2 ? km ^ y : km - y, kr);
    const auto& s = JoinedBoxes;
    const std::uint32_t a = s[0][i >> 24], b = s[1][(i >> 16) & 0xFF], c = s[2][(i >> 8) & 0xFF], d = s[3][i & 0xFF];
    if constexpr (Type == 1)
        x ^= (a ^ b) + (d - c);
    else if constexpr (Type == 2)
        x ^= ((a - b) + c) ^ d;
    else
        x ^= ((a + b) ^ c) - d;
}

#if defined(__x86_64__)
// The same round for processors with BMI2 (all of which have BMI1's bextr),
// written out: from the rounds above the compiler copied the index word
// before each byte it took, re-extended bytes it had just zero-extended and
// reloaded the rotation count per lane. Here movzbl takes the low byte,
// bextr the middle two without a copy of the word and a shift the top one,
// and each look-up is one base+index operand of the joined boxes; type 2's
// last xor with S4 goes straight into x. The high byte registers (%ah) took
// one instruction less, but their few registers made the compiler spill a
// lane's word every round. second and third hold bextr's position and
// length for bytes b and c.
template <int Type>
[[gnu::always_inline]] inline void LaneRoundBmi(std::uint32_t& x, std::uint32_t y, const std::uint32_t& km,
                                                std::uint32_t kr, std::uint32_t second, std::uint32_t third) noexcept {
    // The boxes' address in a register; the boxes themselves an operand
    // too, so that the compiler knows what the instructions read.
    const std::uint32_t* boxes = JoinedBoxes[0].data();
    std::uint32_t i, t, u;
    if constexpr (Type == 1) {
        // (S1[a] ^ S2[b]) + (S4[d] - S3[c])
        __asm__("movl %[km], %k[i]\n\t"
                "addl %k[y], %k[i]\n\t"
                "roll %%cl, %k[i]\n\t"
                "movzbl %b[i], %k[t]\n\t"
                "bextrl %k[third], %k[i], %k[u]\n\t"
                "movl 0xc00(%[s],%q[t],4), %k[t]\n\t"
                "subl 0x800(%[s],%q[u],4), %k[t]\n\t"
                "bextrl %k[second], %k[i], %k[u]\n\t"
                "shrl $24, %k[i]\n\t"
                "movl (%[s],%q[i],4), %k[i]\n\t"
                "xorl 0x400(%[s],%q[u],4), %k[i]\n\t"
                "addl %k[t], %k[i]\n\t"
                "xorl %k[i], %k[x]"
                : [x] "+r"(x), [i] "=&r"(i), [t] "=&r"(t), [u] "=&r"(u)
                : [y] "r"(y), [km] "m"(km), "c"(kr), [s] "r"(boxes), [second] "r"(second),
                  [third] "r"(third), "m"(JoinedBoxes)
                : "cc");
    } else if constexpr (Type == 2) {
        // ((S1[a] - S2[b]) + S3[c]) ^ S4[d], taken as S4[d] and S1[a] + (S3[c] - S2[b])
        __asm__("movl %[km], %k[i]\n\t"
                "xorl %k[y], %k[i]\n\t"
                "roll %%cl, %k[i]\n\t"
                "movzbl %b[i], %k[t]\n\t"
                "xorl 0xc00(%[s],%q[t],4), %k[x]\n\t"
                "bextrl %k[third], %k[i], %k[t]\n\t"
                "movl 0x800(%[s],%q[t],4), %k[t]\n\t"
                "bextrl %k[second], %k[i], %k[u]\n\t"
                "subl 0x400(%[s],%q[u],4), %k[t]\n\t"
                "shrl $24, %k[i]\n\t"
                "addl (%[s],%q[i],4), %k[t]\n\t"
                "xorl %k[t], %k[x]"
                : [x] "+r"(x), [i] "=&r"(i), [t] "=&r"(t), [u] "=&r"(u)
                : [y] "r"(y), [km] "m"(km), "c"(kr), [s] "r"(boxes), [second] "r"(second),
                  [third] "r"(third), "m"(JoinedBoxes)
                : "cc");
    } else {
        // ((S1[a] + S2[b]) ^ S3[c]) - S4[d]
        __asm__("movl %[km], %k[i]\n\t"
                "subl %k[y], %k[i]\n\t"
                "roll %%cl, %k[i]\n\t"
                "bextrl %k[second], %k[i], %k[u]\n\t"
                "movl 0x400(%[s],%q[u],4), %k[u]\n\t"
                "movl %k[i], %k[t]\n\t"
                "shrl $24, %k[t]\n\t"
                "addl (%[s],%q[t],4), %k[u]\n\t"
                "bextrl %k[third], %k[i], %k[t]\n\t"
                "xorl 0x800(%[s],%q[t],4), %k[u]\n\t"
                "movzbl %b[i], %k[t]\n\t"
                "subl 0xc00(%[s],%q[t],4), %k[u]\n\t"
                "xorl %k[u], %k[x]"
                : [x] "+r"(x), [i] "=&r"(i), [t] "=&r"(t), [u] "=&r"(u)
                : [y] "r"(y), [km] "m"(km), "c"(kr), [s] "r"(boxes), [second] "r"(second),
                  [third] "r"(third), "m"(JoinedBoxes)
                : "cc");
    }
}
constexpr bool HasBmiLanes = true;
#else
constexpr bool HasBmiLanes = false;
#endif

// Round n (type n % 3 + 1) for every lane: x ^= f(y), where the halves take
// turns, even rounds changing l and odd rounds r. Each round takes its own
// step across the lanes, with nothing carried between rounds but the halves.
template <bool Bmi, std::size_t N>
[[gnu::always_inline]] inline void RoundLanes(LaneWords& l, LaneWords& r, const std::uint32_t* km) noexcept {
    LaneWords& x = N % 2 == 0 ? l : r;
    LaneWords& y = N % 2 == 0 ? r : l;
    const std::uint32_t kr = km[16 + N];
    std::uint32_t ys[Lanes];
    y.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { ys[k] = w; });
    x.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) {
#if defined(__x86_64__)
        if constexpr (Bmi) {
            LaneRoundBmi<N % 3 + 1>(w, ys[k], km[N], kr, 0x0810, 0x0808);
            return;
        }
#endif
        LaneRound<N % 3 + 1>(w, ys[k], km[N], kr);
    });
}

template <bool Bmi, std::size_t... N>
[[gnu::always_inline]] inline void ForwardLanes(LaneWords& l, LaneWords& r, const std::uint32_t* km,
                                                std::index_sequence<N...>) noexcept {
    (RoundLanes<Bmi, N>(l, r, km), ...);
}
template <bool Bmi, std::size_t Last, std::size_t... N>
[[gnu::always_inline]] inline void BackwardLanes(LaneWords& l, LaneWords& r, const std::uint32_t* km,
                                                 std::index_sequence<N...>) noexcept {
    (RoundLanes<Bmi, Last - N>(l, r, km), ...);
}

// Whole groups of Lanes blocks; returns the bytes done. Same rounds and
// order as the one-block loops below. The subkeys are copied to the stack,
// where the rounds address them from the stack pointer: the register that
// held their address is one more for the lanes. Not inlined: inside the
// block functions it cost the serial modes' one-block calls about 1.5%.
template <bool Encrypting, bool Bmi>
[[gnu::noinline]] std::size_t CryptGroups(const std::uint32_t* subkeys, bool full, ConstBytes source, Bytes dest) noexcept {
    std::array<std::uint32_t, 32> km;
    std::copy_n(subkeys, km.size(), km.begin());
    const auto crypt = [&](std::uint32_t (&left)[Lanes], std::uint32_t (&right)[Lanes]) __attribute__((always_inline)) {
        LaneWords l, r;
        l.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { w = left[k]; });
        r.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { w = right[k]; });
        if constexpr (Encrypting) {
            ForwardLanes<Bmi>(l, r, km.data(), std::make_index_sequence<12>());
            if (full) ForwardLanes<Bmi>(l, r, km.data(), std::index_sequence<12, 13, 14, 15>());
        } else {
            // The halves arrive swapped: r holds what encryption left in l.
            if (full) BackwardLanes<Bmi, 15>(r, l, km.data(), std::make_index_sequence<4>());
            BackwardLanes<Bmi, 11>(r, l, km.data(), std::make_index_sequence<12>());
        }
        // The halves leave swapped.
        l.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { right[k] = w; });
        r.Each([&](std::uint32_t& w, std::size_t k) __attribute__((always_inline)) { left[k] = w; });
    };
    const std::size_t done = CryptGroupsBE<Lanes>(source, dest, crypt);
    SecureZero(km);
    return done;
}

// The serial modes come one block at a time: they skip the call.
template <bool Encrypting>
[[gnu::always_inline]] inline std::size_t CryptGroupsOnPath(bool bmi, const std::uint32_t* subkeys, bool full,
                                                            ConstBytes source, Bytes dest) noexcept {
    if (source.size() < 8 * Lanes) return 0;
    if constexpr (HasBmiLanes)
        if (bmi) return CryptGroups<Encrypting, true>(subkeys, full, source, dest);
    return CryptGroups<Encrypting, false>(subkeys, full, source, dest);
}

#if defined(KESTRUNE_WORD_LANES)
// Sixty-four blocks at a time, byte-sliced in AVX-512 registers
// (KCcastslices.h): no look-up goes to memory by the data.
using slices::Word16;
constexpr std::size_t SetBytes = 8 * 64;

// Round n (type n % 3 + 1) on the halves (x, y) of the round's parity,
// with the subkeys as the rounds above take them.
__attribute__((target(KC_SLICES_TARGET), always_inline)) inline void SlicedRound(
    std::size_t n, Word16 (&l)[4], Word16 (&r)[4], const std::uint32_t* km) noexcept {
    Word16(&x)[4] = n % 2 == 0 ? l : r;
    const Word16(&y)[4] = n % 2 == 0 ? r : l;
    switch (n % 3) {
    case 0: castslices::Round<1>(x, y, km[n], km[16 + n]); break;
    case 1: castslices::Round<2>(x, y, km[n], km[16 + n]); break;
    default: castslices::Round<3>(x, y, km[n], km[16 + n]); break;
    }
}

// Whole sets of sixty-four blocks; returns the bytes done. Decryption
// takes the halves the other way round, as the groups above do.
template <bool Encrypting>
__attribute__((target(KC_SLICES_TARGET), flatten)) std::size_t CryptSetsAvx512(const std::uint32_t* km,
                                                                               std::size_t rounds,
                                                                               ConstBytes source,
                                                                               Bytes dest) noexcept {
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        Word16 l[4], r[4];
        slices::LoadHalves(source.data() + off, l, r);
        if constexpr (Encrypting) {
            for (std::size_t n = 0; n < rounds; ++n) SlicedRound(n, l, r, km);
        } else {
            for (std::size_t n = rounds; n-- > 0;) SlicedRound(n, r, l, km);
        }
        slices::StoreHalves(dest.data() + off, r, l);  // the halves leave swapped
    }
    return done;
}

// Whole sets, then a rest of sixteen blocks or more as one set filled up
// with zeros; returns the bytes done.
template <bool Encrypting>
std::size_t CryptSliced(const std::uint32_t* km, std::size_t rounds, ConstBytes source, Bytes dest) noexcept {
    return slices::CryptPadded<SetBytes>(source, dest, 8 * 16, [&](ConstBytes in, Bytes out) {
        return CryptSetsAvx512<Encrypting>(km, rounds, in, out);
    });
}
#endif

// One step of the key schedule: a word of four S5..S8 look-ups.
inline std::uint32_t Mix(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint32_t extra) noexcept {
    return tables::Cast128S5[a] ^ tables::Cast128S6[b] ^ tables::Cast128S7[c] ^ tables::Cast128S8[d] ^ extra;
}

using KeyWords = std::array<std::uint32_t, 4>;

// Byte i of the 16 bytes the words hold, big-endian.
inline std::uint8_t Byte(const KeyWords& w, std::size_t i) noexcept {
    return static_cast<std::uint8_t>(w[i / 4] >> (24 - 8 * (i % 4)));
}

}  // namespace

std::string_view TKC_cast128::Provider() const noexcept {
    if (IsInitialized() ? SlicedPath : lanes::ByteSlicesUsable()) return "avx512";
    return (IsInitialized() ? BmiLanes : UsableBmiLanes()) ? "bmi2" : "portable";
}

bool TKC_cast128::UsableBmiLanes() noexcept { return HasBmiLanes && CpuFeatures::Has(CpuFeature::Bmi2); }

void TKC_cast128::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    BmiLanes = UsableBmiLanes();
    SlicedPath = lanes::ByteSlicesUsable();
    const std::size_t n = keyBits / 8;
    RoundCount = n <= 10 ? 12 : 16;
    // x and z as big-endian words, so that the chain from word to word
    // takes bytes by shifts rather than through memory just written.
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), n, padded.begin());
    KeyWords x, z;
    for (std::size_t i = 0; i < 4; ++i) x[i] = LoadBE32(ConstBytes(padded).subspan(4 * i, 4));
    SecureZero(padded);
    using tables::Cast128S5, tables::Cast128S6, tables::Cast128S7, tables::Cast128S8;

    // RFC 2144 section 2.4: the schedule runs twice over its four blocks,
    // giving 32 words; the second 16 become the rotation keys.
    for (std::size_t k = 0; k < 32; k += 16) {
        z[0] = x[0] ^ Mix(Byte(x, 0xD), Byte(x, 0xF), Byte(x, 0xC), Byte(x, 0xE), Cast128S7[Byte(x, 0x8)]);
        z[1] = x[2] ^ Mix(Byte(z, 0x0), Byte(z, 0x2), Byte(z, 0x1), Byte(z, 0x3), Cast128S8[Byte(x, 0xA)]);
        z[2] = x[3] ^ Mix(Byte(z, 0x7), Byte(z, 0x6), Byte(z, 0x5), Byte(z, 0x4), Cast128S5[Byte(x, 0x9)]);
        z[3] = x[1] ^ Mix(Byte(z, 0xA), Byte(z, 0x9), Byte(z, 0xB), Byte(z, 0x8), Cast128S6[Byte(x, 0xB)]);
        SubkeyWords[k + 0] = Mix(Byte(z, 0x8), Byte(z, 0x9), Byte(z, 0x7), Byte(z, 0x6), Cast128S5[Byte(z, 0x2)]);
        SubkeyWords[k + 1] = Mix(Byte(z, 0xA), Byte(z, 0xB), Byte(z, 0x5), Byte(z, 0x4), Cast128S6[Byte(z, 0x6)]);
        SubkeyWords[k + 2] = Mix(Byte(z, 0xC), Byte(z, 0xD), Byte(z, 0x3), Byte(z, 0x2), Cast128S7[Byte(z, 0x9)]);
        SubkeyWords[k + 3] = Mix(Byte(z, 0xE), Byte(z, 0xF), Byte(z, 0x1), Byte(z, 0x0), Cast128S8[Byte(z, 0xC)]);

        x[0] = z[2] ^ Mix(Byte(z, 0x5), Byte(z, 0x7), Byte(z, 0x4), Byte(z, 0x6), Cast128S7[Byte(z, 0x0)]);
        x[1] = z[0] ^ Mix(Byte(x, 0x0), Byte(x, 0x2), Byte(x, 0x1), Byte(x, 0x3), Cast128S8[Byte(z, 0x2)]);
        x[2] = z[1] ^ Mix(Byte(x, 0x7), Byte(x, 0x6), Byte(x, 0x5), Byte(x, 0x4), Cast128S5[Byte(z, 0x1)]);
        x[3] = z[3] ^ Mix(Byte(x, 0xA), Byte(x, 0x9), Byte(x, 0xB), Byte(x, 0x8), Cast128S6[Byte(z, 0x3)]);
        SubkeyWords[k + 4] = Mix(Byte(x, 0x3), Byte(x, 0x2), Byte(x, 0xC), Byte(x, 0xD), Cast128S5[Byte(x, 0x8)]);
        SubkeyWords[k + 5] = Mix(Byte(x, 0x1), Byte(x, 0x0), Byte(x, 0xE), Byte(x, 0xF), Cast128S6[Byte(x, 0xD)]);
        SubkeyWords[k + 6] = Mix(Byte(x, 0x7), Byte(x, 0x6), Byte(x, 0x8), Byte(x, 0x9), Cast128S7[Byte(x, 0x3)]);
        SubkeyWords[k + 7] = Mix(Byte(x, 0x5), Byte(x, 0x4), Byte(x, 0xA), Byte(x, 0xB), Cast128S8[Byte(x, 0x7)]);

        z[0] = x[0] ^ Mix(Byte(x, 0xD), Byte(x, 0xF), Byte(x, 0xC), Byte(x, 0xE), Cast128S7[Byte(x, 0x8)]);
        z[1] = x[2] ^ Mix(Byte(z, 0x0), Byte(z, 0x2), Byte(z, 0x1), Byte(z, 0x3), Cast128S8[Byte(x, 0xA)]);
        z[2] = x[3] ^ Mix(Byte(z, 0x7), Byte(z, 0x6), Byte(z, 0x5), Byte(z, 0x4), Cast128S5[Byte(x, 0x9)]);
        z[3] = x[1] ^ Mix(Byte(z, 0xA), Byte(z, 0x9), Byte(z, 0xB), Byte(z, 0x8), Cast128S6[Byte(x, 0xB)]);
        SubkeyWords[k + 8] = Mix(Byte(z, 0x3), Byte(z, 0x2), Byte(z, 0xC), Byte(z, 0xD), Cast128S5[Byte(z, 0x9)]);
        SubkeyWords[k + 9] = Mix(Byte(z, 0x1), Byte(z, 0x0), Byte(z, 0xE), Byte(z, 0xF), Cast128S6[Byte(z, 0xC)]);
        SubkeyWords[k + 10] = Mix(Byte(z, 0x7), Byte(z, 0x6), Byte(z, 0x8), Byte(z, 0x9), Cast128S7[Byte(z, 0x2)]);
        SubkeyWords[k + 11] = Mix(Byte(z, 0x5), Byte(z, 0x4), Byte(z, 0xA), Byte(z, 0xB), Cast128S8[Byte(z, 0x6)]);

        x[0] = z[2] ^ Mix(Byte(z, 0x5), Byte(z, 0x7), Byte(z, 0x4), Byte(z, 0x6), Cast128S7[Byte(z, 0x0)]);
        x[1] = z[0] ^ Mix(Byte(x, 0x0), Byte(x, 0x2), Byte(x, 0x1), Byte(x, 0x3), Cast128S8[Byte(z, 0x2)]);
        x[2] = z[1] ^ Mix(Byte(x, 0x7), Byte(x, 0x6), Byte(x, 0x5), Byte(x, 0x4), Cast128S5[Byte(z, 0x1)]);
        x[3] = z[3] ^ Mix(Byte(x, 0xA), Byte(x, 0x9), Byte(x, 0xB), Byte(x, 0x8), Cast128S6[Byte(z, 0x3)]);
        SubkeyWords[k + 12] = Mix(Byte(x, 0x8), Byte(x, 0x9), Byte(x, 0x7), Byte(x, 0x6), Cast128S5[Byte(x, 0x3)]);
        SubkeyWords[k + 13] = Mix(Byte(x, 0xA), Byte(x, 0xB), Byte(x, 0x5), Byte(x, 0x4), Cast128S6[Byte(x, 0x7)]);
        SubkeyWords[k + 14] = Mix(Byte(x, 0xC), Byte(x, 0xD), Byte(x, 0x3), Byte(x, 0x2), Cast128S7[Byte(x, 0x8)]);
        SubkeyWords[k + 15] = Mix(Byte(x, 0xE), Byte(x, 0xF), Byte(x, 0x1), Byte(x, 0x0), Cast128S8[Byte(x, 0xD)]);
    }
    for (std::size_t i = 16; i < 32; ++i) SubkeyWords[i] &= 31;
    SecureZero(x);
    SecureZero(z);
}

namespace {

// What one block's encryption needs, held in registers across the blocks
// of a serial mode.
struct Keyed {
    Boxes boxes;
    const std::uint32_t* km;
    bool full;

    // Round i swaps the halves; written without the swap, the halves
    // simply take turns, and the output block is (r, l).
    [[gnu::always_inline]] void Encrypt(std::uint32_t& l, std::uint32_t& r) const noexcept {
        const std::uint32_t* kr = km + 16;
        boxes.Forward(l, r, km, kr, 0);
        boxes.Forward(r, l, km, kr, 3);
        boxes.Forward(l, r, km, kr, 6);
        boxes.Forward(r, l, km, kr, 9);
        if (full) {
            boxes.Forward(l, r, km, kr, 12);
            r ^= boxes.Last(l, km, kr);
        }
        std::swap(l, r);
    }
};

using Halves = serial::Halves<Keyed>;

}  // namespace

void TKC_cast128::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const Keyed keyed{Boxes(), SubkeyWords.data(), RoundCount == 16};
    std::size_t sliced = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) sliced = CryptSliced<true>(keyed.km, RoundCount, source, dest);
#endif
    const std::size_t grouped =
        sliced + CryptGroupsOnPath<true>(BmiLanes, keyed.km, keyed.full, source.subspan(sliced), dest.subspan(sliced));
    for (std::size_t off = grouped; off < source.size(); off += 8) {
        Halves x = Halves::Load(source.subspan(off, 8));
        x.Encrypt(keyed);
        x.Store(dest.subspan(off, 8));
    }
}

void TKC_cast128::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<Halves>(Keyed{Boxes(), SubkeyWords.data(), RoundCount == 16}, chain, source, dest);
}

void TKC_cast128::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<Halves>(Keyed{Boxes(), SubkeyWords.data(), RoundCount == 16}, chain, source, dest);
}

void TKC_cast128::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<Halves>(Keyed{Boxes(), SubkeyWords.data(), RoundCount == 16}, chain, source, dest);
}

void TKC_cast128::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<Halves>(Keyed{Boxes(), SubkeyWords.data(), RoundCount == 16}, chain, source, dest);
}

void TKC_cast128::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const std::uint32_t* km = SubkeyWords.data();
    const std::uint32_t* kr = km + 16;
    const bool full = RoundCount == 16;
    const Boxes boxes;
    std::size_t sliced = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) sliced = CryptSliced<false>(km, RoundCount, source, dest);
#endif
    const std::size_t grouped =
        sliced + CryptGroupsOnPath<false>(BmiLanes, km, full, source.subspan(sliced), dest.subspan(sliced));
    for (std::size_t off = grouped; off < source.size(); off += 8) {
        std::uint32_t l = LoadBE32(source.subspan(off, 4)), r = LoadBE32(source.subspan(off + 4, 4));
        if (full) {
            l ^= boxes.Last(r, km, kr);
            boxes.Backward(r, l, km, kr, 12);
        }
        boxes.Backward(l, r, km, kr, 9);
        boxes.Backward(r, l, km, kr, 6);
        boxes.Backward(l, r, km, kr, 3);
        boxes.Backward(r, l, km, kr, 0);
        StoreBE32Block(dest.subspan(off, 4), r);
        StoreBE32Block(dest.subspan(off + 4, 4), l);
    }
}

bool TKC_cast128::SelfTest() {
    TKC_cast128 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Cast128SelfTestKey1, Cast128SelfTestPlain1, Cast128SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Cast128SelfTestKey2, Cast128SelfTestPlain2, Cast128SelfTestCipher2);
    const bool third = CheckBlockVector(cipher, Cast128SelfTestKey3, Cast128SelfTestPlain3, Cast128SelfTestCipher3);
    return first && second && third;
}

}  // namespace kestrune
