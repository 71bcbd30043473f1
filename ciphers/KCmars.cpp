#include "KCmars.h"

#include "KCmars_tables.inc"

namespace kestrune {
namespace {

using tables::MarsSBox;

constexpr std::uint32_t S0(std::uint32_t x) noexcept { return MarsSBox[x & 0xFF]; }
constexpr std::uint32_t S1(std::uint32_t x) noexcept { return MarsSBox[256 + (x & 0xFF)]; }

// Positions of w that lie in a run of at least ten equal bits and whose
// neighbours on both sides equal them. Runs are counted within the word; for
// the neighbour test a bit outside the word counts as 0.
std::uint32_t RunMask(std::uint32_t w) noexcept {
    std::uint32_t mask = 0;
    for (int start = 0; start < 32;) {
        const std::uint32_t bit = (w >> start) & 1;
        int end = start;
        while (end + 1 < 32 && ((w >> (end + 1)) & 1) == bit) ++end;
        if (end - start + 1 >= 10)
            for (int i = start; i <= end; ++i) {
                const std::uint32_t below = i == 0 ? 0 : (w >> (i - 1)) & 1;
                const std::uint32_t above = i == 31 ? 0 : (w >> (i + 1)) & 1;
                if (below == bit && above == bit) mask |= std::uint32_t{1} << i;
            }
        start = end + 1;
    }
    return mask & ~std::uint32_t{3};
}

// The keyed core's E function: returns the outputs for the left, middle and
// right words.
struct EOut {
    std::uint32_t l, m, r;
};
inline EOut E(std::uint32_t in, std::uint32_t addKey, std::uint32_t mulKey) noexcept {
    std::uint32_t m = in + addKey;
    std::uint32_t r = Rol32(Rol32(in, 13) * mulKey, 5);
    std::uint32_t l = MarsSBox[m & 0x1FF] ^ r;
    m = Rol32(m, r);
    r = Rol32(r, 5);
    l = Rol32(l ^ r, r);
    return {l, m, r};
}

}  // namespace

void TKC_mars::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Whole 32-bit key words only.
    const std::size_t n = keyBits / 32;
    std::array<std::uint32_t, 40> k{};
    for (std::size_t i = 0; i < n; ++i) k[i] = LoadLE32(key.subspan(4 * i));
    // T[-7..-1] are S[0..6]; T is kept with an offset of 7.
    std::array<std::uint32_t, 47> t{};
    for (std::size_t i = 0; i < 7; ++i) t[i] = MarsSBox[i];
    for (std::size_t i = 0; i < 39; ++i)
        t[i + 7] = Rol32(t[i] ^ t[i + 5], 3) ^ k[i % n] ^ static_cast<std::uint32_t>(i);
    t[46] = static_cast<std::uint32_t>(n);
    std::uint32_t* T = t.data() + 7;
    for (int pass = 0; pass < 7; ++pass) {
        for (std::size_t i = 1; i < 40; ++i) T[i] = Rol32(T[i] + MarsSBox[T[i - 1] & 0x1FF], 9);
        T[0] = Rol32(T[0] + MarsSBox[T[39] & 0x1FF], 9);
    }
    for (std::size_t i = 0; i < 40; ++i) ExpandedKey[(7 * i) % 40] = T[i];
    // Multiplication keys: odd, and with long runs of equal bits broken up.
    for (std::size_t i = 5; i <= 35; i += 2) {
        const std::uint32_t j = ExpandedKey[i] & 3;
        const std::uint32_t w = ExpandedKey[i] | 3;
        const std::uint32_t p = Rol32(MarsSBox[265 + j], ExpandedKey[i + 3] & 31);
        ExpandedKey[i] = w ^ (p & RunMask(w));
    }
    SecureZero(k);
    SecureZero(t);
}

