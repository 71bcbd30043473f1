#include "KCcast256.h"

#include <algorithm>

#include "KCcastslices.h"
#include "KCcast256_tables.inc"

namespace kestrune {
namespace {

using tables::Cast256SBoxes;

constexpr std::uint32_t Box(std::size_t i, std::uint32_t x, unsigned shift) noexcept {
    return Cast256SBoxes[i][(x >> shift) & 0xFF];
}

// The three round types, each giving the new value of the word x it
// changes (x ^ f(d)); Ia is the most significant byte of I. They take I
// turned left by 8 more (kr8 = kr + 8): Ia and Ib, which f combines first,
// are then its low and top bytes, one instruction from their tables, and
// the bytes that take two are the ones combined last. In the second type,
// x ^ Id waits on no other look-up; KeepSum keeps the compiler from
// regrouping the sums around the late bytes again.
inline std::uint32_t F1(std::uint32_t x, std::uint32_t d, std::uint32_t kr8, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km + d, kr8);
    return x ^ (((Box(0, i, 0) ^ Box(1, i, 24)) - Box(2, i, 16)) + Box(3, i, 8));
}
inline std::uint32_t F2(std::uint32_t x, std::uint32_t d, std::uint32_t kr8, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km ^ d, kr8);
    std::uint32_t outer = x ^ Box(3, i, 8), inner = Box(0, i, 0) - Box(1, i, 24);
    KeepSum(outer), KeepSum(inner);
    return outer ^ (inner + Box(2, i, 16));
}
inline std::uint32_t F3(std::uint32_t x, std::uint32_t d, std::uint32_t kr8, std::uint32_t km) noexcept {
    const std::uint32_t i = Rol32(km - d, kr8);
    return x ^ (((Box(0, i, 0) + Box(1, i, 24)) ^ Box(2, i, 16)) - Box(3, i, 8));
}

struct Quad {
    std::uint32_t a, b, c, d;

    Quad operator^(const Quad& y) const noexcept { return {a ^ y.a, b ^ y.b, c ^ y.c, d ^ y.d}; }
    // Keeps the words in general registers: left alone, the compiler moves
    // a block through a vector register and memory between the rounds.
    void Pin() noexcept { KeepSum(a), KeepSum(b), KeepSum(c), KeepSum(d); }
    void Wipe() noexcept {
        a = b = c = d = 0;
        Pin();
    }
};

using KeyTable = std::array<std::array<std::uint32_t, 4>, 12>;

// The forward and reverse quad-rounds for N blocks at once, each step taken
// for every block before the next: one block's quad-round is a chain of four
// dependent look-up rounds, and the other blocks' chains fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks).
template <std::size_t N>
[[gnu::always_inline]] inline void Forward(Quad (&q)[N], const std::array<std::uint32_t, 4>& kr,
                                           const std::array<std::uint32_t, 4>& km) noexcept {
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].c = F1(q[k].c, q[k].d, kr[0], km[0]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].b = F2(q[k].b, q[k].c, kr[1], km[1]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].a = F3(q[k].a, q[k].b, kr[2], km[2]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].d = F1(q[k].d, q[k].a, kr[3], km[3]);
}

template <std::size_t N>
[[gnu::always_inline]] inline void Reverse(Quad (&q)[N], const std::array<std::uint32_t, 4>& kr,
                                           const std::array<std::uint32_t, 4>& km) noexcept {
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].d = F1(q[k].d, q[k].a, kr[3], km[3]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].a = F3(q[k].a, q[k].b, kr[2], km[2]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].b = F2(q[k].b, q[k].c, kr[1], km[1]);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < N; ++k) q[k].c = F1(q[k].c, q[k].d, kr[0], km[0]);
}

// Four chains fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

Quad Load(ConstBytes in) noexcept {
    Quad q{LoadBE32(in), LoadBE32(in.subspan(4)), LoadBE32(in.subspan(8)), LoadBE32(in.subspan(12))};
    q.Pin();
    return q;
}

void Store(Bytes out, const Quad& q) noexcept {
    StoreBE32(out, q.a);
    StoreBE32(out.subspan(4), q.b);
    StoreBE32(out.subspan(8), q.c);
    StoreBE32(out.subspan(12), q.d);
}

}  // namespace

namespace {

// Tm and Tr (plus 8, as F takes it) of the 24 octaves, eight of each: the
// same for every key.
struct OctaveConstants {
    std::array<std::array<std::uint32_t, 8>, 24> m, r;
};
constexpr OctaveConstants Octaves = [] {
    OctaveConstants t{};
    std::uint32_t cm = 0x5A827999U, cr = 19;
    for (std::size_t o = 0; o < 24; ++o)
        for (std::size_t j = 0; j < 8; ++j) {
            t.m[o][j] = cm, cm += 0x6ED9EBA1U;
            t.r[o][j] = (cr + 8) % 32, cr += 17;
        }
    return t;
}();

// Octave o of the key schedule on kappa = A..H.
[[gnu::always_inline]] inline void Octave(std::array<std::uint32_t, 8>& k, std::size_t o) noexcept {
    const auto& tm = Octaves.m[o];
    const auto& tr = Octaves.r[o];
    auto& [A, B, C, D, E, F, G, H] = k;
    G = F1(G, H, tr[0], tm[0]);
    F = F2(F, G, tr[1], tm[1]);
    E = F3(E, F, tr[2], tm[2]);
    D = F1(D, E, tr[3], tm[3]);
    C = F2(C, D, tr[4], tm[4]);
    B = F3(B, C, tr[5], tm[5]);
    A = F1(A, B, tr[6], tm[6]);
    H = F2(H, A, tr[7], tm[7]);
}

}  // namespace

