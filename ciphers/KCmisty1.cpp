#include "KCmisty1.h"

#include <algorithm>

#include "KCmisty1_tables.inc"

namespace kestrune {
namespace {

// FI with its 16-bit subkey split into the 7-bit half (high) and the 9-bit
// half (low), as the schedule stores them. Written for a short chain from
// the first S9 look-up to the result, the part a lone block waits on: the
// key and the input's low 7 bits join the second look-up's index in one
// exclusive-or, and as the 7-bit half d7 sits both above the 9-bit one and
// in its low bits, (d7 << 9) | (S9[..] ^ d7) is S9[..] ^ d7 * 0x201.
[[gnu::always_inline]] inline std::uint32_t FI(std::uint32_t x, std::uint32_t key7, std::uint32_t key9) noexcept {
    const std::uint32_t d9 = x >> 7, d7 = x & 0x7F;
    const std::uint32_t s9 = tables::Misty1S9[d9];
    const std::uint32_t d7Out = tables::Misty1S7[d7] ^ d7 ^ key7 ^ (s9 & 0x7F);
    return tables::Misty1S9[s9 ^ (d7 ^ key9)] ^ d7Out * 0x201;
}

}  // namespace

// Indices into ExpandedKey: K at 0, K' at 8, its low 9 bits at 16, high 7 bits at 24.
template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t TKC_misty1::FO(std::uint32_t x) const noexcept {
    const auto& ek = ExpandedKey;
    std::uint32_t t0 = x >> 16, t1 = x & 0xFFFF;
    t0 ^= ek[K];
    t0 = FI(t0, ek[24 + (K + 5) % 8], ek[16 + (K + 5) % 8]) ^ t1;
    t1 ^= ek[(K + 2) % 8];
    t1 = FI(t1, ek[24 + (K + 1) % 8], ek[16 + (K + 1) % 8]) ^ t0;
    t0 ^= ek[(K + 7) % 8];
    t0 = FI(t0, ek[24 + (K + 3) % 8], ek[16 + (K + 3) % 8]) ^ t1;
    t1 ^= ek[(K + 4) % 8];
    return (t1 << 16) | t0;
}

// Even layers use K[k/2] and K'[k/2 + 6]; odd ones K'[(k-1)/2 + 2] and K[(k-1)/2 + 4].
template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t TKC_misty1::FL(std::uint32_t x) const noexcept {
    const auto& ek = ExpandedKey;
    std::uint32_t d0 = x >> 16, d1 = x & 0xFFFF;
    if constexpr (K % 2 == 0) {
        d1 ^= d0 & ek[K / 2];
        d0 ^= d1 | ek[8 + (K / 2 + 6) % 8];
    } else {
        d1 ^= d0 & ek[8 + ((K - 1) / 2 + 2) % 8];
        d0 ^= d1 | ek[((K - 1) / 2 + 4) % 8];
    }
    return (d0 << 16) | d1;
}

template <unsigned K>
[[gnu::always_inline]] inline std::uint32_t TKC_misty1::FLInverse(std::uint32_t x) const noexcept {
    const auto& ek = ExpandedKey;
    std::uint32_t d0 = x >> 16, d1 = x & 0xFFFF;
    if constexpr (K % 2 == 0) {
        d0 ^= d1 | ek[8 + (K / 2 + 6) % 8];
        d1 ^= d0 & ek[K / 2];
    } else {
        d0 ^= d1 | ek[((K - 1) / 2 + 4) % 8];
        d1 ^= d0 & ek[8 + ((K - 1) / 2 + 2) % 8];
    }
    return (d0 << 16) | d1;
}

void TKC_misty1::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    // Shorter keys are padded with zero bytes to 16.
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    for (std::size_t i = 0; i < 8; ++i) ExpandedKey[i] = (std::uint32_t{padded[2 * i]} << 8) | padded[2 * i + 1];
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint32_t k = ExpandedKey[(i + 1) % 8];
        const std::uint32_t derived = FI(ExpandedKey[i], k >> 9, k & 0x1FF);
        ExpandedKey[8 + i] = derived;
        ExpandedKey[16 + i] = derived & 0x1FF;
        ExpandedKey[24 + i] = derived >> 9;
    }
    SecureZero(padded);
}

