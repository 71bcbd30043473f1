#include "KCidea.h"

#include <algorithm>

#include "KCidea_tables.inc"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Multiplicative inverses modulo 65537 of all 18 multiplication keys at
// once (0 stands for 65536): one exponentiation x^65535 of their product,
// then a multiplication back per key. Inverting each alone cost six times
// more; this stays free of key-dependent branches, as a Euclid would not be.
std::array<std::uint16_t, 18> MulInverses(const std::array<std::uint16_t, 18>& keys) noexcept {
    constexpr std::uint64_t P = 65537;
    const auto element = [](std::uint16_t k) -> std::uint64_t { return k == 0 ? 65536 : k; };
    std::array<std::uint64_t, 18> prefix{};
    std::uint64_t product = 1;
    for (std::size_t i = 0; i < keys.size(); ++i) prefix[i] = product = product * element(keys[i]) % P;
    std::uint64_t inverse = 1, base = product;
    for (std::uint32_t e = 65535; e != 0; e >>= 1) {
        if (e & 1) inverse = inverse * base % P;
        base = base * base % P;
    }
    std::array<std::uint16_t, 18> result{};
    for (std::size_t i = keys.size(); i-- > 0;) {
        const std::uint64_t one = i == 0 ? inverse : inverse * prefix[i - 1] % P;
        result[i] = static_cast<std::uint16_t>(one);  // 65536 becomes 0
        inverse = inverse * element(keys[i]) % P;
    }
    SecureZero(prefix);
    product = base = inverse = 0;
    return result;
}

std::uint16_t AddInverse(std::uint16_t x) noexcept { return static_cast<std::uint16_t>(0x10000 - x); }

#if defined(__SSE2__)
// Eight blocks at once, one 16-bit lane each (CBC decryption, CTR and CFB
// decryption hand over many blocks). Scalar IDEA is bound by its operation
// count rather than by latency, so interleaving blocks gains nothing; SSE2
// does eight multiplications in one.
constexpr std::size_t VectorBlocks = 8;

// Mul above, lane by lane: lo - hi, plus one where lo < hi; where the
// product is zero, 1 - a - b.
inline __m128i MulLanes(__m128i a, __m128i b) noexcept {
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1);
    const __m128i lo = _mm_mullo_epi16(a, b), hi = _mm_mulhi_epu16(a, b);
    const __m128i hiNotAbove = _mm_cmpeq_epi16(_mm_subs_epu16(hi, lo), zero);  // -1 where lo >= hi
    const __m128i product = _mm_add_epi16(_mm_add_epi16(_mm_sub_epi16(lo, hi), hiNotAbove), one);
    const __m128i isZero = _mm_cmpeq_epi16(_mm_or_si128(lo, hi), zero);
    const __m128i other = _mm_sub_epi16(_mm_sub_epi16(one, a), b);
    return _mm_or_si128(_mm_andnot_si128(isZero, product), _mm_and_si128(isZero, other));
}

// Whole groups of eight blocks; returns the bytes done.
std::size_t CryptVector(const std::array<std::uint16_t, 52>& z, ConstBytes source, Bytes dest) noexcept {
    constexpr std::size_t group = 8 * VectorBlocks;
    const std::size_t done = source.size() / group * group;
    const auto key = [&z](std::size_t i) { return _mm_set1_epi16(static_cast<short>(z[i])); };
    // Word w of block b goes to lane b of words[w].
    alignas(16) std::uint16_t words[4][VectorBlocks];
    for (std::size_t off = 0; off < done; off += group) {
        const std::uint8_t* in = source.data() + off;
        for (std::size_t b = 0; b < VectorBlocks; ++b)
            for (std::size_t w = 0; w < 4; ++w)
                words[w][b] = static_cast<std::uint16_t>(in[8 * b + 2 * w] << 8 | in[8 * b + 2 * w + 1]);
        __m128i x1 = _mm_load_si128(reinterpret_cast<const __m128i*>(words[0]));
        __m128i x2 = _mm_load_si128(reinterpret_cast<const __m128i*>(words[1]));
        __m128i x3 = _mm_load_si128(reinterpret_cast<const __m128i*>(words[2]));
        __m128i x4 = _mm_load_si128(reinterpret_cast<const __m128i*>(words[3]));
        for (std::size_t k = 0; k < 48; k += 6) {
            x1 = MulLanes(x1, key(k));
            x2 = _mm_add_epi16(x2, key(k + 1));
            x3 = _mm_add_epi16(x3, key(k + 2));
            x4 = MulLanes(x4, key(k + 3));
            const __m128i s = MulLanes(_mm_xor_si128(x1, x3), key(k + 4));
            const __m128i t = MulLanes(_mm_add_epi16(s, _mm_xor_si128(x2, x4)), key(k + 5));
            const __m128i u = _mm_add_epi16(s, t);
            x1 = _mm_xor_si128(x1, t);
            x4 = _mm_xor_si128(x4, u);
            const __m128i middle = _mm_xor_si128(x2, u);
            x2 = _mm_xor_si128(x3, t);
            x3 = middle;
        }
        // The output transformation undoes the last swap of the middle words.
        _mm_store_si128(reinterpret_cast<__m128i*>(words[0]), MulLanes(x1, key(48)));
        _mm_store_si128(reinterpret_cast<__m128i*>(words[1]), _mm_add_epi16(x3, key(49)));
        _mm_store_si128(reinterpret_cast<__m128i*>(words[2]), _mm_add_epi16(x2, key(50)));
        _mm_store_si128(reinterpret_cast<__m128i*>(words[3]), MulLanes(x4, key(51)));
        std::uint8_t* out = dest.data() + off;
        for (std::size_t b = 0; b < VectorBlocks; ++b)
            for (std::size_t w = 0; w < 4; ++w) {
                out[8 * b + 2 * w] = static_cast<std::uint8_t>(words[w][b] >> 8);
                out[8 * b + 2 * w + 1] = static_cast<std::uint8_t>(words[w][b]);
            }
    }
    SecureZero(words);
    return done;
}
#endif

void Crypt(const std::array<std::uint16_t, 52>& z, ConstBytes source, Bytes dest) noexcept {
#if defined(__SSE2__)
    const std::size_t grouped = CryptVector(z, source, dest);
#else
    const std::size_t grouped = 0;
#endif
    for (std::size_t off = grouped; off < source.size(); off += 8) {
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
    std::array<std::uint16_t, 18> mulKeys{};
    for (std::size_t r = 0; r <= 8; ++r) {
        mulKeys[2 * r] = e[48 - 6 * r];
        mulKeys[2 * r + 1] = e[48 - 6 * r + 3];
    }
    std::array<std::uint16_t, 18> inverses = MulInverses(mulKeys);
    for (std::size_t r = 0; r <= 8; ++r) {
        const std::size_t from = 48 - 6 * r;
        const bool swapMiddle = r != 0 && r != 8;
        d[6 * r] = inverses[2 * r];
        d[6 * r + 1] = AddInverse(e[from + (swapMiddle ? 2 : 1)]);
        d[6 * r + 2] = AddInverse(e[from + (swapMiddle ? 1 : 2)]);
        d[6 * r + 3] = inverses[2 * r + 1];
        if (r < 8) {
            d[6 * r + 4] = e[from - 2];
            d[6 * r + 5] = e[from - 1];
        }
    }
    SecureZero(mulKeys);
    SecureZero(inverses);
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
