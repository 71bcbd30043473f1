#include "KCtea.h"

#include <algorithm>

#include "KCwordlanes.h"

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

namespace {

using Key = std::array<std::uint32_t, 4>;

// This system's round adds three terms, combining the key words with the
// half by xor and the sum with the shifted half by xor; the published TEA
// xors ((z << 4) + K0), (z + sum) and ((z >> 5) + K1) instead. Stored data
// depends on this form, so it must stay as it is.
//
// The rounds are written once over a word type W: a plain word for one
// block, or a vector that carries a block per lane. Each half round of
// every set right after the same one of the others: a set alone waits on
// the chain of additions within its half round.
template <bool Encrypting, typename W, std::size_t Sets>
inline void Rounds(const Key& k, W (&y)[Sets], W (&z)[Sets]) noexcept {
    if constexpr (Encrypting) {
        std::uint32_t sum = 0;
        for (int round = 0; round < 32; ++round) {
            sum += Delta;
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) y[s] += (z[s] << 4) + (k[0] ^ z[s]) + (sum ^ (z[s] >> 5)) + k[1];
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) z[s] += (y[s] << 4) + (k[2] ^ y[s]) + (sum ^ (y[s] >> 5)) + k[3];
        }
    } else {
        std::uint32_t sum = FinalSum;
        for (int round = 0; round < 32; ++round) {
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) z[s] -= (y[s] << 4) + (k[2] ^ y[s]) + (sum ^ (y[s] >> 5)) + k[3];
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) y[s] -= (z[s] << 4) + (k[0] ^ z[s]) + (sum ^ (z[s] >> 5)) + k[1];
            sum -= Delta;
        }
    }
}

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Key& k, ConstBytes source, Bytes dest) noexcept {
    lanes::CryptOnPath<lanes::Pairs<true>, TKC_tea::HasSse2Path>(path, source, dest, [&k](auto& y, auto& z) {
        Rounds<Encrypting>(k, y, z);
    });
}

}  // namespace

void TKC_tea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    KeyWords = tea::KeyWordsOf(key, keyBits);
    ChoosePath();
}

void TKC_tea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, KeyWords, source, dest);
}

void TKC_tea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, KeyWords, source, dest);
}

// No published vector applies to this variant: a round trip instead.
bool TKC_tea::SelfTest() {
    TKC_tea cipher;
    return tea::SelfTestRoundTrip(cipher);
}

}  // namespace kestrune
