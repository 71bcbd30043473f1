#include "KCcast128.h"

#include <algorithm>

#include "KCcast128_tables.inc"

namespace kestrune {
namespace {

using tables::Cast128S1, tables::Cast128S2, tables::Cast128S3, tables::Cast128S4;

// The three round functions; I is the keyed, rotated input word.
inline std::uint32_t F1(std::uint32_t d, std::uint32_t km, std::uint32_t kr) noexcept {
    const std::uint32_t i = Rol32(km + d, kr);
    return ((Cast128S1[i >> 24] ^ Cast128S2[(i >> 16) & 0xFF]) - Cast128S3[(i >> 8) & 0xFF]) + Cast128S4[i & 0xFF];
}
inline std::uint32_t F2(std::uint32_t d, std::uint32_t km, std::uint32_t kr) noexcept {
    const std::uint32_t i = Rol32(km ^ d, kr);
    return ((Cast128S1[i >> 24] - Cast128S2[(i >> 16) & 0xFF]) + Cast128S3[(i >> 8) & 0xFF]) ^ Cast128S4[i & 0xFF];
}
inline std::uint32_t F3(std::uint32_t d, std::uint32_t km, std::uint32_t kr) noexcept {
    const std::uint32_t i = Rol32(km - d, kr);
    return ((Cast128S1[i >> 24] + Cast128S2[(i >> 16) & 0xFF]) ^ Cast128S3[(i >> 8) & 0xFF]) - Cast128S4[i & 0xFF];
}

// One step of the key schedule: a word of four S5..S8 look-ups.
inline std::uint32_t Mix(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint32_t extra) noexcept {
    return tables::Cast128S5[a] ^ tables::Cast128S6[b] ^ tables::Cast128S7[c] ^ tables::Cast128S8[d] ^ extra;
}

void StoreWord(std::array<std::uint8_t, 16>& bytes, std::size_t index, std::uint32_t w) noexcept {
    StoreBE32(Bytes(bytes).subspan(4 * index, 4), w);
}

}  // namespace

void TKC_cast128::ExpandKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t n = keyBits / 8;
    RoundCount = n <= 10 ? 12 : 16;
    std::array<std::uint8_t, 16> x{}, z{};
    std::copy_n(key.begin(), n, x.begin());
    using tables::Cast128S5, tables::Cast128S6, tables::Cast128S7, tables::Cast128S8;
    auto word = [](const std::array<std::uint8_t, 16>& b, std::size_t i) { return LoadBE32(ConstBytes(b).subspan(4 * i, 4)); };

    // RFC 2144 section 2.4: the schedule runs twice over its four blocks,
    // giving 32 words; the second 16 become the rotation keys.
    for (std::size_t k = 0; k < 32; k += 16) {
        StoreWord(z, 0, word(x, 0) ^ Mix(x[0xD], x[0xF], x[0xC], x[0xE], Cast128S7[x[0x8]]));
        StoreWord(z, 1, word(x, 2) ^ Mix(z[0x0], z[0x2], z[0x1], z[0x3], Cast128S8[x[0xA]]));
        StoreWord(z, 2, word(x, 3) ^ Mix(z[0x7], z[0x6], z[0x5], z[0x4], Cast128S5[x[0x9]]));
        StoreWord(z, 3, word(x, 1) ^ Mix(z[0xA], z[0x9], z[0xB], z[0x8], Cast128S6[x[0xB]]));
        SubkeyWords[k + 0] = Mix(z[0x8], z[0x9], z[0x7], z[0x6], Cast128S5[z[0x2]]);
        SubkeyWords[k + 1] = Mix(z[0xA], z[0xB], z[0x5], z[0x4], Cast128S6[z[0x6]]);
        SubkeyWords[k + 2] = Mix(z[0xC], z[0xD], z[0x3], z[0x2], Cast128S7[z[0x9]]);
        SubkeyWords[k + 3] = Mix(z[0xE], z[0xF], z[0x1], z[0x0], Cast128S8[z[0xC]]);

        StoreWord(x, 0, word(z, 2) ^ Mix(z[0x5], z[0x7], z[0x4], z[0x6], Cast128S7[z[0x0]]));
        StoreWord(x, 1, word(z, 0) ^ Mix(x[0x0], x[0x2], x[0x1], x[0x3], Cast128S8[z[0x2]]));
        StoreWord(x, 2, word(z, 1) ^ Mix(x[0x7], x[0x6], x[0x5], x[0x4], Cast128S5[z[0x1]]));
        StoreWord(x, 3, word(z, 3) ^ Mix(x[0xA], x[0x9], x[0xB], x[0x8], Cast128S6[z[0x3]]));
        SubkeyWords[k + 4] = Mix(x[0x3], x[0x2], x[0xC], x[0xD], Cast128S5[x[0x8]]);
        SubkeyWords[k + 5] = Mix(x[0x1], x[0x0], x[0xE], x[0xF], Cast128S6[x[0xD]]);
        SubkeyWords[k + 6] = Mix(x[0x7], x[0x6], x[0x8], x[0x9], Cast128S7[x[0x3]]);
        SubkeyWords[k + 7] = Mix(x[0x5], x[0x4], x[0xA], x[0xB], Cast128S8[x[0x7]]);

        StoreWord(z, 0, word(x, 0) ^ Mix(x[0xD], x[0xF], x[0xC], x[0xE], Cast128S7[x[0x8]]));
        StoreWord(z, 1, word(x, 2) ^ Mix(z[0x0], z[0x2], z[0x1], z[0x3], Cast128S8[x[0xA]]));
        StoreWord(z, 2, word(x, 3) ^ Mix(z[0x7], z[0x6], z[0x5], z[0x4], Cast128S5[x[0x9]]));
        StoreWord(z, 3, word(x, 1) ^ Mix(z[0xA], z[0x9], z[0xB], z[0x8], Cast128S6[x[0xB]]));
        SubkeyWords[k + 8] = Mix(z[0x3], z[0x2], z[0xC], z[0xD], Cast128S5[z[0x9]]);
        SubkeyWords[k + 9] = Mix(z[0x1], z[0x0], z[0xE], z[0xF], Cast128S6[z[0xC]]);
        SubkeyWords[k + 10] = Mix(z[0x7], z[0x6], z[0x8], z[0x9], Cast128S7[z[0x2]]);
        SubkeyWords[k + 11] = Mix(z[0x5], z[0x4], z[0xA], z[0xB], Cast128S8[z[0x6]]);

        StoreWord(x, 0, word(z, 2) ^ Mix(z[0x5], z[0x7], z[0x4], z[0x6], Cast128S7[z[0x0]]));
        StoreWord(x, 1, word(z, 0) ^ Mix(x[0x0], x[0x2], x[0x1], x[0x3], Cast128S8[z[0x2]]));
        StoreWord(x, 2, word(z, 1) ^ Mix(x[0x7], x[0x6], x[0x5], x[0x4], Cast128S5[z[0x1]]));
        StoreWord(x, 3, word(z, 3) ^ Mix(x[0xA], x[0x9], x[0xB], x[0x8], Cast128S6[z[0x3]]));
        SubkeyWords[k + 12] = Mix(x[0x8], x[0x9], x[0x7], x[0x6], Cast128S5[x[0x3]]);
        SubkeyWords[k + 13] = Mix(x[0xA], x[0xB], x[0x5], x[0x4], Cast128S6[x[0x7]]);
        SubkeyWords[k + 14] = Mix(x[0xC], x[0xD], x[0x3], x[0x2], Cast128S7[x[0x8]]);
        SubkeyWords[k + 15] = Mix(x[0xE], x[0xF], x[0x1], x[0x0], Cast128S8[x[0xD]]);
    }
    for (std::size_t i = 16; i < 32; ++i) SubkeyWords[i] &= 31;
    SecureZero(x);
    SecureZero(z);
}

