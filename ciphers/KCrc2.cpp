#include "KCrc2.h"

#include <algorithm>
#include <bit>

#include "KCrc2_tables.inc"

namespace kestrune {
namespace {

struct Words {
    std::uint16_t r0, r1, r2, r3;
};

inline Words Load(ConstBytes block) noexcept {
    const std::uint32_t a = LoadLE32(block.first(4)), b = LoadLE32(block.subspan(4, 4));
    return {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(a >> 16), static_cast<std::uint16_t>(b),
            static_cast<std::uint16_t>(b >> 16)};
}

inline void Store(Bytes block, const Words& w) noexcept {
    StoreLE32(block.first(4), w.r0 | (std::uint32_t{w.r1} << 16));
    StoreLE32(block.subspan(4, 4), w.r2 | (std::uint32_t{w.r3} << 16));
}

// (x & y) + (~x & z) picks, bit by bit, y where x is set and z elsewhere:
// z ^ (x & (y ^ z)), where y ^ z is ready before x, the word just mixed.
inline std::uint16_t Select(std::uint16_t x, std::uint16_t y, std::uint16_t z) noexcept {
    return static_cast<std::uint16_t>(z ^ (x & (y ^ z)));
}

inline std::uint16_t Mix(std::uint16_t r, std::uint16_t k, std::uint16_t select, int rotation) noexcept {
    return std::rotl(static_cast<std::uint16_t>(r + k + select), rotation);
}

inline std::uint16_t Unmix(std::uint16_t r, std::uint16_t k, std::uint16_t select, int rotation) noexcept {
    return static_cast<std::uint16_t>(std::rotr(r, rotation) - k - select);
}

// R[i] += K[j] + (R[i-1] & R[i-2]) + (~R[i-1] & R[i-3]), rotated by 1, 2, 3, 5.
inline void MixingRound(Words& w, const std::uint16_t* k) noexcept {
    w.r0 = Mix(w.r0, k[0], Select(w.r3, w.r2, w.r1), 1);
    w.r1 = Mix(w.r1, k[1], Select(w.r0, w.r3, w.r2), 2);
    w.r2 = Mix(w.r2, k[2], Select(w.r1, w.r0, w.r3), 3);
    w.r3 = Mix(w.r3, k[3], Select(w.r2, w.r1, w.r0), 5);
}

inline void MashingRound(Words& w, const std::uint16_t* k) noexcept {
    w.r0 = static_cast<std::uint16_t>(w.r0 + k[w.r3 & 63]);
    w.r1 = static_cast<std::uint16_t>(w.r1 + k[w.r0 & 63]);
    w.r2 = static_cast<std::uint16_t>(w.r2 + k[w.r1 & 63]);
    w.r3 = static_cast<std::uint16_t>(w.r3 + k[w.r2 & 63]);
}

inline void ReverseMixingRound(Words& w, const std::uint16_t* k) noexcept {
    w.r3 = Unmix(w.r3, k[3], Select(w.r2, w.r1, w.r0), 5);
    w.r2 = Unmix(w.r2, k[2], Select(w.r1, w.r0, w.r3), 3);
    w.r1 = Unmix(w.r1, k[1], Select(w.r0, w.r3, w.r2), 2);
    w.r0 = Unmix(w.r0, k[0], Select(w.r3, w.r2, w.r1), 1);
}

inline void ReverseMashingRound(Words& w, const std::uint16_t* k) noexcept {
    w.r3 = static_cast<std::uint16_t>(w.r3 - k[w.r2 & 63]);
    w.r2 = static_cast<std::uint16_t>(w.r2 - k[w.r1 & 63]);
    w.r1 = static_cast<std::uint16_t>(w.r1 - k[w.r0 & 63]);
    w.r0 = static_cast<std::uint16_t>(w.r0 - k[w.r3 & 63]);
}

}  // namespace

void TKC_rc2::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    const std::size_t n = keyBits / 8;  // at least 1 (MinKeyBits)
    std::array<std::uint8_t, 128> l;
    std::copy_n(key.begin(), n, l.begin());
    for (std::size_t i = n; i < 128; ++i) l[i] = tables::Rc2PiTable[(l[i - 1] + l[i - n]) & 0xFF];
    // The reduction to an effective key length stops at this step for 1024 bits.
    l[0] = tables::Rc2PiTable[l[0]];
    for (std::size_t i = 0; i < 64; ++i) ExpandedKey[i] = static_cast<std::uint16_t>(l[2 * i] | (l[2 * i + 1] << 8));
    SecureZero(l);
}

namespace {

// N blocks from OFF on, round by round. Several blocks at once: each
// block's rounds are one chain of dependent steps, and the chains of other
// blocks fill its waits (CBC decryption, CTR and CFB decryption hand over
// many blocks).
template <bool Encrypting, std::size_t N>
[[gnu::always_inline]] inline void CryptBlocks(const std::uint16_t* k, ConstBytes source, Bytes dest,
                                               std::size_t off) noexcept {
    Words w[N];
    for (std::size_t b = 0; b < N; ++b) w[b] = Load(source.subspan(off + 8 * b, 8));
    const auto each = [&w](auto round) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < N; ++b) round(w[b]);
    };
    if constexpr (Encrypting) {
        // Five mixing rounds, mashing, six mixing, mashing, five mixing.
        for (int j = 0; j < 20; j += 4) each([&](Words& x) { MixingRound(x, k + j); });
        each([&](Words& x) { MashingRound(x, k); });
        for (int j = 20; j < 44; j += 4) each([&](Words& x) { MixingRound(x, k + j); });
        each([&](Words& x) { MashingRound(x, k); });
        for (int j = 44; j < 64; j += 4) each([&](Words& x) { MixingRound(x, k + j); });
    } else {
        for (int j = 60; j >= 44; j -= 4) each([&](Words& x) { ReverseMixingRound(x, k + j); });
        each([&](Words& x) { ReverseMashingRound(x, k); });
        for (int j = 40; j >= 20; j -= 4) each([&](Words& x) { ReverseMixingRound(x, k + j); });
        each([&](Words& x) { ReverseMashingRound(x, k); });
        for (int j = 16; j >= 0; j -= 4) each([&](Words& x) { ReverseMixingRound(x, k + j); });
    }
    for (std::size_t b = 0; b < N; ++b) Store(dest.subspan(off + 8 * b, 8), w[b]);
}

// Four chains fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// Whole groups of Lanes blocks, then the rest one by one.
template <bool Encrypting>
void Crypt(const std::uint16_t* k, ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t grouped = source.size() / group * group;
    std::size_t off = 0;
    for (; off < grouped; off += group) CryptBlocks<Encrypting, Lanes>(k, source, dest, off);
    for (; off < source.size(); off += 8) CryptBlocks<Encrypting, 1>(k, source, dest, off);
}

}  // namespace

void TKC_rc2::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<true>(ExpandedKey.data(), source, dest);
}

void TKC_rc2::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    Crypt<false>(ExpandedKey.data(), source, dest);
}

bool TKC_rc2::SelfTest() {
    TKC_rc2 cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, Rc2SelfTestKey1, Rc2SelfTestPlain1, Rc2SelfTestCipher1);
    const bool second = CheckBlockVector(cipher, Rc2SelfTestKey2, Rc2SelfTestPlain2, Rc2SelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
