#include "KCidea.h"

#include <algorithm>

#include "KCidea_tables.inc"

namespace kestrune {
namespace {

// Multiplication modulo 65537, where 0 stands for 65536. For p = a * b =
// hi * 65536 + lo, p = lo - hi modulo 65537; a negative difference wraps,
// and subtracting its top half then adds the 65537. A zero product means
// one operand was 65536 = -1, so the result is the other one negated; it is
// rare, and a predicted branch keeps it off the chain of multiplications.
inline std::uint32_t Mul(std::uint32_t a, std::uint32_t b) noexcept {
    const std::uint32_t p = a * b;
    if (__builtin_expect(p != 0, 1)) {
        const std::uint32_t lo = p & 0xFFFF, hi = p >> 16;
        return (lo - hi + (lo < hi)) & 0xFFFF;
    }
    return (1 - a - b) & 0xFFFF;
}

// Inverse modulo 65537 as x^65535; 0 (65536) and 1 are their own inverses.
std::uint16_t MulInverse(std::uint16_t x) noexcept {
    if (x <= 1) return x;
    std::uint64_t result = 1, base = x;
    for (std::uint32_t e = 65535; e != 0; e >>= 1) {
        if (e & 1) result = result * base % 65537;
        base = base * base % 65537;
    }
    return static_cast<std::uint16_t>(result);
}

std::uint16_t AddInverse(std::uint16_t x) noexcept { return static_cast<std::uint16_t>(0x10000 - x); }

void Crypt(const std::array<std::uint16_t, 52>& z, ConstBytes source, Bytes dest) noexcept {
    for (std::size_t off = 0; off < source.size(); off += 8) {
        const std::uint32_t a = LoadBE32(source.subspan(off, 4)), b = LoadBE32(source.subspan(off + 4, 4));
        std::uint32_t x1 = a >> 16, x2 = a & 0xFFFF, x3 = b >> 16, x4 = b & 0xFFFF;
#pragma GCC unroll 8
        for (std::size_t k = 0; k < 48; k += 6) {
            x1 = Mul(x1, z[k]);
            x2 = (x2 + z[k + 1]) & 0xFFFF;
            x3 = (x3 + z[k + 2]) & 0xFFFF;
            x4 = Mul(x4, z[k + 3]);
            const std::uint32_t s = Mul(x1 ^ x3, z[k + 4]);
            const std::uint32_t t = Mul((s + (x2 ^ x4)) & 0xFFFF, z[k + 5]);
            const std::uint32_t u = (s + t) & 0xFFFF;
            x1 ^= t;
            x4 ^= u;
            const std::uint32_t middle = x2 ^ u;
            x2 = x3 ^ t;
            x3 = middle;
        }
        // The output transformation undoes the last swap of the middle words.
        StoreBE32Block(dest.subspan(off, 4), (Mul(x1, z[48]) << 16) | ((x3 + z[49]) & 0xFFFF));
        StoreBE32Block(dest.subspan(off + 4, 4), (((x2 + z[50]) & 0xFFFF) << 16) | Mul(x4, z[51]));
    }
}

}  // namespace

void TKC_idea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    std::array<std::uint8_t, 16> padded{};  // shorter keys are padded with zero bytes
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::uint64_t hi = LoadBE64(padded), lo = LoadBE64(ConstBytes(padded).subspan(8));
    SecureZero(padded);
    // Eight subkeys from the 128-bit key, then the key rotated left by 25.
    for (std::size_t i = 0; i < 52; i += 8) {
        for (std::size_t j = 0; j < 8 && i + j < 52; ++j)
            EncSubkeys[i + j] = static_cast<std::uint16_t>((j < 4 ? hi : lo) >> (48 - 16 * (j % 4)));
        const std::uint64_t rotatedHi = (hi << 25) | (lo >> 39);
        lo = (lo << 25) | (hi >> 39);
        hi = rotatedHi;
    }
    hi = lo = 0;

    // Decryption runs the rounds backwards: inverses of the multiplication
    // and addition keys, middle addition keys swapped except in the first
    // and last step, and the MA keys of the round before.
    const auto& e = EncSubkeys;
    auto& d = DecSubkeys;
    for (std::size_t r = 0; r <= 8; ++r) {
        const std::size_t from = 48 - 6 * r;
        const bool swapMiddle = r != 0 && r != 8;
        d[6 * r] = MulInverse(e[from]);
        d[6 * r + 1] = AddInverse(e[from + (swapMiddle ? 2 : 1)]);
        d[6 * r + 2] = AddInverse(e[from + (swapMiddle ? 1 : 2)]);
        d[6 * r + 3] = MulInverse(e[from + 3]);
        if (r < 8) {
            d[6 * r + 4] = e[from - 2];
            d[6 * r + 5] = e[from - 1];
        }
    }
}

void TKC_idea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept { Crypt(EncSubkeys, source, dest); }

void TKC_idea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept { Crypt(DecSubkeys, source, dest); }

bool TKC_idea::SelfTest() {
    TKC_idea cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, IdeaSelfTestKey1, IdeaSelfTestPlain1, IdeaSelfTestCipher1);
    const bool second = CheckBlockVector(cipher, IdeaSelfTestKey2, IdeaSelfTestPlain2, IdeaSelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
