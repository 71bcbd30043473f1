#include "KCtea.h"

#include <algorithm>

#include "../framework/KCcpufeatures.h"
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

template <bool Encrypting>
void CryptPortable(const Key& k, ConstBytes source, Bytes dest) noexcept {
    for (std::size_t off = 0; off < source.size(); off += 8) {
        std::uint32_t y[1] = {LoadBE32(source.subspan(off))}, z[1] = {LoadBE32(source.subspan(off + 4))};
        Rounds<Encrypting>(k, y, z);
        StoreBE32(dest.subspan(off), y[0]);
        StoreBE32(dest.subspan(off + 4), z[0]);
    }
}

#ifdef KESTRUNE_WORD_LANES
template <bool Encrypting>
__attribute__((target("sse2"), flatten)) std::size_t CryptSse2(const Key& k, ConstBytes source,
                                                               Bytes dest) noexcept {
    return lanes::CryptPairsInFlight<lanes::Word4, true>(source, dest,
                                                         [&k](auto& y, auto& z) { Rounds<Encrypting>(k, y, z); });
}

template <bool Encrypting>
__attribute__((target("avx2"), flatten)) std::size_t CryptAvx2(const Key& k, ConstBytes source,
                                                               Bytes dest) noexcept {
    return lanes::CryptPairsInFlight<lanes::Word8, true>(source, dest,
                                                         [&k](auto& y, auto& z) { Rounds<Encrypting>(k, y, z); });
}
#endif

// Whole groups on the path chosen at keying; the rest, one block at a time.
template <bool Encrypting>
void Crypt(std::uint8_t path, const Key& k, ConstBytes source, Bytes dest) noexcept {
    std::size_t done = 0;
#ifdef KESTRUNE_WORD_LANES
    if (path == TKC_tea::PathAvx2)
        done = CryptAvx2<Encrypting>(k, source, dest);
    else if (path == TKC_tea::PathSse2)
        done = CryptSse2<Encrypting>(k, source, dest);
#else
    static_cast<void>(path);
#endif
    CryptPortable<Encrypting>(k, source.subspan(done), dest.subspan(done));
}

std::uint8_t UsablePath() noexcept {
#ifdef KESTRUNE_WORD_LANES
    if (CpuFeatures::Has(CpuFeature::Avx2)) return TKC_tea::PathAvx2;
    if (CpuFeatures::Has(CpuFeature::Sse2)) return TKC_tea::PathSse2;
#endif
    return TKC_tea::PathPortable;
}

}  // namespace

std::string_view TKC_tea::Provider() const noexcept {
    switch (IsInitialized() ? Path : UsablePath()) {
    case PathAvx2: return "avx2";
    case PathSse2: return "sse2";
    default: return "portable";
    }
}

void TKC_tea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    KeyWords = tea::KeyWordsOf(key, keyBits);
    Path = UsablePath();
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