void TKC_cast128::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const std::uint32_t* km = SubkeyWords.data();
    const std::uint32_t* kr = km + 16;
    const bool full = RoundCount == 16;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t l = LoadBE32(source.subspan(off, 4)), r = LoadBE32(source.subspan(off + 4, 4));
        // Round i swaps the halves; written without the swap, the halves
        // simply take turns. Types cycle 1, 2, 3.
        l ^= F1(r, km[0], kr[0]);
        r ^= F2(l, km[1], kr[1]);
        l ^= F3(r, km[2], kr[2]);
        r ^= F1(l, km[3], kr[3]);
        l ^= F2(r, km[4], kr[4]);
        r ^= F3(l, km[5], kr[5]);
        l ^= F1(r, km[6], kr[6]);
        r ^= F2(l, km[7], kr[7]);
        l ^= F3(r, km[8], kr[8]);
        r ^= F1(l, km[9], kr[9]);
        l ^= F2(r, km[10], kr[10]);
        r ^= F3(l, km[11], kr[11]);
        if (full) {
            l ^= F1(r, km[12], kr[12]);
            r ^= F2(l, km[13], kr[13]);
            l ^= F3(r, km[14], kr[14]);
            r ^= F1(l, km[15], kr[15]);
        }
        StoreBE32Block(dest.subspan(off, 4), r);
        StoreBE32Block(dest.subspan(off + 4, 4), l);
    }
}

void TKC_cast128::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const std::uint32_t* km = SubkeyWords.data();
    const std::uint32_t* kr = km + 16;
    const bool full = RoundCount == 16;
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t l = LoadBE32(source.subspan(off, 4)), r = LoadBE32(source.subspan(off + 4, 4));
        if (full) {
            l ^= F1(r, km[15], kr[15]);
            r ^= F3(l, km[14], kr[14]);
            l ^= F2(r, km[13], kr[13]);
            r ^= F1(l, km[12], kr[12]);
        }
        l ^= F3(r, km[11], kr[11]);
        r ^= F2(l, km[10], kr[10]);
        l ^= F1(r, km[9], kr[9]);
        r ^= F3(l, km[8], kr[8]);
        l ^= F2(r, km[7], kr[7]);
        r ^= F1(l, km[6], kr[6]);
        l ^= F3(r, km[5], kr[5]);
        r ^= F2(l, km[4], kr[4]);
        l ^= F1(r, km[3], kr[3]);
        r ^= F3(l, km[2], kr[2]);
        l ^= F2(r, km[1], kr[1]);
        r ^= F1(l, km[0], kr[0]);
        StoreBE32Block(dest.subspan(off, 4), r);
        StoreBE32Block(dest.subspan(off + 4, 4), l);
    }
}

bool TKC_cast128::SelfTest() {
    TKC_cast128 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Cast128SelfTestKey1, Cast128SelfTestPlain1, Cast128SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Cast128SelfTestKey2, Cast128SelfTestPlain2, Cast128SelfTestCipher2);
    const bool third = CheckBlockVector(cipher, Cast128SelfTestKey3, Cast128SelfTestPlain3, Cast128SelfTestCipher3);
    return first && second && third;
}

}  // namespace kestrune
