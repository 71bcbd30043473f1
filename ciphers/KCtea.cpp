#include "KCtea.h"

#include <algorithm>

namespace kestrune {
using tea::Delta;
using tea::FinalSum;

std::array<std::uint32_t, 4> tea::KeyWordsOf(ConstBytes key, std::uint32_t keyBits) noexcept {
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::array<std::uint32_t, 4> words;
    for (std::size_t i = 0; i < 4; ++i) words[i] = LoadBE32(ConstBytes(padded).subspan(4 * i));
    SecureZero(padded);
    return words;
}

bool tea::SelfTestRoundTrip(TKC_blockcipher64& cipher) {
    const ConstBytes key(reinterpret_cast<const std::uint8_t*>(SelfTestKey.data()), SelfTestKey.size());
    return CheckRoundTrip(cipher, key, key.first(8));
}

void TKC_tea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) { KeyWords = tea::KeyWordsOf(key, keyBits); }

// This system's round adds three terms, combining the key words with the
// half by xor and the sum with the shifted half by xor; the published TEA
// xors ((z << 4) + K0), (z + sum) and ((z >> 5) + K1) instead. Stored data
// depends on this form, so it must stay as it is.
void TKC_tea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto [k0, k1, k2, k3] = KeyWords.Plain();
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y = LoadBE32(source.subspan(off)), z = LoadBE32(source.subspan(off + 4));
        std::uint32_t sum = 0;
        for (int round = 0; round < 32; ++round) {
            sum += Delta;
            y += (z << 4) + (k0 ^ z) + (sum ^ (z >> 5)) + k1;
            z += (y << 4) + (k2 ^ y) + (sum ^ (y >> 5)) + k3;
        }
        StoreBE32(dest.subspan(off), y);
        StoreBE32(dest.subspan(off + 4), z);
    }
}

void TKC_tea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    const auto [k0, k1, k2, k3] = KeyWords.Plain();
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y = LoadBE32(source.subspan(off)), z = LoadBE32(source.subspan(off + 4));
        std::uint32_t sum = FinalSum;
        for (int round = 0; round < 32; ++round) {
            z -= (y << 4) + (k2 ^ y) + (sum ^ (y >> 5)) + k3;
            y -= (z << 4) + (k0 ^ z) + (sum ^ (z >> 5)) + k1;
            sum -= Delta;
        }
        StoreBE32(dest.subspan(off), y);
        StoreBE32(dest.subspan(off + 4), z);
    }
}

// No published vector applies to this variant: a round trip instead.
bool TKC_tea::SelfTest() {
    TKC_tea cipher;
    return tea::SelfTestRoundTrip(cipher);
}

}  // namespace kestrune
