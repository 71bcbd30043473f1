#include "KCsha512.h"

#include <algorithm>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "../framework/KCcpufeatures.h"
#include "KCsha_tables.inc"

namespace kestrune {
namespace {

using Word = std::uint64_t;

// The four functions of FIPS 180-2. Where rotations need a copy of their
// argument (no BMI2), nesting them saves two copies; with RORX the three
// independent rotations keep the chain from one step to the next short.
template <bool ThreeOperand>
constexpr Word Sigma0(Word a) noexcept {
    if constexpr (ThreeOperand) return Ror64(a, 28) ^ Ror64(a, 34) ^ Ror64(a, 39);
    return Ror64(Ror64(Ror64(a, 5) ^ a, 6) ^ a, 28);
}
template <bool ThreeOperand>
constexpr Word Sigma1(Word e) noexcept {
    if constexpr (ThreeOperand) return Ror64(e, 14) ^ Ror64(e, 18) ^ Ror64(e, 41);
    return Ror64(Ror64(Ror64(e, 23) ^ e, 4) ^ e, 14);
}
constexpr Word sigma0(Word x) noexcept { return Ror64(Ror64(x, 7) ^ x, 1) ^ (x >> 7); }
constexpr Word sigma1(Word x) noexcept { return Ror64(Ror64(x, 42) ^ x, 19) ^ (x >> 6); }

// Holds a partial sum as computed: an empty assembler statement the
// optimizer cannot look through, so it does not reassociate the sum.
[[gnu::always_inline]] inline void KeepSum([[maybe_unused]] Word& x) noexcept {
#if defined(__GNUC__)
    asm("" : "+r"(x));
#endif
}

// Step I: with the eight words in roles (a, b, ..., h), T1 = h + S1(e) +
// Ch(e, f, g) + K + W; d += T1; h = T1 + S0(a) + Maj(a, b, c); then the roles
// shift by one. Role k of step I lives in v[(k - I) mod 8], so every index is
// a compile-time constant. Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and this
// step's a ^ b is the next step's b ^ c, carried in bc.
template <std::size_t I, bool ThreeOperand>
[[gnu::always_inline]] inline void Step(std::array<Word, 8>& v, Word wk, Word& bc) noexcept {
    constexpr std::size_t a = (80 - I) % 8, b = (81 - I) % 8, d = (83 - I) % 8, e = (84 - I) % 8,
                          f = (85 - I) % 8, g = (86 - I) % 8, h = (87 - I) % 8;
    Word t1;
    if constexpr (ThreeOperand) {
        // e of the next step waits on e of this one through Ch and S1 only:
        // h + W + K first, then Ch, then S1, so that d + T1 follows S1 by
        // two additions. Left alone, the compiler sums in an order that
        // puts four additions after S1.
        Word hwk = v[h] + wk;
        KeepSum(hwk);
        Word hwkch = hwk + (v[g] ^ (v[e] & (v[f] ^ v[g])));
        KeepSum(hwkch);
        t1 = hwkch + Sigma1<ThreeOperand>(v[e]);
    } else {
        t1 = v[h] + wk + (v[g] ^ (v[e] & (v[f] ^ v[g]))) + Sigma1<ThreeOperand>(v[e]);
    }
    const Word ab = v[a] ^ v[b];
    v[d] += t1;
    v[h] = t1 + Sigma0<ThreeOperand>(v[a]) + ((ab & bc) ^ v[b]);
    bc = ab;
}

// W + K of step I, with the schedule kept as a window of 16 words.
template <std::size_t I>
[[gnu::always_inline]] inline Word ScheduleWord(std::array<Word, 16>& w) noexcept {
    if constexpr (I >= 16) w[I % 16] += sigma1(w[(I - 2) % 16]) + w[(I - 7) % 16] + sigma0(w[(I - 15) % 16]);
    return w[I % 16] + tables::Sha512Constants[I];
}

template <bool ThreeOperand, std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<Word, 8>& v, std::array<Word, 16>& w,
                                         std::index_sequence<I...>) noexcept {
    Word bc = v[1] ^ v[2];
    (Step<I, ThreeOperand>(v, ScheduleWord<I>(w), bc), ...);
}

// Block by block, the schedule in scalar registers beside the steps.
template <bool ThreeOperand>
[[gnu::always_inline]] inline void CompressScalar(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 128) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE64(blocks.subspan(off + 8 * i, 8));
        std::array<Word, 8> v = state;
        Steps<ThreeOperand>(v, w, std::make_index_sequence<80>{});
        for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    }
    SecureZero(w);
}

}  // namespace

