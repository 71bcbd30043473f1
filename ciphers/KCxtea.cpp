#include "KCxtea.h"

#include "KCtea.h"

#include <algorithm>

#include "KCwordlanes.h"

namespace kestrune {
using tea::Delta;

namespace {

using Sums = std::array<std::uint32_t, 64>;

// This system's round xors the shifted half with the keyed sum and adds the
// result; the published XTEA also adds the half itself before the xor.
// Stored data depends on this form, so it must stay as it is.
//
// The rounds are written once over a word type W: a plain word for one
// block, or a vector that carries a block per lane. Each half round of
// every set right after the same one of the others: a set alone waits on
// the chain of operations within its half round.
template <bool Encrypting, typename W, std::size_t Sets>
inline void Rounds(const Sums& keyed, W (&y)[Sets], W (&z)[Sets]) noexcept {
    if constexpr (Encrypting) {
        for (std::size_t i = 0; i < 64; i += 2) {
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) y[s] += ((z[s] << 4) ^ (z[s] >> 5)) ^ keyed[i];
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) z[s] += ((y[s] << 4) ^ (y[s] >> 5)) ^ keyed[i + 1];
        }
    } else {
        for (std::size_t i = 64; i != 0; i -= 2) {
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) z[s] -= ((y[s] << 4) ^ (y[s] >> 5)) ^ keyed[i - 1];
#pragma GCC unroll 8
            for (std::size_t s = 0; s < Sets; ++s) y[s] -= ((z[s] << 4) ^ (z[s] >> 5)) ^ keyed[i - 2];
        }
    }
}

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Sums& keyed, ConstBytes source, Bytes dest) noexcept {
    lanes::CryptOnPath<lanes::Pairs<true>, TKC_xtea::HasSse2Path>(path, source, dest, [&keyed](auto& y, auto& z) {
        Rounds<Encrypting>(keyed, y, z);
    });
}

}  // namespace

// The first half round of each pair picks the key word by the sum's low
// bits, the second by bits 11 and 12 of the sum after it is advanced.
void TKC_xtea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    auto k = tea::KeyWordsOf(key, keyBits);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 64; i += 2) {
        KeyedSums[i] = sum + k[sum & 3];
        sum += Delta;
        KeyedSums[i + 1] = sum + k[(sum >> 11) & 3];
    }
    SecureZero(k);
    ChoosePath();
}

void TKC_xtea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(Path, KeyedSums, source, dest);
}

void TKC_xtea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(Path, KeyedSums, source, dest);
}

// No published vector applies to this variant: a round trip instead.
bool TKC_xtea::SelfTest() {
    TKC_xtea cipher;
    return tea::SelfTestRoundTrip(cipher);
}

}  // namespace kestrune
