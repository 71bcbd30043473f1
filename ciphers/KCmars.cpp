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

void TKC_mars::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& K = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t a = LoadLE32(in) + K[0], b = LoadLE32(in.subspan(4)) + K[1];
        std::uint32_t c = LoadLE32(in.subspan(8)) + K[2], d = LoadLE32(in.subspan(12)) + K[3];
        // Forward mixing; the words rotate one place per round.
        for (int i = 0; i < 8; ++i) {
            b = (b ^ S0(a)) + S1(a >> 8);
            c += S0(a >> 16);
            d ^= S1(a >> 24);
            a = Ror32(a, 24);
            if (i == 0 || i == 4) a += d;
            if (i == 1 || i == 5) a += b;
            const std::uint32_t x = a;
            a = b, b = c, c = d, d = x;
        }
        // Keyed core: eight rounds in forward mode, eight in backward mode.
        for (int i = 0; i < 16; ++i) {
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
            const std::uint32_t x = a;
            a = b, b = c, c = d, d = x;
        }
        // Backward mixing.
        for (int i = 0; i < 8; ++i) {
            if (i == 2 || i == 6) a -= d;
            if (i == 3 || i == 7) a -= b;
            b ^= S1(a);
            c -= S0(a >> 24);
            d = (d - S1(a >> 16)) ^ S0(a >> 8);
            a = Rol32(a, 24);
            const std::uint32_t x = a;
            a = b, b = c, c = d, d = x;
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, a - K[36]);
        StoreLE32(out.subspan(4), b - K[37]);
        StoreLE32(out.subspan(8), c - K[38]);
        StoreLE32(out.subspan(12), d - K[39]);
    }
}

void TKC_mars::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto& K = ExpandedKey;
    for (std::size_t off = 0; off < source.size(); off += 16) {
        const auto in = source.subspan(off, 16);
        std::uint32_t a = LoadLE32(in) + K[36], b = LoadLE32(in.subspan(4)) + K[37];
        std::uint32_t c = LoadLE32(in.subspan(8)) + K[38], d = LoadLE32(in.subspan(12)) + K[39];
        // Undo the backward mixing.
        for (int i = 7; i >= 0; --i) {
            const std::uint32_t x = d;
            d = c, c = b, b = a, a = x;
            a = Ror32(a, 24);
            d = (d ^ S0(a >> 8)) + S1(a >> 16);
            c += S0(a >> 24);
            b ^= S1(a);
            if (i == 3 || i == 7) a += b;
            if (i == 2 || i == 6) a += d;
        }
        // Undo the keyed core.
        for (int i = 15; i >= 0; --i) {
            const std::uint32_t x = d;
            d = c, c = b, b = a, a = x;
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
        }
        // Undo the forward mixing.
        for (int i = 7; i >= 0; --i) {
            const std::uint32_t x = d;
            d = c, c = b, b = a, a = x;
            if (i == 1 || i == 5) a -= b;
            if (i == 0 || i == 4) a -= d;
            a = Rol32(a, 24);
            d ^= S1(a >> 24);
            c -= S0(a >> 16);
            b = (b - S1(a >> 8)) ^ S0(a);
        }
        const auto out = dest.subspan(off, 16);
        StoreLE32(out, a - K[0]);
        StoreLE32(out.subspan(4), b - K[1]);
        StoreLE32(out.subspan(8), c - K[2]);
        StoreLE32(out.subspan(12), d - K[3]);
    }
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