void TKC_sha512base::CompressPortable(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    CompressScalar<false>(state, blocks);
}

#if defined(__x86_64__) || defined(__i386__)

// Every function from here to the matching pop may use these instructions.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2")
#endif

namespace {

template <int N>
[[gnu::always_inline]] inline __m256i Shr(__m256i x) noexcept { return _mm256_srli_epi64(x, N); }
template <int N>
[[gnu::always_inline]] inline __m256i Shl(__m256i x) noexcept { return _mm256_slli_epi64(x, N); }

// sigma0 and sigma1 of four words at once; AVX2 has no 64-bit rotation.
[[gnu::always_inline]] inline __m256i sigma0x4(__m256i x) noexcept {
    return Shr<1>(x) ^ Shl<63>(x) ^ Shr<8>(x) ^ Shl<56>(x) ^ Shr<7>(x);
}
[[gnu::always_inline]] inline __m256i sigma1x4(__m256i x) noexcept {
    return Shr<19>(x) ^ Shl<45>(x) ^ Shr<61>(x) ^ Shl<3>(x) ^ Shr<6>(x);
}

// K of every step, four times over: the vector added to four words of a step.
alignas(32) constexpr std::array<Word, 320> ConstantsX4 = [] {
    std::array<Word, 320> k{};
    for (std::size_t t = 0; t < 320; ++t) k[t] = tables::Sha512Constants[t / 4];
    return k;
}();

// The schedules of four blocks, block j in lane j: word t of block j at
// w[4 * t + j], and W + K of step t at wk[4 * t + j]. The schedules of
// different blocks are independent, so four of them fill a vector where one
// block's would leave lanes waiting on each other.
struct FourSchedules {
    alignas(32) std::array<Word, 320> w;
    alignas(32) std::array<Word, 320> wk;
};
// wk sits at a fixed distance from w, so one pointer reaches both.
constexpr std::ptrdiff_t WkOffset = 320;

[[gnu::always_inline]] inline __m256i Load4(const Word* p) noexcept {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}
[[gnu::always_inline]] inline void Store4(Word* p, __m256i x) noexcept {
    _mm256_store_si256(reinterpret_cast<__m256i*>(p), x);
}

// Words 0..15: one 32-byte load per block for every four words, byte-swapped
// and transposed so that each vector holds one word of all four blocks.
[[gnu::always_inline]] inline void LoadFour(FourSchedules& s, const std::array<const std::uint8_t*, 4>& block) noexcept {
    const __m256i swap = _mm256_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7,  //
                                         8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    for (std::size_t t = 0; t < 16; t += 4) {
        __m256i r[4];
        for (std::size_t j = 0; j < 4; ++j)
            r[j] = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(block[j] + 8 * t)), swap);
        const __m256i lo01 = _mm256_unpacklo_epi64(r[0], r[1]), hi01 = _mm256_unpackhi_epi64(r[0], r[1]);
        const __m256i lo23 = _mm256_unpacklo_epi64(r[2], r[3]), hi23 = _mm256_unpackhi_epi64(r[2], r[3]);
        const __m256i w[4] = {_mm256_permute2x128_si256(lo01, lo23, 0x20), _mm256_permute2x128_si256(hi01, hi23, 0x20),
                              _mm256_permute2x128_si256(lo01, lo23, 0x31), _mm256_permute2x128_si256(hi01, hi23, 0x31)};
        for (std::size_t i = 0; i < 4; ++i) {
            Store4(s.w.data() + 4 * (t + i), w[i]);
            Store4(s.wk.data() + 4 * (t + i), _mm256_add_epi64(w[i], Load4(ConstantsX4.data() + 4 * (t + i))));
        }
    }
}

// Word t >= 16 of the four schedules, with w pointing at word t and k at K of step t.
[[gnu::always_inline]] inline void ScheduleWord(Word* w, const Word* k) noexcept {
    const __m256i next = _mm256_add_epi64(_mm256_add_epi64(sigma1x4(Load4(w - 4 * 2)), Load4(w - 4 * 7)),
                                          _mm256_add_epi64(sigma0x4(Load4(w - 4 * 15)), Load4(w - 4 * 16)));
    Store4(w, next);
    Store4(w + WkOffset, _mm256_add_epi64(next, Load4(k)));
}

