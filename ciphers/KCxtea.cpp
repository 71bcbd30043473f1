#include "KCxtea.h"

#include "KCtea.h"

#include <algorithm>

#include "../framework/KCcpufeatures.h"
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

template <bool Encrypting>
void CryptPortable(const Sums& keyed, ConstBytes source, Bytes dest) noexcept {
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y[1] = {LoadBE32(source.subspan(off))}, z[1] = {LoadBE32(source.subspan(off + 4))};
        Rounds<Encrypting>(keyed, y, z);
        StoreBE32(dest.subspan(off), y[0]);
        StoreBE32(dest.subspan(off + 4), z[0]);
    }
}

#ifdef KESTRUNE_WORD_LANES
template <bool Encrypting>
__attribute__((target("sse2"), flatten)) std::size_t CryptSse2(const Sums& keyed, ConstBytes source,
                                                               Bytes dest) noexcept {
    return lanes::CryptPairsInFlight<lanes::Word4, true>(
        source, dest, [&keyed](auto& y, auto& z) { Rounds<Encrypting>(keyed, y, z); });
}

template <bool Encrypting>
__attribute__((target("avx2"), flatten)) std::size_t CryptAvx2(const Sums& keyed, ConstBytes source,
                                                               Bytes dest) noexcept {
    return lanes::CryptPairsInFlight<lanes::Word8, true>(
        source, dest, [&keyed](auto& y, auto& z) { Rounds<Encrypting>(keyed, y, z); });
}
#endif

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Sums& keyed, ConstBytes source, Bytes dest) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_WORD_LANES
    if (path == TKC_xtea::PathAvx2)
        done = CryptAvx2<Encrypting>(keyed, source, dest);
    else if (path == TKC_xtea::PathSse2)
        done = CryptSse2<Encrypting>(keyed, source, dest);
#else
    static_cast<void>(path);
#endif
    CryptPortable<Encrypting>(keyed, source.subspan(done), dest.subspan(done));
}

std::uint8_t UsablePath() noexcept {
#ifdef KESTRUNE_WORD_LANES
    if (CpuFeatures::Has(CpuFeature::Avx2)) return TKC_xtea::PathAvx2;
    if (CpuFeatures::Has(CpuFeature::Sse2)) return TKC_xtea::PathSse2;
#endif
    return TKC_xtea::PathPortable;
}

}  // namespace

std::string_view TKC_xtea::Provider() const noexcept {
    switch (IsInitialized() ? Path : UsablePath()) {
    case PathAvx2: return "avx2";
    case PathSse2: return "sse2";
    default: return "portable";
    }
}

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
    Path = UsablePath();
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
