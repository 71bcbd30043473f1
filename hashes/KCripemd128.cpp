#include "KCripemd128.h"

#include <utility>

#include "KCripemd_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint32_t;
using Line = std::array<Word, 4>;

// The round functions; the left line uses them in the order 0..3, the right
// line in the order 3..0.
template <std::size_t N>
constexpr Word F(Word x, Word y, Word z) noexcept {
    if constexpr (N == 0) return x ^ y ^ z;
    if constexpr (N == 1) return z ^ (x & (y ^ z));
    if constexpr (N == 2) return (x | ~y) ^ z;
    if constexpr (N == 3) return y ^ (z & (x ^ y));
}

// Step I of one line: A = (A + f(B, C, D) + X + K) <<< s, then the four words
// change roles, (A, B, C, D) -> (D, A, B, C). Role k of step I lives in
// v[(k - I) mod 4], so every index is a compile-time constant.
template <std::size_t I, bool Right>
[[gnu::always_inline]] inline void Step(Line& v, const std::array<Word, 16>& x) noexcept {
    constexpr std::size_t round = I / 16;
    constexpr std::size_t a = (64 - I) % 4, b = (65 - I) % 4, c = (66 - I) % 4, d = (67 - I) % 4;
    if constexpr (Right) {
        v[a] = Rol32(v[a] + F<3 - round>(v[b], v[c], v[d]) + x[tables::RipemdRightWords[I]] +
                         tables::Ripemd128RightConstants[round],
                     tables::RipemdRightShifts[I]);
    } else {
        v[a] = Rol32(v[a] + F<round>(v[b], v[c], v[d]) + x[tables::RipemdLeftWords[I]] +
                         tables::RipemdLeftConstants[round],
                     tables::RipemdLeftShifts[I]);
    }
}

// The two lines are independent; interleaving them lets their steps overlap.
template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(Line& left, Line& right, const std::array<Word, 16>& x,
                                         std::index_sequence<I...>) noexcept {
    ((Step<I, false>(left, x), Step<I, true>(right, x)), ...);
}

}  // namespace

void TKC_ripemd128::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

void TKC_ripemd128::Compress(ConstBytes blocks) noexcept {
    std::array<Word, 16> x;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) x[i] = LoadLE32(blocks.subspan(off + 4 * i, 4));
        Line left = ChainState, right = ChainState;
        Steps(left, right, x, std::make_index_sequence<64>{});
        const Word t = ChainState[1] + left[2] + right[3];
        ChainState[1] = ChainState[2] + left[3] + right[0];
        ChainState[2] = ChainState[3] + left[0] + right[1];
        ChainState[3] = ChainState[0] + left[1] + right[2];
        ChainState[0] = t;
    }
    SecureZero(x);
}

void TKC_ripemd128::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::little);
    StoreState(digest, std::endian::little);
}

bool TKC_ripemd128::SelfTest() {
    TKC_ripemd128 hash;
    const bool first = CheckDigest(hash, "a", tables::Ripemd128SelfTest1);
    const bool second = CheckDigest(hash, "abcdefghijklmnopqrstuvwxyz", tables::Ripemd128SelfTest2);
    return first && second;
}

}  // namespace kestrune