void TKC_cast256::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::array<std::uint32_t, 8> k;  // kappa = A..H
    for (std::size_t i = 0; i < 8; ++i) k[i] = LoadBE32(ConstBytes(padded).subspan(4 * i));
    for (std::size_t i = 0; i < 12; ++i) {
        Octave(k, 2 * i);
        Octave(k, 2 * i + 1);
        RotationKeys[i] = {(k[0] + 8) & 31, (k[2] + 8) & 31, (k[4] + 8) & 31, (k[6] + 8) & 31};
        MaskingKeys[i] = {k[7], k[5], k[3], k[1]};
    }
    SecureFill(padded, 0xFF);
    SecureFill(k, 0xFF);
    SlicedPath = lanes::ByteSlicesUsable();
}

namespace {

// Six forward quad-rounds and six reverse ones; decryption runs them the
// other way round with the keys in reverse order.
template <bool Encrypting, std::size_t N>
void CryptQuads(const KeyTable& kr, const KeyTable& km, Quad (&q)[N]) noexcept {
    if constexpr (Encrypting) {
        for (std::size_t i = 0; i < 6; ++i) Forward(q, kr[i], km[i]);
        for (std::size_t i = 6; i < 12; ++i) Reverse(q, kr[i], km[i]);
    } else {
        for (std::size_t i = 12; i-- > 6;) Forward(q, kr[i], km[i]);
        for (std::size_t i = 6; i-- > 0;) Reverse(q, kr[i], km[i]);
    }
}

// Whole groups of Lanes blocks, then the rest one by one.
template <bool Encrypting>
void CryptBlocks(const KeyTable& kr, const KeyTable& km, ConstBytes source,
                 Bytes dest) noexcept {
    constexpr std::size_t group = 16 * Lanes;
    std::size_t off = 0;
    for (; off + group <= source.size(); off += group) {
        Quad q[Lanes];
        for (std::size_t k = 0; k < Lanes; ++k) q[k] = Load(source.subspan(off + 16 * k, 16));
        CryptQuads<Encrypting>(kr, km, q);
        for (std::size_t k = 0; k < Lanes; ++k) Store(dest.subspan(off + 16 * k, 16), q[k]);
    }
    for (; off < source.size(); off += 16) {
        Quad q[1] = {Load(source.subspan(off, 16))};
        CryptQuads<Encrypting>(kr, km, q);
        Store(dest.subspan(off, 16), q[0]);
    }
}

#if defined(KESTRUNE_WORD_LANES)
// Sixty-four blocks at a time, byte-sliced in AVX-512 registers
// (KCcastslices.h): no look-up goes to memory by the data.
using slices::V;
using slices::Word16;
constexpr std::size_t SetBytes = 16 * 64;

#define KC_INLINE __attribute__((target(KC_SLICES_TARGET), always_inline)) inline

// The rotation keys hold kr + 8, as the scalar rounds take them.
template <int Type>
KC_INLINE void SlicedRound(Word16 (&x)[4], const Word16 (&d)[4], std::uint32_t kr8, std::uint32_t km) noexcept {
    castslices::Round<Type>(x, d, km, (kr8 + 24) & 31);
}

struct SetQuads {
    Word16 a[4], b[4], c[4], d[4];
};

KC_INLINE void SlicedForward(SetQuads& q, const std::array<std::uint32_t, 4>& kr,
                             const std::array<std::uint32_t, 4>& km) noexcept {
    SlicedRound<1>(q.c, q.d, kr[0], km[0]);
    SlicedRound<2>(q.b, q.c, kr[1], km[1]);
    SlicedRound<3>(q.a, q.b, kr[2], km[2]);
    SlicedRound<1>(q.d, q.a, kr[3], km[3]);
}
KC_INLINE void SlicedReverse(SetQuads& q, const std::array<std::uint32_t, 4>& kr,
                             const std::array<std::uint32_t, 4>& km) noexcept {
    SlicedRound<1>(q.d, q.a, kr[3], km[3]);
    SlicedRound<3>(q.a, q.b, kr[2], km[2]);
    SlicedRound<2>(q.b, q.c, kr[1], km[1]);
    SlicedRound<1>(q.c, q.d, kr[0], km[0]);
}

#undef KC_INLINE

// Whole sets of sixty-four blocks; returns the bytes done.
template <bool Encrypting>
__attribute__((target(KC_SLICES_TARGET), flatten)) std::size_t CryptSetsAvx512(const KeyTable& kr,
                                                                               const KeyTable& km,
                                                                               ConstBytes source,
                                                                               Bytes dest) noexcept {
    const std::size_t done = source.size() / SetBytes * SetBytes;
    for (std::size_t off = 0; off < done; off += SetBytes) {
        SetQuads q;
        slices::LoadQuads<true>(source.data() + off, q.a, q.b, q.c, q.d);
        if constexpr (Encrypting) {
            for (std::size_t i = 0; i < 6; ++i) SlicedForward(q, kr[i], km[i]);
            for (std::size_t i = 6; i < 12; ++i) SlicedReverse(q, kr[i], km[i]);
        } else {
            for (std::size_t i = 12; i-- > 6;) SlicedForward(q, kr[i], km[i]);
            for (std::size_t i = 6; i-- > 0;) SlicedReverse(q, kr[i], km[i]);
        }
        slices::StoreQuads<true>(dest.data() + off, q.a, q.b, q.c, q.d);
    }
    return done;
}

// Whole sets, then a rest of sixteen blocks or more as one set filled up
// with zeros; returns the bytes done.
template <bool Encrypting>
std::size_t CryptSliced(const KeyTable& kr, const KeyTable& km, ConstBytes source, Bytes dest) noexcept {
    return slices::CryptPadded<SetBytes>(source, dest, 16 * 16, [&](ConstBytes in, Bytes out) {
        return CryptSetsAvx512<Encrypting>(kr, km, in, out);
    });
}
#endif

}  // namespace

