#include "KCrc6.h"

#include <algorithm>

#include "KCserial.h"
#include "KCwordlanes.h"

#include "KCrc6_tables.inc"

namespace kestrune {

namespace {

using Schedule = std::array<std::uint32_t, 44>;
template <typename W, std::size_t Sets>
using Words = W[Sets];

// The rounds are written once over a word type W: a plain word for one
// block, or a vector that carries a block per lane; each step of every set
// right after the same step of the others, so that the sets' chains of
// multiplications and rotations overlap. The words change roles from
// round to round (a, b, c, d become b, c, d, a): the callers pass them
// turned, rather than moving them.
//
// x(2x + 1) is summed as x + 2x^2: the product starts at once, and the sum
// after it is a two-part address (one cycle) where 2x + 1 before it took a
// three-part one (two cycles) on the chain from round to round.
template <typename W>
inline void Quadratic(W& t, const W& x) noexcept {
    const W square = x * x;
    t = x + square + square;
    t = (t << 5) | (t >> 27);
}

template <typename W, std::size_t Sets>
inline void Round(Words<W, Sets>& a, const Words<W, Sets>& b, Words<W, Sets>& c, const Words<W, Sets>& d,
                  const Schedule& s, std::size_t i) noexcept {
#pragma GCC unroll 8
    for (std::size_t k = 0; k < Sets; ++k) {
        W t, u;
        Quadratic(t, b[k]), Quadratic(u, d[k]);
        a[k] ^= t, c[k] ^= u;
        lanes::RotlBy(a[k], u), lanes::RotlBy(c[k], t);
        a[k] += s[i], c[k] += s[i + 1];
    }
}

template <typename W, std::size_t Sets>
inline void InverseRound(Words<W, Sets>& a, const Words<W, Sets>& b, Words<W, Sets>& c, const Words<W, Sets>& d,
                         const Schedule& s, std::size_t i) noexcept {
#pragma GCC unroll 8
    for (std::size_t k = 0; k < Sets; ++k) {
        W t, u;
        Quadratic(t, b[k]), Quadratic(u, d[k]);
        c[k] -= s[i + 1], a[k] -= s[i];
        lanes::RotrBy(c[k], t), lanes::RotrBy(a[k], u);
        c[k] ^= u, a[k] ^= t;
    }
}

template <bool Encrypting, typename W, std::size_t Sets>
inline void Rounds(const Schedule& s, Words<W, Sets>& a, Words<W, Sets>& b, Words<W, Sets>& c,
                   Words<W, Sets>& d) noexcept {
    if constexpr (Encrypting) {
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) b[k] += s[0], d[k] += s[1];
        // Twenty rounds, four role turns each pass: the roles end where they began.
        for (std::size_t i = 2; i < 42; i += 8) {
            Round(a, b, c, d, s, i);
            Round(b, c, d, a, s, i + 2);
            Round(c, d, a, b, s, i + 4);
            Round(d, a, b, c, s, i + 6);
        }
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) a[k] += s[42], c[k] += s[43];
    } else {
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) a[k] -= s[42], c[k] -= s[43];
        for (std::size_t i = 40; i >= 2; i -= 8) {
            InverseRound(d, a, b, c, s, i);
            InverseRound(c, d, a, b, s, i - 2);
            InverseRound(b, c, d, a, s, i - 4);
            InverseRound(a, b, c, d, s, i - 6);
        }
#pragma GCC unroll 8
        for (std::size_t k = 0; k < Sets; ++k) b[k] -= s[0], d[k] -= s[1];
    }
}

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Schedule& s, ConstBytes source, Bytes dest) noexcept {
    lanes::CryptOnPath<lanes::Quads, TKC_rc6::HasSse2Path>(path, source, dest, [&s](auto& a, auto& b, auto& c, auto& d) {
        Rounds<Encrypting>(s, a, b, c, d);
    });
}

// One block's words, for the serial modes (KCserial.h).
struct Single {
    static constexpr std::size_t Size = 16;
    std::uint32_t a[1], b[1], c[1], d[1];

    // Pinned to general registers: left alone, the compiler moves the block
    // through a vector register and memory between the rounds.
    static Single Load(ConstBytes in) noexcept {
        Single x{{LoadLE32(in)}, {LoadLE32(in.subspan(4))}, {LoadLE32(in.subspan(8))}, {LoadLE32(in.subspan(12))}};
        x.Pin();
        return x;
    }
    void Pin() noexcept { KeepSum(a[0]), KeepSum(b[0]), KeepSum(c[0]), KeepSum(d[0]); }
    void Store(Bytes out) const noexcept {
        StoreLE32(out, a[0]), StoreLE32(out.subspan(4), b[0]);
        StoreLE32(out.subspan(8), c[0]), StoreLE32(out.subspan(12), d[0]);
    }
    Single operator^(const Single& y) const noexcept {
        return {{a[0] ^ y.a[0]}, {b[0] ^ y.b[0]}, {c[0] ^ y.c[0]}, {d[0] ^ y.d[0]}};
    }
    void Encrypt(const Schedule& s) noexcept {
        Rounds<true>(s, a, b, c, d);
        Pin();
    }
    std::uint32_t FirstByte() const noexcept { return a[0] & 0xFF; }
    void ShiftIn(std::uint32_t byte) noexcept {
        *this = {{(a[0] >> 8) | (b[0] << 24)}, {(b[0] >> 8) | (c[0] << 24)}, {(c[0] >> 8) | (d[0] << 24)},
                 {(d[0] >> 8) | (byte << 24)}};
    }
    void Wipe() noexcept {
        a[0] = b[0] = c[0] = d[0] = 0;
        Pin();
    }
};

}  // namespace

void TKC_rc6::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t b = keyBits / 8;
    const std::size_t c = (b + 3) / 4;
    std::array<std::uint8_t, 256> bytes{};
    std::copy_n(key.begin(), b, bytes.begin());
    std::array<std::uint32_t, 64> L;
    for (std::size_t i = 0; i < c; ++i) L[i] = LoadLE32(ConstBytes(bytes).subspan(4 * i));
    auto& S = ExpandedKey;
    // The magic constants P32 and Q32 (from e and the golden ratio).
    S[0] = 0xB7E15163U;
    for (std::size_t i = 1; i < 44; ++i) S[i] = S[i - 1] + 0x9E3779B9U;
    std::uint32_t A = 0, B = 0;
    for (std::size_t s = 0, i = 0, j = 0; s < 3 * std::max<std::size_t>(c, 44); ++s) {
        A = S[i] = Rol32(S[i] + A + B, 3);
        B = L[j] = Rol32(L[j] + A + B, A + B);
        i = (i + 1) % 44;
        j = (j + 1) % c;
    }
    SecureZero(bytes);
    SecureZero(L);
    ChoosePath();
}

void TKC_rc6::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, ExpandedKey, source, dest);
}

void TKC_rc6::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, ExpandedKey, source, dest);
}

[[gnu::flatten]] void TKC_rc6::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc6::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc6::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<Single>(ExpandedKey, chain, source, dest);
}

[[gnu::flatten]] void TKC_rc6::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<Single>(ExpandedKey, chain, source, dest);
}

bool TKC_rc6::SelfTest() {
    TKC_rc6 cipher;
    const bool k128 =
        CheckBlockVector(cipher, tables::RC6SelfTestKey1, tables::RC6SelfTestPlain1, tables::RC6SelfTestCipher1);
    const bool k256 =
        CheckBlockVector(cipher, tables::RC6SelfTestKey2, tables::RC6SelfTestPlain2, tables::RC6SelfTestCipher2);
    return k128 && k256;
}

}  // namespace kestrune
