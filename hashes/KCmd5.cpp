#include "KCmd5.h"

#include <utility>

#include "../framework/KCbytes.h"
#include "KCmd_tables.inc"

namespace kestrune {
namespace {

// Step I of the 64, unrolled so that word index, constant and shift are
// compile-time constants: a = b + ((a + f(b, c, d) + word + constant) <<< s).
// The roles (a, b, c, d) turn by one each step, so role a of step I lives in
// v[-I mod 4]. Every step waits on b of the step before; the sum takes
// a + word + constant and whatever of f does not need b first, so that only
// f's last operations, one addition, the rotation and the addition of b
// follow it. Round 2's f is (b & d) | (c & ~d), and the two terms never share
// a bit, so c & ~d joins the sum early.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<std::uint32_t, 4>& v, const std::uint8_t* block) noexcept {
    constexpr std::size_t a = (4 - I % 4) % 4, b = (a + 1) % 4, c = (a + 2) % 4, d = (a + 3) % 4;
    constexpr std::size_t round = I / 16;
    constexpr std::size_t word = round == 0 ? I : round == 1 ? (5 * I + 1) % 16 : round == 2 ? (3 * I + 5) % 16 : (7 * I) % 16;
    constexpr unsigned shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::uint32_t sum = v[a] + (LoadLE32(ConstBytes(block + 4 * word, 4)) + tables::MD5SineConstants[I]);
    if constexpr (round == 1) {
        sum += v[c] & ~v[d];
        KeepSum(sum);
        sum += v[b] & v[d];
    } else {
        KeepSum(sum);
        if constexpr (round == 0) sum += v[d] ^ (v[b] & (v[c] ^ v[d]));
        else if constexpr (round == 2) sum += v[b] ^ (v[c] ^ v[d]);
        else sum += v[c] ^ (v[b] | ~v[d]);
    }
    v[a] = v[b] + Rol32(sum, shifts[round][I % 4]);
}

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<std::uint32_t, 4>& v, const std::uint8_t* block,
                                         std::index_sequence<I...>) noexcept {
    (Step<I>(v, block), ...);
}

}  // namespace

void TKC_md5::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

// The words are read from the block where they lie, as each step needs
// them: no copy of the message to wipe.
void TKC_md5::Compress(ConstBytes blocks) noexcept {
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        std::array<std::uint32_t, 4> v = ChainState;
        Steps(v, blocks.data() + off, std::make_index_sequence<64>{});
        for (std::size_t i = 0; i < 4; ++i) ChainState[i] += v[i];
    }
}

void TKC_md5::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 8, std::endian::little);
    StoreState(digest, std::endian::little);
}

bool TKC_md5::SelfTest() {
    TKC_md5 md5;
    const bool first = CheckDigest(md5, "abc", tables::MD5SelfTest1);
    const bool second = CheckDigest(md5, "abcdefghijklmnopqrstuvwxyz", tables::MD5SelfTest2);
    return first && second;
}

}  // namespace kestrune
