#include "KCidea.h"

#include <algorithm>

#include "KCidea_tables.inc"

#include "../framework/KCcpufeatures.h"
#include "KCserial.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTRUNE_IDEA_LANES 1
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

// a * b modulo 65537 for a and b in 1..65536, the answer in 1..65536. With
// p = hi * 65536 + lo and 65536 = -1, p = lo - hi; a negative difference
// takes 65537 more. Both answers are computed and one is selected, which
// compilers make a conditional move rather than a branch on the key: two
// operations after the product where a sign mask took four, on the chains
// of the key set-up.
constexpr std::uint64_t MulMod(std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t p = a * b;  // at most 2^32
    const std::uint64_t lo = p & 0xFFFF, hi = p >> 16;
    const std::uint64_t r = lo - hi, wrapped = lo + 65537 - hi;
    return lo < hi ? wrapped : r;
}

// Multiplicative inverses modulo 65537 of all 18 multiplication keys among
// the encryption subkeys, in the order decryption takes them, at once (0
// stands for 65536): one power x^65535 of their product, then a
// multiplication back per key. Inverting each alone cost six times more;
// this stays free of key-dependent branches, as a Euclid would not be.
// The keys are split into three interleaved lanes, each with its own
// product, power and way back: the three chains of multiplications run side
// by side, and each is a third as long as one chain over all the keys.
std::array<std::uint16_t, 18> MulInverses(const std::array<std::uint16_t, 52>& subkeys) noexcept {
    // Key i: the first (even i) or the second multiplication key of step
    // i / 2 of decryption, that is of round 8 - i / 2 of encryption. Read
    // one by one: copied out in a vector loop, they were read in words that
    // the processor could not forward from the subkeys' 16-bit stores.
    const auto key = [&subkeys](std::size_t i) { return subkeys[48 - 6 * (i / 2) + 3 * (i % 2)]; };
    constexpr std::size_t keyCount = 18;
    constexpr std::size_t Lanes = 3;  // key i in lane i % Lanes
    using LaneValues = std::array<std::uint64_t, Lanes>;
    const auto element = [](std::uint16_t k) -> std::uint64_t { return k == 0 ? 65536 : k; };
    std::array<std::uint64_t, 18> prefix{};  // the products of each lane up to key i
    LaneValues product{1, 1, 1};
    // Unrolled, so that the lanes are registers rather than memory.
#pragma GCC unroll 18
    for (std::size_t i = 0; i < keyCount; ++i)
        prefix[i] = product[i % Lanes] = MulMod(product[i % Lanes], element(key(i)));
    // x^65535 = x^(2^16 - 1) through x^3, x^15 and x^255: fifteen squarings
    // and four multiplications on each chain, where bit by bit took 32.
    const auto times = [](LaneValues a, const LaneValues& b) {
#pragma GCC unroll 3
        for (std::size_t l = 0; l < Lanes; ++l) a[l] = MulMod(a[l], b[l]);
        return a;
    };
    const auto squared = [&times](LaneValues v, int count) {
#pragma GCC unroll 8
        for (int i = 0; i < count; ++i) v = times(v, v);
        return v;
    };
    const LaneValues x3 = times(squared(product, 1), product);
    const LaneValues x15 = times(squared(x3, 2), x3);
    const LaneValues x255 = times(squared(x15, 4), x15);
    LaneValues inverse = times(squared(x255, 8), x255);
    std::array<std::uint16_t, 18> result{};
#pragma GCC unroll 18
    for (std::size_t i = keyCount; i-- > 0;) {
        std::uint64_t& lane = inverse[i % Lanes];
        const std::uint64_t one = i < Lanes ? lane : MulMod(lane, prefix[i - Lanes]);
        result[i] = static_cast<std::uint16_t>(one);  // 65536 becomes 0
        lane = MulMod(lane, element(key(i)));
    }
    SecureZero(prefix);
    SecureZero(product);
    SecureZero(inverse);
    return result;
}

std::uint16_t AddInverse(std::uint16_t x) noexcept { return static_cast<std::uint16_t>(0x10000 - x); }

