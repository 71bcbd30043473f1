#include "KCmd4.h"

#include "KCmd_tables.inc"

namespace kestrune {

void TKC_md4::Start() noexcept { ChainState = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476}; }

void TKC_md4::Compress(ConstBytes blocks) noexcept {
    // Round 2 and 3 constants: sqrt(2) and sqrt(3) scaled by 2^30 (RFC 1320).
    constexpr std::uint32_t K2 = 0x5A827999, K3 = 0x6ED9EBA1;
    constexpr unsigned S1[4] = {3, 7, 11, 19}, S2[4] = {3, 5, 9, 13}, S3[4] = {3, 9, 11, 15};
    constexpr std::size_t Order3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    std::array<std::uint32_t, 16> x;
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        for (std::size_t i = 0; i < 16; ++i) x[i] = LoadLE32(blocks.subspan(off + 4 * i));
        std::array<std::uint32_t, 4> v = ChainState;
        // Step i updates word (-i mod 4): a, d, c, b in turn.
        for (std::size_t i = 0; i < 16; ++i) {
            auto& a = v[(4 - i % 4) % 4];
            const auto b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
            a = Rol32(a + ((b & c) | (~b & d)) + x[i], S1[i % 4]);
        }
        for (std::size_t i = 0; i < 16; ++i) {
            auto& a = v[(4 - i % 4) % 4];
            const auto b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
            a = Rol32(a + ((b & c) | (b & d) | (c & d)) + x[(i % 4) * 4 + i / 4] + K2, S2[i % 4]);
        }
        for (std::size_t i = 0; i < 16; ++i) {
            auto& a = v[(4 - i % 4) % 4];
            const auto b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
            a = Rol32(a + (b ^ c ^ d) + x[Order3[i]] + K3, S3[i % 4]);
        }
        for (std::size_t i = 0; i < 4; ++i) ChainState[i] += v[i];
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
