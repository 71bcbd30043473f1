#include "KCmd4.h"

#include <utility>

#include "../framework/KCbytes.h"
#include "KCmd_tables.inc"

namespace kestrune {
namespace {

// Step I of the 48, unrolled so that word index, constant and shift are
// compile-time constants: a = (a + f(b, c, d) + word + constant) <<< s. The
// roles (a, b, c, d) turn by one each step, so role a of step I lives in
// v[-I mod 4]. Every step waits on the one before, which wrote b; what of
// the sum does not need b comes first. Round 2's majority is
// (c & d) | (b & (c ^ d)), and the two terms never share a bit, so c & d
// joins the sum early.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<std::uint32_t, 4>& v, const std::uint8_t* block) noexcept {
    constexpr std::size_t a = (4 - I % 4) % 4, b = (a + 1) % 4, c = (a + 2) % 4, d = (a + 3) % 4;
    constexpr std::size_t round = I / 16, j = I % 16;
    // Round 2 takes the words by column, round 3 in bit-reversed order of their index.
    constexpr std::size_t reversed[4] = {0, 2, 1, 3};
    constexpr std::size_t word = round == 0 ? j : round == 1 ? j / 4 + 4 * (j % 4) : reversed[j / 4] + 4 * reversed[j % 4];
    constexpr unsigned shifts[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
    // Round 2 and 3 constants: sqrt(2) and sqrt(3) scaled by 2^30 (RFC 1320).
    constexpr std::uint32_t constants[3] = {0, 0x5A827999, 0x6ED9EBA1};
    std::uint32_t sum = v[a] + (LoadLE32(ConstBytes(block + 4 * word, 4)) + constants[round]);
    if constexpr (round == 1) {
        sum += v[c] & v[d];
        KeepSum(sum);
        sum += v[b] & (v[c] ^ v[d]);
    } else {
        KeepSum(sum);
        if constexpr (round == 0) sum += v[d] ^ (v[b] & (v[c] ^ v[d]));
        else sum += v[b] ^ (v[c] ^ v[d]);
    }
    v[a] = Rol32(sum, shifts[round][j % 4]);
}

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<std::uint32_t, 4>& v, const std::uint8_t* block,
                                         std::index_sequence<I...>) noexcept {
    (Step<I>(v, block), ...);
}

}  // namespace

void TKC_md4::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

// The words are read from the block where they lie, as each step needs
// them: no copy of the message to wipe.
void TKC_md4::Compress(ConstBytes blocks) noexcept {
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        std::array<std::uint32_t, 4> v = ChainState;
        Steps(v, blocks.data() + off, std::make_index_sequence<48>{});
        for (std::size_t i = 0; i < 4; ++i) ChainState[i] += v[i];
    }
}

void TKC_md4::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::little);
    StoreState(digest, std::endian::little);
}

bool TKC_md4::SelfTest() {
    TKC_md4 md4;
    const bool first = CheckDigest(md4, "abc", tables::MD4SelfTest1);
    const bool second = CheckDigest(md4, "abcdefghijklmnopqrstuvwxyz", tables::MD4SelfTest2);
    return first && second;
}

}  // namespace kestrune