#ifdef KESTRUNE_IDEA_LANES
// IDEA is bound by its operation count rather than by latency, so
// interleaving scalar blocks gains nothing; 16-bit lanes do eight (SSE2) or
// sixteen (AVX2) multiplications in one. CBC and CFB decryption and CTR
// hand over many blocks.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse2")
#endif
namespace sse2 {
using V = __m128i;
constexpr std::size_t Lanes = 8;
[[gnu::always_inline]] inline V Load(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const V*>(p));
}
[[gnu::always_inline]] inline void Store(std::uint8_t* p, V x) noexcept { _mm_storeu_si128(reinterpret_cast<V*>(p), x); }
[[gnu::always_inline]] inline V Set1(short x) noexcept { return _mm_set1_epi16(x); }
[[gnu::always_inline]] inline V Zero() noexcept { return _mm_setzero_si128(); }
[[gnu::always_inline]] inline V Add(V a, V b) noexcept { return _mm_add_epi16(a, b); }
[[gnu::always_inline]] inline V Sub(V a, V b) noexcept { return _mm_sub_epi16(a, b); }
[[gnu::always_inline]] inline V Subs(V a, V b) noexcept { return _mm_subs_epu16(a, b); }
[[gnu::always_inline]] inline V Mullo(V a, V b) noexcept { return _mm_mullo_epi16(a, b); }
[[gnu::always_inline]] inline V Mulhi(V a, V b) noexcept { return _mm_mulhi_epu16(a, b); }
[[gnu::always_inline]] inline V Cmpeq(V a, V b) noexcept { return _mm_cmpeq_epi16(a, b); }
[[gnu::always_inline]] inline V Xor(V a, V b) noexcept { return _mm_xor_si128(a, b); }
[[gnu::always_inline]] inline V Or(V a, V b) noexcept { return _mm_or_si128(a, b); }
[[gnu::always_inline]] inline V And(V a, V b) noexcept { return _mm_and_si128(a, b); }
[[gnu::always_inline]] inline V Andnot(V a, V b) noexcept { return _mm_andnot_si128(a, b); }
[[gnu::always_inline]] inline V Shl8(V x) noexcept { return _mm_slli_epi16(x, 8); }
[[gnu::always_inline]] inline V Shr8(V x) noexcept { return _mm_srli_epi16(x, 8); }
[[gnu::always_inline]] inline V Unpacklo16(V a, V b) noexcept { return _mm_unpacklo_epi16(a, b); }
[[gnu::always_inline]] inline V Unpackhi16(V a, V b) noexcept { return _mm_unpackhi_epi16(a, b); }
[[gnu::always_inline]] inline V Unpacklo64(V a, V b) noexcept { return _mm_unpacklo_epi64(a, b); }
[[gnu::always_inline]] inline V Unpackhi64(V a, V b) noexcept { return _mm_unpackhi_epi64(a, b); }
#include "KCidea_lanes.inc"
}  // namespace sse2
#if defined(__clang__)
#pragma clang attribute pop
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
using V = __m256i;
constexpr std::size_t Lanes = 16;
[[gnu::always_inline]] inline V Load(const std::uint8_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
}
[[gnu::always_inline]] inline void Store(std::uint8_t* p, V x) noexcept {
    _mm256_storeu_si256(reinterpret_cast<V*>(p), x);
}
[[gnu::always_inline]] inline V Set1(short x) noexcept { return _mm256_set1_epi16(x); }
[[gnu::always_inline]] inline V Zero() noexcept { return _mm256_setzero_si256(); }
[[gnu::always_inline]] inline V Add(V a, V b) noexcept { return _mm256_add_epi16(a, b); }
[[gnu::always_inline]] inline V Sub(V a, V b) noexcept { return _mm256_sub_epi16(a, b); }
[[gnu::always_inline]] inline V Subs(V a, V b) noexcept { return _mm256_subs_epu16(a, b); }
[[gnu::always_inline]] inline V Mullo(V a, V b) noexcept { return _mm256_mullo_epi16(a, b); }
[[gnu::always_inline]] inline V Mulhi(V a, V b) noexcept { return _mm256_mulhi_epu16(a, b); }
[[gnu::always_inline]] inline V Cmpeq(V a, V b) noexcept { return _mm256_cmpeq_epi16(a, b); }
[[gnu::always_inline]] inline V Xor(V a, V b) noexcept { return _mm256_xor_si256(a, b); }
[[gnu::always_inline]] inline V Or(V a, V b) noexcept { return _mm256_or_si256(a, b); }
[[gnu::always_inline]] inline V And(V a, V b) noexcept { return _mm256_and_si256(a, b); }
[[gnu::always_inline]] inline V Andnot(V a, V b) noexcept { return _mm256_andnot_si256(a, b); }
[[gnu::always_inline]] inline V Shl8(V x) noexcept { return _mm256_slli_epi16(x, 8); }
[[gnu::always_inline]] inline V Shr8(V x) noexcept { return _mm256_srli_epi16(x, 8); }
[[gnu::always_inline]] inline V Unpacklo16(V a, V b) noexcept { return _mm256_unpacklo_epi16(a, b); }
[[gnu::always_inline]] inline V Unpackhi16(V a, V b) noexcept { return _mm256_unpackhi_epi16(a, b); }
[[gnu::always_inline]] inline V Unpacklo64(V a, V b) noexcept { return _mm256_unpacklo_epi64(a, b); }
[[gnu::always_inline]] inline V Unpackhi64(V a, V b) noexcept { return _mm256_unpackhi_epi64(a, b); }
#include "KCidea_lanes.inc"
// The upper halves of the registers are cleared before SSE code runs again.
std::size_t CryptLanesWide(const std::array<std::uint16_t, 52>& z, ConstBytes source, Bytes dest) noexcept {
    const std::size_t done = CryptLanes(z, source, dest);
    _mm256_zeroupper();
    return done;
}
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

