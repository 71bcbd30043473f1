#include "KCrc2.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

#include "KCrc2_tables.inc"
#include "KCwordlanes.h"

namespace kestrune {
namespace {

// The rounds are written once over a word type W: a plain 16-bit word for
// one block, or a vector of them that carries a block per lane. Vectors
// pass by reference only: a wide vector by value would change the calling
// convention between code built for different targets.
template <typename W>
struct Words {
    W r0, r1, r2, r3;
};

// r += K[j] + (x & y) + (~x & z), rotated left. The sum picks, bit by bit,
// y where x is set and z elsewhere: z ^ (x & (y ^ z)), where y ^ z is
// ready before x, the word just mixed.
template <typename W>
[[gnu::always_inline]] inline void Mix(W& r, std::uint16_t k, const W& x, const W& y, const W& z,
                                       int rotation) noexcept {
    r = W(r + k + W(z ^ (x & (y ^ z))));
    r = W((r << rotation) | (r >> (16 - rotation)));
}

template <typename W>
[[gnu::always_inline]] inline void Unmix(W& r, std::uint16_t k, const W& x, const W& y, const W& z,
                                         int rotation) noexcept {
    r = W((r >> rotation) | (r << (16 - rotation)));
    r = W(r - k - W(z ^ (x & (y ^ z))));
}

// r += K[x & 63] (or -=), lane by lane: mashing indexes the key by the data.
template <bool Adding, typename W>
[[gnu::always_inline]] inline void Mash(W& r, const std::uint16_t* k, const W& x) noexcept {
    W t;
    if constexpr (std::is_same_v<W, std::uint16_t>) {
        t = k[x & 63];
    } else {
        for (std::size_t i = 0; i < sizeof(W) / 2; ++i) t[i] = k[x[i] & 63];
    }
    r = Adding ? W(r + t) : W(r - t);
}

// R[i] += K[j] + (R[i-1] & R[i-2]) + (~R[i-1] & R[i-3]), rotated by 1, 2, 3, 5.
template <typename W>
[[gnu::always_inline]] inline void MixingRound(Words<W>& w, const std::uint16_t* k) noexcept {
    Mix(w.r0, k[0], w.r3, w.r2, w.r1, 1);
    Mix(w.r1, k[1], w.r0, w.r3, w.r2, 2);
    Mix(w.r2, k[2], w.r1, w.r0, w.r3, 3);
    Mix(w.r3, k[3], w.r2, w.r1, w.r0, 5);
}

template <typename W>
[[gnu::always_inline]] inline void MashingRound(Words<W>& w, const std::uint16_t* k) noexcept {
    Mash<true>(w.r0, k, w.r3);
    Mash<true>(w.r1, k, w.r0);
    Mash<true>(w.r2, k, w.r1);
    Mash<true>(w.r3, k, w.r2);
}

template <typename W>
[[gnu::always_inline]] inline void ReverseMixingRound(Words<W>& w, const std::uint16_t* k) noexcept {
    Unmix(w.r3, k[3], w.r2, w.r1, w.r0, 5);
    Unmix(w.r2, k[2], w.r1, w.r0, w.r3, 3);
    Unmix(w.r1, k[1], w.r0, w.r3, w.r2, 2);
    Unmix(w.r0, k[0], w.r3, w.r2, w.r1, 1);
}

template <typename W>
[[gnu::always_inline]] inline void ReverseMashingRound(Words<W>& w, const std::uint16_t* k) noexcept {
    Mash<false>(w.r3, k, w.r2);
    Mash<false>(w.r2, k, w.r1);
    Mash<false>(w.r1, k, w.r0);
    Mash<false>(w.r0, k, w.r3);
}

// The rounds of N sets of words, round by round. Several sets at once:
// each set's rounds are one chain of dependent steps, and the chains of
// the others fill its waits.
template <bool Encrypting, typename W, std::size_t N>
[[gnu::always_inline]] inline void Rounds(const std::uint16_t* k, Words<W> (&w)[N]) noexcept {
    const auto each = [&w](auto round) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < N; ++b) round(w[b]);
    };
    if constexpr (Encrypting) {
        // Five mixing rounds, mashing, six mixing, mashing, five mixing.
        for (int j = 0; j < 20; j += 4) each([&](Words<W>& x) { MixingRound(x, k + j); });
        each([&](Words<W>& x) { MashingRound(x, k); });
        for (int j = 20; j < 44; j += 4) each([&](Words<W>& x) { MixingRound(x, k + j); });
        each([&](Words<W>& x) { MashingRound(x, k); });
        for (int j = 44; j < 64; j += 4) each([&](Words<W>& x) { MixingRound(x, k + j); });
    } else {
        for (int j = 60; j >= 44; j -= 4) each([&](Words<W>& x) { ReverseMixingRound(x, k + j); });
        each([&](Words<W>& x) { ReverseMashingRound(x, k); });
        for (int j = 40; j >= 20; j -= 4) each([&](Words<W>& x) { ReverseMixingRound(x, k + j); });
        each([&](Words<W>& x) { ReverseMashingRound(x, k); });
        for (int j = 16; j >= 0; j -= 4) each([&](Words<W>& x) { ReverseMixingRound(x, k + j); });
    }
}

}  // namespace

