#include "KCmd5.h"

#include "KCmd_tables.inc"

namespace kestrune {
namespace {

using tables::MD5SineConstants;

constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (z & (x ^ y)); }
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
constexpr std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// One step: a = b + ((a + f(b, c, d) + word + constant) <<< s).
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                 std::uint32_t constant, unsigned s) {
    a = b + Rol32(a + Fn(b, c, d) + word + constant, s);
}

}  // namespace

void TKC_md5::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

void TKC_md5::Compress(ConstBytes blocks) noexcept {
    static constexpr unsigned R1[4] = {7, 12, 17, 22}, R2[4] = {5, 9, 14, 20}, R3[4] = {4, 11, 16, 23},
                              R4[4] = {6, 10, 15, 21};
    std::array<std::uint32_t, 16> x;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) x[i] = LoadLE32(blocks.subspan(off + 4 * i));
        std::uint32_t a = ChainState[0], b = ChainState[1], c = ChainState[2], d = ChainState[3];
        const auto& T = MD5SineConstants;
        for (std::size_t i = 0; i < 16; i += 4) {
            Step<F>(a, b, c, d, x[i], T[i], R1[0]);
            Step<F>(d, a, b, c, x[i + 1], T[i + 1], R1[1]);
            Step<F>(c, d, a, b, x[i + 2], T[i + 2], R1[2]);
            Step<F>(b, c, d, a, x[i + 3], T[i + 3], R1[3]);
        }
        for (std::size_t i = 16; i < 32; i += 4) {
            Step<G>(a, b, c, d, x[(5 * i + 1) % 16], T[i], R2[0]);
            Step<G>(d, a, b, c, x[(5 * i + 6) % 16], T[i + 1], R2[1]);
            Step<G>(c, d, a, b, x[(5 * i + 11) % 16], T[i + 2], R2[2]);
            Step<G>(b, c, d, a, x[(5 * i + 16) % 16], T[i + 3], R2[3]);
        }
        for (std::size_t i = 32; i < 48; i += 4) {
            Step<H>(a, b, c, d, x[(3 * i + 5) % 16], T[i], R3[0]);
            Step<H>(d, a, b, c, x[(3 * i + 8) % 16], T[i + 1], R3[1]);
            Step<H>(c, d, a, b, x[(3 * i + 11) % 16], T[i + 2], R3[2]);
            Step<H>(b, c, d, a, x[(3 * i + 14) % 16], T[i + 3], R3[3]);
        }
        for (std::size_t i = 48; i < 64; i += 4) {
            Step<I>(a, b, c, d, x[(7 * i) % 16], T[i], R4[0]);
            Step<I>(d, a, b, c, x[(7 * i + 7) % 16], T[i + 1], R4[1]);
            Step<I>(c, d, a, b, x[(7 * i + 14) % 16], T[i + 2], R4[2]);
            Step<I>(b, c, d, a, x[(7 * i + 21) % 16], T[i + 3], R4[3]);
        }
        ChainState[0] += a;
        ChainState[1] += b;
        ChainState[2] += c;
        ChainState[3] += d;
    }
    SecureZero(x);
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
