#include "KCice.h"

#include <algorithm>
#include <atomic>

#include "KClanes.h"
#include "KCice_tables.inc"

namespace kestrune {
namespace {

std::atomic<unsigned> SBoxBuilds{0};

// Multiplication in GF(2^8) modulo the polynomial m.
constexpr std::uint32_t GFMultiply(std::uint32_t a, std::uint32_t b, std::uint32_t m) noexcept {
    std::uint32_t result = 0;
    while (b != 0) {
        if (b & 1) result ^= a;
        a <<= 1;
        if (a >= 256) a ^= m;
        b >>= 1;
    }
    return result;
}

constexpr std::uint32_t GFPower7(std::uint32_t b, std::uint32_t m) noexcept {
    if (b == 0) return 0;
    const std::uint32_t t = GFMultiply(b, GFMultiply(b, b, m), m);
    return GFMultiply(b, GFMultiply(t, t, m), m);
}

constexpr std::uint32_t Permute(std::uint32_t x) noexcept {
    std::uint32_t result = 0;
    for (std::size_t bit = 0; x != 0; ++bit, x >>= 1)
        if (x & 1) result |= tables::IcePBox[bit];
    return result;
}

IceSBoxes BuildSBoxes() noexcept {
    IceSBoxes boxes;
    for (std::uint32_t i = 0; i < 1024; ++i) {
        // The outer two bits of the 10-bit input pick the row, the inner eight the column.
        const std::uint32_t column = (i >> 1) & 0xFF;
        const std::uint32_t row = (i & 1) | ((i & 0x200) >> 8);
        for (std::size_t j = 0; j < 4; ++j) {
            const std::uint32_t x = GFPower7(column ^ tables::IceSBoxXor[4 * j + row], tables::IceSBoxModulus[4 * j + row]);
            boxes[j][i] = Permute(x << (24 - 8 * j));
        }
    }
    SBoxBuilds.fetch_add(1, std::memory_order_relaxed);
    return boxes;
}

}  // namespace

const IceSBoxes& TKC_customice::SharedSBoxes() noexcept {
    // A function-local static is initialised once; threads arriving meanwhile
    // wait for the initialisation to finish before they read it.
    static const IceSBoxes boxes = BuildSBoxes();
    return boxes;
}

unsigned TKC_customice::SharedSBoxBuilds() noexcept { return SBoxBuilds.load(std::memory_order_relaxed); }

TKC_customice::TKC_customice() noexcept : SBoxes(SharedSBoxes()) {}

// Takes 60 bits from each of the four key words, one bit per word in turn,
// into the three 20-bit parts of eight subkeys, rotating the words as it goes.
void TKC_customice::BuildSchedule(std::array<std::uint16_t, 4>& kb, std::size_t start, std::size_t rotation) noexcept {
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t kr = tables::IceKeyRotation[rotation + i];
        std::array<std::uint32_t, 3> v{};
        for (std::size_t j = 0; j < 15; ++j) {
            for (std::size_t k = 0; k < 4; ++k) {
                std::uint16_t& word = kb[(kr + k) & 3];
                const std::uint32_t bit = word & 1u;
                v[j % 3] = (v[j % 3] << 1) | bit;
                word = static_cast<std::uint16_t>((word >> 1) | ((bit ^ 1u) << 15));
            }
        }
        Subkeys[start + i] = {v[0], v[1], v[2]};
    }
}

void TKC_customice::ExpandKeyLevel(ConstBytes key, std::uint32_t keyBits, unsigned level) noexcept {
    std::array<std::uint8_t, 16> padded{};
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::array<std::uint16_t, 4> kb;
    const auto loadWords = [&](std::size_t offset) {
        for (std::size_t j = 0; j < 4; ++j)
            kb[3 - j] = static_cast<std::uint16_t>((padded[offset + 2 * j] << 8) | padded[offset + 2 * j + 1]);
    };
    RoundCount = level > 0 ? 16 * level : 8;
    if (RoundCount == 8) {
        loadWords(0);
        BuildSchedule(kb, 0, 0);
    } else {
        // Each 64-bit key part fills eight subkeys from the front and eight from the back.
        for (std::size_t i = 0; i < level; ++i) {
            loadWords(8 * i);
            BuildSchedule(kb, 8 * i, 0);
            BuildSchedule(kb, RoundCount - 8 - 8 * i, 8);
        }
    }
    SecureZero(kb);
    SecureZero(padded);
}