std::string_view TKC_cast256::Provider() const noexcept {
    return (IsInitialized() ? SlicedPath : lanes::ByteSlicesUsable()) ? "avx512" : "portable";
}

void TKC_cast256::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t done = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) done = CryptSliced<true>(RotationKeys, MaskingKeys, source, dest);
#endif
    CryptBlocks<true>(RotationKeys, MaskingKeys, source.subspan(done), dest.subspan(done));
}

void TKC_cast256::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    std::size_t done = 0;
#if defined(KESTRUNE_WORD_LANES)
    if (SlicedPath) done = CryptSliced<false>(RotationKeys, MaskingKeys, source, dest);
#endif
    CryptBlocks<false>(RotationKeys, MaskingKeys, source.subspan(done), dest.subspan(done));
}

// The serial modes keep the chaining value in registers from block to
// block: no call, load or store per block on the chain.
[[gnu::flatten]] void TKC_cast256::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Quad x[1] = {Load(chain)};
    for (std::size_t off = 0; off < source.size(); off += 16) {
        x[0] = x[0] ^ Load(source.subspan(off, 16));
        CryptQuads<true>(RotationKeys, MaskingKeys, x);
        x[0].Pin();
        Store(dest.subspan(off, 16), x[0]);
    }
    Store(chain, x[0]);
    x[0].Wipe();
}

[[gnu::flatten]] void TKC_cast256::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Quad x[1] = {Load(chain)};
    for (std::size_t off = 0; off < source.size(); off += 16) {
        CryptQuads<true>(RotationKeys, MaskingKeys, x);
        x[0].Pin();
        x[0] = x[0] ^ Load(source.subspan(off, 16));
        Store(dest.subspan(off, 16), x[0]);
    }
    Store(chain, x[0]);
    x[0].Wipe();
}

[[gnu::flatten]] void TKC_cast256::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Quad x[1] = {Load(chain)};
    for (std::size_t off = 0; off < source.size(); off += 16) {
        CryptQuads<true>(RotationKeys, MaskingKeys, x);
        x[0].Pin();
        Store(dest.subspan(off, 16), x[0] ^ Load(source.subspan(off, 16)));
    }
    Store(chain, x[0]);
    x[0].Wipe();
}

[[gnu::flatten]] void TKC_cast256::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    Quad x[1] = {Load(chain)};
    for (std::size_t i = 0; i < source.size(); ++i) {
        Quad y[1] = {x[0]};
        CryptQuads<true>(RotationKeys, MaskingKeys, y);
        const std::uint32_t c = source[i] ^ (y[0].a >> 24);
        dest[i] = static_cast<std::uint8_t>(c);
        // The register moves on by a byte: the first falls out, c comes in last.
        Quad& r = x[0];
        r = {(r.a << 8) | (r.b >> 24), (r.b << 8) | (r.c >> 24), (r.c << 8) | (r.d >> 24), (r.d << 8) | c};
        y[0].Wipe();
    }
    Store(chain, x[0]);
    x[0].Wipe();
}

bool TKC_cast256::SelfTest() {
    TKC_cast256 cipher;
    const bool k128 = CheckBlockVector(cipher, tables::Cast256SelfTestKey1, tables::Cast256SelfTestPlain1,
                                       tables::Cast256SelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::Cast256SelfTestKey2, tables::Cast256SelfTestPlain2,
                                       tables::Cast256SelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::Cast256SelfTestKey3, tables::Cast256SelfTestPlain3,
                                       tables::Cast256SelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
