#include "KCblowfish.h"

#include <algorithm>

#include "KCblowfish_tables.inc"

namespace kestrune {

void TKC_blowfish::EncryptWords(std::uint32_t& left, std::uint32_t& right) const noexcept {
    std::uint32_t l = left ^ PArray[0], r = right;
    for (std::size_t i = 1; i <= 16; i += 2) {
        r ^= F(l) ^ PArray[i];
        l ^= F(r) ^ PArray[i + 1];
    }
    left = r ^ PArray[17];
    right = l;
}

void TKC_blowfish::ExpandKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t n = keyBits / 8;  // a trailing partial byte is ignored
    for (std::size_t s = 0; s < 4; ++s)
        std::copy_n(tables::BlowfishInitialS.begin() + static_cast<std::ptrdiff_t>(256 * s), 256, SBoxes[s].begin());
    std::copy(tables::BlowfishInitialP.begin(), tables::BlowfishInitialP.end(), PArray.begin());
    // The key bytes are used cyclically, one big-endian word per P entry.
    for (std::size_t i = 0, k = 0; i < 18; ++i) {
        std::uint32_t w = 0;
        for (std::size_t b = 0; b < 4; ++b, k = (k + 1) % n) w = (w << 8) | key[k];
        PArray[i] ^= w;
    }
    std::uint32_t l = 0, r = 0;
    for (std::size_t i = 0; i < 18; i += 2) {
        EncryptWords(l, r);
        PArray[i] = l;
        PArray[i + 1] = r;
    }
    for (auto& box : SBoxes) {
        for (std::size_t i = 0; i < 256; i += 2) {
            EncryptWords(l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
}

void TKC_blowfish::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t l = LoadBE32(source.subspan(off)), r = LoadBE32(source.subspan(off + 4));
        EncryptWords(l, r);
        StoreBE32(dest.subspan(off), l);
        StoreBE32(dest.subspan(off + 4), r);
    }
}

void TKC_blowfish::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t l = LoadBE32(source.subspan(off)) ^ PArray[17], r = LoadBE32(source.subspan(off + 4));
        for (std::size_t i = 16; i >= 2; i -= 2) {
            r ^= F(l) ^ PArray[i];
            l ^= F(r) ^ PArray[i - 1];
        }
        StoreBE32(dest.subspan(off), r ^ PArray[0]);
        StoreBE32(dest.subspan(off + 4), l);
    }
}

bool TKC_blowfish::SelfTest() {
    TKC_blowfish cipher;
    const bool first = CheckBlockVector(cipher, tables::BlowfishSelfTestKey1, tables::BlowfishSelfTestPlain1,
                                        tables::BlowfishSelfTestCipher1);
    const bool second = CheckBlockVector(cipher, tables::BlowfishSelfTestKey2, tables::BlowfishSelfTestPlain2,
                                         tables::BlowfishSelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