// Eight steps bring the roles back where they started, so a loop of eight
// unrolled steps keeps each role in one register.
template <std::size_t... I>
[[gnu::always_inline]] inline void EightSteps(std::array<Word, 8>& v, const Word* wk, Word& bc,
                                              std::index_sequence<I...>) noexcept {
    (Step<I, true>(v, wk[4 * I], bc), ...);
}

void CompressScalarBmi2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    CompressScalar<true>(state, blocks);
}

}  // namespace

void TKC_sha512base::CompressAvx2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    // The group of four blocks being compressed, and the next.
    const std::size_t count = blocks.size() / 128;
    // The first group's schedule runs as a pass of its own, which costs more
    // than the scalar schedule when that group is the only one: a single
    // block (the padding of every message) took twice as long. The scalar
    // steps still take BMI2's three-operand rotations.
    if (count <= 4) {
        CompressScalarBmi2(state, blocks);
        return;
    }
    std::array<FourSchedules, 2> schedules;
    // Lanes past the last block repeat the group's first.
    const auto group = [&](std::size_t first) {
        std::array<const std::uint8_t*, 4> block;
        for (std::size_t j = 0; j < 4; ++j) block[j] = blocks.data() + 128 * (first + (first + j < count ? j : 0));
        return block;
    };
    LoadFour(schedules[0], group(0));
    for (std::size_t t = 16; t < 80; ++t) ScheduleWord(schedules[0].w.data() + 4 * t, ConstantsX4.data() + 4 * t);
    for (std::size_t first = 0, current = 0; first < count; first += 4, current ^= 1) {
        // The next group's schedule goes two words every eight steps of
        // this group, so that the vector work runs beside the scalar steps
        // instead of in a pass of its own.
        FourSchedules& next = schedules[current ^ 1];
        Word* w = next.w.data() + 4 * 16;
        const Word* const wEnd = first + 4 < count ? next.w.data() + 4 * 80 : w;
        const Word* k = ConstantsX4.data() + 4 * 16;
        if (w != wEnd) LoadFour(next, group(first + 4));
        for (std::size_t j = 0; j < std::min<std::size_t>(4, count - first); ++j) {
            std::array<Word, 8> v = state;
            Word bc = v[1] ^ v[2];
            for (const Word* wk = schedules[current].wk.data() + j; wk != schedules[current].wk.data() + j + 320;
                 wk += 4 * 8) {
                EightSteps(v, wk, bc, std::make_index_sequence<8>{});
                if (w != wEnd) {
                    ScheduleWord(w, k);
                    ScheduleWord(w + 4, k + 4);
                    w += 8;
                    k += 8;
                }
            }
            for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
        }
    }
    SecureZero(schedules);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else

void TKC_sha512base::CompressAvx2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    CompressPortable(state, blocks);
}

#endif

namespace {
bool Avx2Usable() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    return CpuFeatures::Has(CpuFeature::Avx2, CpuFeature::Bmi2);
#else
    return false;
#endif
}
}  // namespace

std::string_view TKC_sha512base::Provider() const noexcept { return Avx2Usable() ? "avx2" : "portable"; }

void TKC_sha512base::Compress(ConstBytes blocks) noexcept {
    if (Avx2Usable())
        CompressAvx2(ChainState, blocks);
    else
        CompressPortable(ChainState, blocks);
}

void TKC_sha512base::Finish(Bytes digest) noexcept {
    PadWithLength(0x80, 16, std::endian::big);
    StoreState(digest, std::endian::big);
}

void TKC_sha384::Start() noexcept { ChainState = tables::Sha384InitialState; }

void TKC_sha512::Start() noexcept { ChainState = tables::Sha512InitialState; }

namespace {
constexpr std::string_view SelfTestLong =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
}

bool TKC_sha384::SelfTest() {
    TKC_sha384 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha384SelfTest1);
    const bool second = CheckDigest(hash, SelfTestLong, tables::Sha384SelfTest2);
    return first && second;
}

bool TKC_sha512::SelfTest() {
    TKC_sha512 hash;
    const bool first = CheckDigest(hash, "abc", tables::Sha512SelfTest1);
    const bool second = CheckDigest(hash, SelfTestLong, tables::Sha512SelfTest2);
    return first && second;
}

}  // namespace kestrune
