#include "KChaval.h"

#include <utility>

#include "KChaval_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint32_t;

constexpr std::uint32_t Version = 1, Passes = 5;

// The Boolean functions of the five passes, with their arguments in the
// published order (x6, ..., x0); each is the published sum of products,
// factored to fewer operations.
template <std::size_t Pass>
constexpr Word F(Word x6, Word x5, Word x4, Word x3, Word x2, Word x1, Word x0) noexcept {
    if constexpr (Pass == 0) return (x1 & (x0 ^ x4)) ^ (x2 & x5) ^ (x3 & x6) ^ x0;
    if constexpr (Pass == 1)
        return (x2 & ((x1 & ~x3) ^ (x4 & x5) ^ x6 ^ x0)) ^ (x4 & (x1 ^ x5)) ^ (x3 & x5) ^ x0;
    if constexpr (Pass == 2) return (x3 & ((x1 & x2) ^ x6 ^ x0)) ^ (x1 & x4) ^ (x2 & x5) ^ x0;
    if constexpr (Pass == 3)
        return (x4 & ((x5 & ~x2) ^ (x3 & ~x6) ^ x1 ^ x6 ^ x0)) ^ (x3 & ((x1 & x2) ^ x5 ^ x6)) ^ (x2 & x6) ^ x0;
    if constexpr (Pass == 4) return (x0 & ((x1 & x2 & x3) ^ ~x5)) ^ (x1 & x4) ^ (x2 & x5) ^ (x3 & x6);
}

// Step I (0..159) replaces working word r = 7 - I mod 8 by
// (F(the other seven, permuted) >>> 7) + (t[r] >>> 11) + word + constant.
// The seven others, x_k = t[(r + 1 + k) mod 8], enter the pass function in
// the order the pass's permutation lists.
template <std::size_t I>
[[gnu::always_inline]] inline void Step(std::array<Word, 8>& t, const std::array<Word, 32>& x) noexcept {
    constexpr std::size_t pass = I / 32, r = 7 - I % 8;
    constexpr auto arg = [](std::size_t n) { return (r + 1 + tables::HavalPhi[7 * pass + n]) % 8; };
    const Word f = F<pass>(t[arg(0)], t[arg(1)], t[arg(2)], t[arg(3)], t[arg(4)], t[arg(5)], t[arg(6)]);
    Word sum = Ror32(f, 7) + Ror32(t[r], 11) + x[tables::HavalWordOrder[I]];
    if constexpr (pass > 0) sum += tables::HavalConstants[I - 32];
    t[r] = sum;
}

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<Word, 8>& t, const std::array<Word, 32>& x,
                                         std::index_sequence<I...>) noexcept {
    (Step<I>(t, x), ...);
}

}  // namespace

void TKC_haval::Start() noexcept { ChainState = tables::HavalInitialState; }

void TKC_haval::Compress(ConstBytes blocks) noexcept {
    std::array<Word, 32> x;
    for (std::size_t off = 0; off < blocks.size(); off += 128) {
        for (std::size_t i = 0; i < 32; ++i) x[i] = LoadLE32(blocks.subspan(off + 4 * i, 4));
        std::array<Word, 8> t = ChainState;
        Steps(t, x, std::make_index_sequence<160>{});
        for (std::size_t i = 0; i < 8; ++i) ChainState[i] += t[i];
    }
    SecureZero(x);
}

void TKC_haval::Finish(Bytes digest) noexcept {
    // Trailer: version, passes and digest length packed into two bytes, then
    // the 64-bit bit count, least significant byte first.
    constexpr std::uint32_t digestBits = ClassHashSize;
    std::array<std::uint8_t, 10> trailer{};
    trailer[0] = static_cast<std::uint8_t>(((digestBits & 3) << 6) | (Passes << 3) | Version);
    trailer[1] = static_cast<std::uint8_t>(digestBits >> 2);
    StoreLE64(Bytes(trailer).subspan(2), BitCountLow);
    Pad(PadByte, trailer);
    StoreState(digest, std::endian::little);
}

bool TKC_haval::SelfTest() {
    TKC_haval hash;
    const bool first = CheckDigest(hash, "abcdefghijklmnopqrstuvwxyz", tables::HavalSelfTest1);
    const bool second =
        CheckDigest(hash, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", tables::HavalSelfTest2);
    return first && second;
}

}  // namespace kestrune
