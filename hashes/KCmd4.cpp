#include "KCmd4.h"

#include "KCmd_tables.inc"

namespace kestrune {
namespace {

constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (z & (x | y)); }
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }

// One step: a = (a + f(b, c, d) + word + constant) <<< s.
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                 std::uint32_t constant, unsigned s) {
    a = Rol32(a + Fn(b, c, d) + word + constant, s);
}

}  // namespace

void TKC_md4::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

void TKC_md4::Compress(ConstBytes blocks) noexcept {
    // Round 2 and 3 constants: sqrt(2) and sqrt(3) scaled by 2^30 (RFC 1320).
    constexpr std::uint32_t K2 = 0x5A827999, K3 = 0x6ED9EBA1;
    // Round 3 takes the words in bit-reversed order of their index.
    constexpr std::size_t Order3[4] = {0, 2, 1, 3};
    std::array<std::uint32_t, 16> x;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) x[i] = LoadLE32(blocks.subspan(off + 4 * i));
        std::uint32_t a = ChainState[0], b = ChainState[1], c = ChainState[2], d = ChainState[3];
        for (std::size_t i = 0; i < 16; i += 4) {
            Step<F>(a, b, c, d, x[i], 0, 3);
            Step<F>(d, a, b, c, x[i + 1], 0, 7);
            Step<F>(c, d, a, b, x[i + 2], 0, 11);
            Step<F>(b, c, d, a, x[i + 3], 0, 19);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            Step<G>(a, b, c, d, x[i], K2, 3);
            Step<G>(d, a, b, c, x[i + 4], K2, 5);
            Step<G>(c, d, a, b, x[i + 8], K2, 9);
            Step<G>(b, c, d, a, x[i + 12], K2, 13);
        }
        for (std::size_t i : Order3) {
            Step<H>(a, b, c, d, x[i], K3, 3);
            Step<H>(d, a, b, c, x[i + 8], K3, 9);
            Step<H>(c, d, a, b, x[i + 4], K3, 11);
            Step<H>(b, c, d, a, x[i + 12], K3, 15);
        }
        ChainState[0] += a;
        ChainState[1] += b;
        ChainState[2] += c;
        ChainState[3] += d;
    }
    SecureZero(x);
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