namespace {

// The round function: expand the 32-bit half to two 20-bit halves, swap the
// bits the salt selects, xor in the subkey and look up the four S-boxes.
inline std::uint32_t F(const IceSBoxes& s, std::uint32_t p, std::uint32_t v0, std::uint32_t v1,
                       std::uint32_t salt) noexcept {
    const std::uint32_t tl = ((p >> 16) & 0x3FF) | (((p >> 14) | (p << 18)) & 0xFFC00);
    const std::uint32_t tr = (p & 0x3FF) | ((p << 2) & 0xFFC00);
    std::uint32_t al = salt & (tl ^ tr);
    std::uint32_t ar = al ^ tr;
    al ^= tl;
    al ^= v0;
    ar ^= v1;
    return s[0][al >> 10] | s[1][al & 0x3FF] | s[2][ar >> 10] | s[3][ar & 0x3FF];
}

}  // namespace

namespace {

// Several blocks at once, round by round: each block's rounds are one chain
// of dependent look-ups, and the chains of other blocks fill its waits (CBC
// decryption, CTR and CFB decryption hand over many blocks). Four chains
// fit the registers of x86-64, two those of 32-bit x86.
constexpr std::size_t Lanes = sizeof(void*) >= 8 ? 4 : 2;

// The rounds for N blocks; decryption takes the subkeys from the last. The
// halves leave swapped.
template <bool Encrypting, std::uint32_t Rounds, typename Keys, std::size_t N>
[[gnu::always_inline]] inline void IceRounds(const IceSBoxes& s, const Keys& k, std::uint32_t (&l)[N],
                                             std::uint32_t (&r)[N]) noexcept {
    for (std::size_t i = 0; i < Rounds; i += 2) {
        const auto& a = k[Encrypting ? i : Rounds - 1 - i];
        const auto& b = k[Encrypting ? i + 1 : Rounds - 2 - i];
#pragma GCC unroll 4
        for (std::size_t n = 0; n < N; ++n) l[n] ^= F(s, r[n], a.v0, a.v1, a.salt);
#pragma GCC unroll 4
        for (std::size_t n = 0; n < N; ++n) r[n] ^= F(s, l[n], b.v0, b.v1, b.salt);
    }
    for (std::size_t n = 0; n < N; ++n) std::swap(l[n], r[n]);
}

// Whole groups of Lanes blocks, then the rest one by one.
template <bool Encrypting, std::uint32_t Rounds, typename Keys>
void CryptIce(const IceSBoxes& s, const Keys& k, ConstBytes source, Bytes dest) noexcept {
    const std::size_t done = CryptGroupsBE<Lanes>(
        source, dest, [&](std::uint32_t (&l)[Lanes], std::uint32_t (&r)[Lanes]) __attribute__((always_inline)) {
            IceRounds<Encrypting, Rounds>(s, k, l, r);
        });
    for (std::size_t off = done; off < source.size(); off += 8) {
        std::uint32_t l[1] = {LoadBE32(source.subspan(off))}, r[1] = {LoadBE32(source.subspan(off + 4))};
        IceRounds<Encrypting, Rounds>(s, k, l, r);
        StoreBE32(dest.subspan(off), l[0]);
        StoreBE32(dest.subspan(off + 4), r[0]);
    }
}

}  // namespace

template <std::uint32_t Rounds>
void TKC_customice::EncryptRounds(ConstBytes source, Bytes dest) const noexcept {
    CryptIce<true, Rounds>(SBoxes, Subkeys, source, dest);
}

template <std::uint32_t Rounds>
void TKC_customice::DecryptRounds(ConstBytes source, Bytes dest) const noexcept {
    CryptIce<false, Rounds>(SBoxes, Subkeys, source, dest);
}

void TKC_customice::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    switch (RoundCount) {
    case 8: return EncryptRounds<8>(source, dest);
    case 16: return EncryptRounds<16>(source, dest);
    case 32: return EncryptRounds<32>(source, dest);
    default: return;  // wiped: the base refuses block operations before we get here
    }
}

void TKC_customice::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept {
    switch (RoundCount) {
    case 8: return DecryptRounds<8>(source, dest);
    case 16: return DecryptRounds<16>(source, dest);
    case 32: return DecryptRounds<32>(source, dest);
    default: return;
    }
}

bool TKC_ice::SelfTest() {
    TKC_ice cipher;
    return CheckBlockVector(cipher, tables::IceSelfTestKey, tables::IceSelfTestPlain, tables::IceSelfTestCipher);
}

bool TKC_thinice::SelfTest() {
    TKC_thinice cipher;
    return CheckBlockVector(cipher, tables::ThinIceSelfTestKey, tables::ThinIceSelfTestPlain,
                            tables::ThinIceSelfTestCipher);
}

bool TKC_ice2::SelfTest() {
    TKC_ice2 cipher;
    return CheckBlockVector(cipher, tables::Ice2SelfTestKey, tables::Ice2SelfTestPlain, tables::Ice2SelfTestCipher);
}

}  // namespace kestrune