// One block as its two big-endian words, through the subkeys z.
[[gnu::always_inline]] inline void CryptWords(const std::array<std::uint16_t, 52>& z, std::uint32_t& a,
                                              std::uint32_t& b) noexcept {
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
    a = (Mul(x1, z[48]) << 16) | ((x3 + z[49]) & 0xFFFF);
    b = (((x2 + z[50]) & 0xFFFF) << 16) | Mul(x4, z[51]);
}

// Whole groups of blocks go through the lanes of the path chosen when
// keyed; the rest, one block at a time.
void Crypt(std::uint8_t path, const std::array<std::uint16_t, 52>& z, ConstBytes source, Bytes dest) noexcept {
    std::size_t grouped = 0;
#ifdef KESTRUNE_IDEA_LANES
    if (path == TKC_idea::PathAvx2) grouped = avx2::CryptLanesWide(z, source, dest);
    if (path != TKC_idea::PathPortable) grouped += sse2::CryptLanes(z, source.subspan(grouped), dest.subspan(grouped));
#else
    (void)path;
#endif
    for (std::size_t off = grouped; off < source.size(); off += 8) {
        std::uint32_t a = LoadBE32(source.subspan(off, 4)), b = LoadBE32(source.subspan(off + 4, 4));
        CryptWords(z, a, b);
        StoreBE32Block(dest.subspan(off, 4), a);
        StoreBE32Block(dest.subspan(off + 4, 4), b);
    }
}

// What one block's encryption needs, for the serial modes (KCserial.h):
// they keep the block in registers and skip the lanes' calls.
struct Keyed {
    const std::array<std::uint16_t, 52>& z;
    [[gnu::always_inline]] void Encrypt(std::uint32_t& l, std::uint32_t& r) const noexcept { CryptWords(z, l, r); }
};
using OneBlock = serial::Halves<Keyed>;

std::uint8_t UsablePath() noexcept {
#ifdef KESTRUNE_IDEA_LANES
    if (CpuFeatures::Has(CpuFeature::Avx2, CpuFeature::Sse2)) return TKC_idea::PathAvx2;
    if (CpuFeatures::Has(CpuFeature::Sse2)) return TKC_idea::PathSse2;
#endif
    return TKC_idea::PathPortable;
}

}  // namespace

std::string_view TKC_idea::Provider() const noexcept {
    switch (IsInitialized() ? Path : UsablePath()) {
    case PathAvx2: return "avx2";
    case PathSse2: return "sse2";
    default: return "portable";
    }
}

void TKC_idea::ScheduleKey(ConstBytes key, std::uint32_t keyBits) {
    Path = UsablePath();
    std::array<std::uint8_t, 16> padded{};  // shorter keys are padded with zero bytes
    std::copy_n(key.begin(), keyBits / 8, padded.begin());
    std::uint64_t hi = LoadBE64(padded), lo = LoadBE64(ConstBytes(padded).subspan(8));
    SecureZero(padded);
    // Eight subkeys from the 128-bit key, then the key rotated left by 25;
    // unrolled, so that every shift is a constant and the loop control and
    // variable shifts leave the set-up.
#pragma GCC unroll 7
    for (std::size_t i = 0; i < 52; i += 8) {
#pragma GCC unroll 8
        for (std::size_t j = 0; j < 8; ++j)
            if (i + j < 52) EncSubkeys[i + j] = static_cast<std::uint16_t>((j < 4 ? hi : lo) >> (48 - 16 * (j % 4)));
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
    std::array<std::uint16_t, 18> inverses = MulInverses(e);
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
    SecureZero(inverses);
}

void TKC_idea::EncryptBlocks(ConstBytes source, Bytes dest) const noexcept { Crypt(Path, EncSubkeys, source, dest); }

void TKC_idea::DecryptBlocks(ConstBytes source, Bytes dest) const noexcept { Crypt(Path, DecSubkeys, source, dest); }

void TKC_idea::EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCbc<OneBlock>(Keyed{EncSubkeys}, chain, source, dest);
}

void TKC_idea::EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb<OneBlock>(Keyed{EncSubkeys}, chain, source, dest);
}

void TKC_idea::EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptOfb<OneBlock>(Keyed{EncSubkeys}, chain, source, dest);
}

void TKC_idea::EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept {
    serial::EncryptCfb8<OneBlock>(Keyed{EncSubkeys}, chain, source, dest);
}

bool TKC_idea::SelfTest() {
    TKC_idea cipher;
    using namespace tables;
    const bool first = CheckBlockVector(cipher, IdeaSelfTestKey1, IdeaSelfTestPlain1, IdeaSelfTestCipher1);
    const bool second = CheckBlockVector(cipher, IdeaSelfTestKey2, IdeaSelfTestPlain2, IdeaSelfTestCipher2);
    return first && second;
}

}  // namespace kestrune