namespace {

// Several blocks at once, step by step: each block's rounds are one chain
// of dependent look-ups, and the chains of other blocks fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks). Four chains
// fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// Whole groups of Lanes blocks through CRYPT<Lanes>, then the rest one by
// one through CRYPT<1>; CRYPT takes the offset of its first block.
template <typename Crypt>
void ForEachGroup(std::size_t size, const Crypt& crypt) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t grouped = size / group * group;
    std::size_t off = 0;
    for (; off < grouped; off += group) crypt.template operator()<Lanes>(off);
    for (; off < size; off += 8) crypt.template operator()<1>(off);
}

}  // namespace

void TKC_misty1::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    ForEachGroup(source.size(), [this, source, dest]<std::size_t N>(std::size_t off) {
        std::uint32_t d0[N], d1[N];
        for (std::size_t b = 0; b < N; ++b)
            d0[b] = LoadBE32(source.subspan(off + 8 * b)), d1[b] = LoadBE32(source.subspan(off + 8 * b + 4));
        const auto each = [&d0, &d1](auto step) {
#pragma GCC unroll 4
            for (std::size_t b = 0; b < N; ++b) step(d0[b], d1[b]);
        };
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<0>(x0), x1 = FL<1>(x1), x1 ^= FO<0>(x0); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<1>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<2>(x0), x1 = FL<3>(x1), x1 ^= FO<2>(x0); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<3>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<4>(x0), x1 = FL<5>(x1), x1 ^= FO<4>(x0); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<5>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<6>(x0), x1 = FL<7>(x1), x1 ^= FO<6>(x0); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<7>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FL<8>(x0), x1 = FL<9>(x1); });
        for (std::size_t b = 0; b < N; ++b)
            StoreBE32(dest.subspan(off + 8 * b), d1[b]), StoreBE32(dest.subspan(off + 8 * b + 4), d0[b]);
    });
}

void TKC_misty1::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    ForEachGroup(source.size(), [this, source, dest]<std::size_t N>(std::size_t off) {
        std::uint32_t d0[N], d1[N];
        for (std::size_t b = 0; b < N; ++b)
            d1[b] = LoadBE32(source.subspan(off + 8 * b)), d0[b] = LoadBE32(source.subspan(off + 8 * b + 4));
        const auto each = [&d0, &d1](auto step) {
#pragma GCC unroll 4
            for (std::size_t b = 0; b < N; ++b) step(d0[b], d1[b]);
        };
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 = FLInverse<8>(x0), x1 = FLInverse<9>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<7>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) {
            x1 ^= FO<6>(x0), x0 = FLInverse<6>(x0), x1 = FLInverse<7>(x1);
        });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<5>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) {
            x1 ^= FO<4>(x0), x0 = FLInverse<4>(x0), x1 = FLInverse<5>(x1);
        });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<3>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) {
            x1 ^= FO<2>(x0), x0 = FLInverse<2>(x0), x1 = FLInverse<3>(x1);
        });
        each([this](std::uint32_t& x0, std::uint32_t& x1) { x0 ^= FO<1>(x1); });
        each([this](std::uint32_t& x0, std::uint32_t& x1) {
            x1 ^= FO<0>(x0), x0 = FLInverse<0>(x0), x1 = FLInverse<1>(x1);
        });
        for (std::size_t b = 0; b < N; ++b)
            StoreBE32(dest.subspan(off + 8 * b), d0[b]), StoreBE32(dest.subspan(off + 8 * b + 4), d1[b]);
    });
}

// One key, two plaintexts: keyed once, wiped once at the end.
bool TKC_misty1::SelfTest() {
    TKC_misty1 cipher;
    cipher.Init(tables::Misty1SelfTestKey, static_cast<std::uint32_t>(tables::Misty1SelfTestKey.size() * 8));
    bool ok = true;
    const auto check = [&](const Block& plain, const Block& expected) {
        Block block = plain;
        cipher.EncryptBlock(block, block);
        ok = (block == expected) && ok;
        cipher.DecryptBlock(block, block);
        ok = (block == plain) && ok;
    };
    check(tables::Misty1SelfTestPlain1, tables::Misty1SelfTestCipher1);
    check(tables::Misty1SelfTestPlain2, tables::Misty1SelfTestCipher2);
    cipher.Wipe();
    return ok;
}

}  // namespace kestrune