void TKC_rc2::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t n = keyBits / 8;  // at least 1 (MinKeyBits)
    std::array<std::uint8_t, 128> l;
    std::copy_n(key.begin(), n, l.begin());
    for (std::size_t i = n; i < 128; ++i) l[i] = tables::Rc2PiTable[(l[i - 1] + l[i - n]) & 0xFF];
    // The reduction to an effective key length stops at this step for 1024 bits.
    l[0] = tables::Rc2PiTable[l[0]];
    for (std::size_t i = 0; i < 64; ++i) ExpandedKey[i] = static_cast<std::uint16_t>(l[2 * i] | (l[2 * i + 1] << 8));
    SecureZero(l);
    ChoosePath();
}

namespace {

inline Words<std::uint16_t> Load(ConstBytes block) noexcept {
    const std::uint32_t a = LoadLE32(block.first(4)), b = LoadLE32(block.subspan(4, 4));
    return {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(a >> 16), static_cast<std::uint16_t>(b),
            static_cast<std::uint16_t>(b >> 16)};
}

inline void Store(Bytes block, const Words<std::uint16_t>& w) noexcept {
    StoreLE32(block.first(4), w.r0 | (std::uint32_t{w.r1} << 16));
    StoreLE32(block.subspan(4, 4), w.r2 | (std::uint32_t{w.r3} << 16));
}

// N blocks from OFF on, in plain words.
template <bool Encrypting, std::size_t N>
[[gnu::always_inline]] inline void CryptBlocks(const std::uint16_t* k, ConstBytes source, Bytes dest,
                                               std::size_t off) noexcept {
    Words<std::uint16_t> w[N];
    for (std::size_t b = 0; b < N; ++b) w[b] = Load(source.subspan(off + 8 * b, 8));
    Rounds<Encrypting>(k, w);
    for (std::size_t b = 0; b < N; ++b) Store(dest.subspan(off + 8 * b, 8), w[b]);
}

// Four chains fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// Whole groups of Lanes blocks, then the rest one by one.
template <bool Encrypting>
void CryptPortable(const std::uint16_t* k, ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t grouped = source.size() / group * group;
    std::size_t off = 0;
    for (; off < grouped; off += group) CryptBlocks<Encrypting, Lanes>(k, source, dest, off);
    for (; off < source.size(); off += 8) CryptBlocks<Encrypting, 1>(k, source, dest, off);
}

#ifdef KESTRUNE_WORD_LANES
using Half8 = std::uint16_t __attribute__((vector_size(16)));
using Half16 = std::uint16_t __attribute__((vector_size(32)));

// Lane i of the interleave of a and b by units of Unit lanes, taken from the
// low (or High) halves of each 128-bit part: the unpack instructions.
template <std::size_t Lanes, std::size_t Unit, bool High>
constexpr int InterleaveLane(std::size_t i) noexcept {
    const std::size_t part = i / 8, j = i % 8, unit = j / Unit;
    const std::size_t from = unit / 2 + (High ? 4 / Unit : 0);
    return static_cast<int>(part * 8 + from * Unit + j % Unit + (unit % 2 != 0 ? Lanes : 0));
}

template <std::size_t Unit, bool High, typename V, std::size_t... I>
[[gnu::always_inline]] inline void Interleave(V& out, const V& a, const V& b, std::index_sequence<I...>) noexcept {
    out = __builtin_shufflevector(a, b, InterleaveLane<sizeof(V) / 2, Unit, High>(I)...);
}

// lo and hi from the low and the high halves; neither may be a or b.
template <std::size_t Unit, typename V>
[[gnu::always_inline]] inline void Unpack(V& lo, V& hi, const V& a, const V& b) noexcept {
    constexpr auto lanes = std::make_index_sequence<sizeof(V) / 2>{};
    Interleave<Unit, false>(lo, a, b, lanes);
    Interleave<Unit, true>(hi, a, b, lanes);
}

// Four registers of blocks (two to each 128-bit part) to one register per
// word position, and back: two interleaves of words and one of 64-bit
// halves. Any order of blocks in the lanes serves while they are lanes.
template <typename V>
[[gnu::always_inline]] inline void ToLanes(Words<V>& w, const V (&r)[4]) noexcept {
    V t0, t1, t2, t3, u0, u1, u2, u3;
    Unpack<1>(t0, t1, r[0], r[1]), Unpack<1>(t2, t3, r[2], r[3]);
    Unpack<1>(u0, u1, t0, t1), Unpack<1>(u2, u3, t2, t3);
    Unpack<4>(w.r0, w.r1, u0, u2), Unpack<4>(w.r2, w.r3, u1, u3);
}

template <typename V>
[[gnu::always_inline]] inline void FromLanes(V (&r)[4], const Words<V>& w) noexcept {
    V u0, u1, u2, u3, p0, q0, p1, q1;
    Unpack<4>(u0, u2, w.r0, w.r1), Unpack<4>(u1, u3, w.r2, w.r3);
    Unpack<1>(p0, q0, u0, u1), Unpack<1>(p1, q1, u2, u3);
    Unpack<1>(r[0], r[1], p0, q0), Unpack<1>(r[2], r[3], p1, q1);
}

// Two sets in flight where sixteen vector registers hold them; 32-bit code
// has eight, and takes one.
constexpr std::size_t SetsInFlight = sizeof(void*) == 8 ? 2 : 1;

// Whole groups of Sets sets of blocks (four registers each); returns the bytes done.
template <bool Encrypting, typename V, std::size_t Sets>
[[gnu::always_inline]] inline std::size_t CryptSets(const std::uint16_t* k, ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t set = 4 * sizeof(V), group = Sets * set;
    const std::size_t done = source.size() / group * group;
    for (std::size_t off = 0; off < done; off += group) {
        Words<V> w[Sets];
        for (std::size_t i = 0; i < Sets; ++i) {
            V r[4];
            std::memcpy(r, source.data() + off + i * set, set);
            ToLanes(w[i], r);
        }
        Rounds<Encrypting>(k, w);
        for (std::size_t i = 0; i < Sets; ++i) {
            V r[4];
            FromLanes(r, w[i]);
            std::memcpy(dest.data() + off + i * set, r, set);
        }
    }
    return done;
}

template <bool Encrypting, typename V>
[[gnu::always_inline]] inline std::size_t CryptInFlight(const std::uint16_t* k, ConstBytes source, Bytes dest) noexcept {
    std::size_t done = CryptSets<Encrypting, V, SetsInFlight>(k, source, dest);
    if constexpr (SetsInFlight > 1)
        done += CryptSets<Encrypting, V, 1>(k, source.subspan(done), dest.subspan(done));
    return done;
}

template <bool Encrypting>
__attribute__((target("sse2"), flatten)) std::size_t CryptSse2(const std::uint16_t* k, ConstBytes source,
                                                               Bytes dest) noexcept {
    return CryptInFlight<Encrypting, Half8>(k, source, dest);
}

template <bool Encrypting>
__attribute__((target("avx2"), flatten)) std::size_t CryptAvx2(const std::uint16_t* k, ConstBytes source,
                                                               Bytes dest) noexcept {
    return CryptInFlight<Encrypting, Half16>(k, source, dest);
}
#endif

// Whole groups of lanes on the path chosen at keying; the rest on plain words.
template <bool Encrypting>
void Crypt(std::uint8_t path, const std::uint16_t* k, ConstBytes source, Bytes dest) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_WORD_LANES
    if (path == lanes::PathAvx2 && source.size() >= 4 * sizeof(Half16))
        done = CryptAvx2<Encrypting>(k, source, dest);
    else if (path == lanes::PathSse2 && source.size() >= 4 * sizeof(Half8))
        done = CryptSse2<Encrypting>(k, source, dest);
#else
    static_cast<void>(path);
#endif
    CryptPortable<Encrypting>(k, source.subspan(done), dest.subspan(done));
}

}  // namespace

void TKC_rc2::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, ExpandedKey.data(), source, dest);
}

void TKC_rc2::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, ExpandedKey.data(), source, dest);
}

bool TKC_rc2::SelfTest() {
    TKC_rc2 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Rc2SelfTestKey1, Rc2SelfTestPlain1, Rc2SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Rc2SelfTestKey2, Rc2SelfTestPlain2, Rc2SelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