namespace {

// One block's state: four words that move one place per round.
struct Words {
    std::uint32_t a, b, c, d;
    void Rotate() noexcept {
        const std::uint32_t x = a;
        a = b, b = c, c = d, d = x;
    }
    void RotateBack() noexcept {
        const std::uint32_t x = d;
        d = c, c = b, b = a, a = x;
    }
};

// A round's step for each of N blocks before the next round: one block's
// rounds are a chain of dependent look-ups and multiplications, and the
// other blocks' chains fill its waits (CBC decryption, CTR and CFB
// decryption hand over many blocks). Four fit the registers of x86-64, two
// those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

template <std::size_t N, typename Step>
[[gnu::always_inline]] inline void ForEachBlock(Words (&w)[N], Step step) noexcept {
#pragma GCC unroll 4
    for (std::size_t n = 0; n < N; ++n) step(w[n]);
}

// The mixing rounds are unrolled, so that their round-dependent additions
// are fixed where they stand; the keyed core stays a loop.
template <std::size_t N>
[[gnu::always_inline]] inline void EncryptWords(const std::uint32_t* K, Words (&w)[N]) noexcept {
    // Forward mixing.
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
        ForEachBlock(w, [i](Words& s) {
            auto& [a, b, c, d] = s;
            b = (b ^ S0(a)) + S1(a >> 8);
            c += S0(a >> 16);
            d ^= S1(a >> 24);
            a = Ror32(a, 24);
            if (i == 0 || i == 4) a += d;
            if (i == 1 || i == 5) a += b;
            s.Rotate();
        });
    // Keyed core: eight rounds in forward mode, eight in backward mode.
    for (int i = 0; i < 16; ++i)
        ForEachBlock(w, [i, K](Words& s) {
            auto& [a, b, c, d] = s;
            const EOut e = E(a, K[2 * i + 4], K[2 * i + 5]);
            a = Rol32(a, 13);
            c += e.m;
            if (i < 8) {
                b += e.l;
                d ^= e.r;
            } else {
                d += e.l;
                b ^= e.r;
            }
            s.Rotate();
        });
    // Backward mixing.
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
        ForEachBlock(w, [i](Words& s) {
            auto& [a, b, c, d] = s;
            if (i == 2 || i == 6) a -= d;
            if (i == 3 || i == 7) a -= b;
            b ^= S1(a);
            c -= S0(a >> 24);
            d = (d - S1(a >> 16)) ^ S0(a >> 8);
            a = Rol32(a, 24);
            s.Rotate();
        });
}

template <std::size_t N>
[[gnu::always_inline]] inline void DecryptWords(const std::uint32_t* K, Words (&w)[N]) noexcept {
    // Undo the backward mixing.
#pragma GCC unroll 8
    for (int i = 7; i >= 0; --i)
        ForEachBlock(w, [i](Words& s) {
            s.RotateBack();
            auto& [a, b, c, d] = s;
            a = Ror32(a, 24);
            d = (d ^ S0(a >> 8)) + S1(a >> 16);
            c += S0(a >> 24);
            b ^= S1(a);
            if (i == 3 || i == 7) a += b;
            if (i == 2 || i == 6) a += d;
        });
    // Undo the keyed core.
    for (int i = 15; i >= 0; --i)
        ForEachBlock(w, [i, K](Words& s) {
            s.RotateBack();
            auto& [a, b, c, d] = s;
            a = Ror32(a, 13);
            const EOut e = E(a, K[2 * i + 4], K[2 * i + 5]);
            c -= e.m;
            if (i < 8) {
                b -= e.l;
                d ^= e.r;
            } else {
                d -= e.l;
                b ^= e.r;
            }
        });
    // Undo the forward mixing.
#pragma GCC unroll 8
    for (int i = 7; i >= 0; --i)
        ForEachBlock(w, [i](Words& s) {
            s.RotateBack();
            auto& [a, b, c, d] = s;
            if (i == 1 || i == 5) a -= b;
            if (i == 0 || i == 4) a -= d;
            a = Rol32(a, 24);
            d ^= S1(a >> 24);
            c -= S0(a >> 16);
            b = (b - S1(a >> 8)) ^ S0(a);
        });
}

// Whole groups of Lanes blocks, then the rest one by one; the key words
// whitening the block on the way in and out swap ends for decryption.
template <bool Encrypting>
void CryptBlocks(const std::uint32_t* K, ConstBytes source, Bytes dest) noexcept {
    const std::uint32_t* in = Encrypting ? K : K + 36;
    const std::uint32_t* out = Encrypting ? K + 36 : K;
    const auto run = [&](auto& w, std::size_t off) __attribute__((always_inline)) {
        for (auto& s : w) {
            const auto block = source.subspan(off, 16);
            s = {LoadLE32(block) + in[0], LoadLE32(block.subspan(4)) + in[1], LoadLE32(block.subspan(8)) + in[2],
                 LoadLE32(block.subspan(12)) + in[3]};
            off += 16;
        }
        if constexpr (Encrypting)
            EncryptWords(K, w);
        else
            DecryptWords(K, w);
        off -= 16 * std::size(w);
        for (const auto& s : w) {
            const auto block = dest.subspan(off, 16);
            StoreLE32(block, s.a - out[0]);
            StoreLE32(block.subspan(4), s.b - out[1]);
            StoreLE32(block.subspan(8), s.c - out[2]);
            StoreLE32(block.subspan(12), s.d - out[3]);
            off += 16;
        }
    };
    std::size_t off = 0;
    for (; off + 16 * Lanes <= source.size(); off += 16 * Lanes) {
        Words w[Lanes];
        run(w, off);
    }
    for (; off < source.size(); off += 16) {
        Words w[1];
        run(w, off);
    }
}

}  // namespace

void TKC_mars::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    CryptBlocks<true>(ExpandedKey.data(), source, dest);
}

void TKC_mars::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    CryptBlocks<false>(ExpandedKey.data(), source, dest);
}

bool TKC_mars::SelfTest() {
    TKC_mars cipher;
    const bool k128 = CheckBlockVector(cipher, tables::MarsSelfTestKey1, tables::MarsSelfTestPlain1,
                                       tables::MarsSelfTestCipher1);
    const bool k192 = CheckBlockVector(cipher, tables::MarsSelfTestKey2, tables::MarsSelfTestPlain2,
                                       tables::MarsSelfTestCipher2);
    const bool k256 = CheckBlockVector(cipher, tables::MarsSelfTestKey3, tables::MarsSelfTestPlain3,
                                       tables::MarsSelfTestCipher3);
    return k128 && k192 && k256;
}

}  // namespace kestrune
