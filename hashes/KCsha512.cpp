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

// sigma0 and sigma1 of four words at once. AVX2 has no 64-bit rotation:
// shifts both ways, except the rotation by a whole byte, one shuffle.
[[gnu::always_inline]] inline __m256i sigma0x4(__m256i x) noexcept {
    const __m256i ror8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8,  //
                                          1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
    return (Shr<1>(x) ^ Shl<63>(x)) ^ (_mm256_shuffle_epi8(x, ror8) ^ Shr<7>(x));
}
[[gnu::always_inline]] inline __m256i sigma1x4(__m256i x) noexcept {
    return (Shr<19>(x) ^ Shl<45>(x)) ^ (Shr<61>(x) ^ Shl<3>(x)) ^ Shr<6>(x);
}

// Two blocks at a time: each vector holds words t and t+1 of the first
// block's schedule in its low half and of the second's in its high half.
// Words t and t+1 depend only on words up to t-1, so one block's schedule
// fills two lanes, and the second block doubles that without costing an
// instruction more. The schedule runs beside the first block's steps, a
// pair of words every two steps, sixteen words ahead of them. Spreading the
// next pair's schedule over both blocks' steps measured no faster.

// Words t-16 .. t-1 of both blocks, two per vector.
struct Window {
    __m256i x[8];
};

// W + K of step t: the first block's at wk[4 * (t / 2) + t % 2], the second's two words further.
using PairSchedule = std::array<Word, 160>;

[[gnu::always_inline]] inline void StoreWk(PairSchedule& wk, std::size_t t, __m256i w) noexcept {
    const __m256i k = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables::Sha512Constants.data() + t)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(wk.data() + 2 * t), _mm256_add_epi64(w, k));
}

// Words 0..15 of both blocks, byte-swapped.
[[gnu::always_inline]] inline void LoadPair(Window& window, PairSchedule& wk, const std::uint8_t* first,
                                            const std::uint8_t* second) noexcept {
    const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                          7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    for (std::size_t j = 0; j < 8; ++j) {
        __m256i(&x)[8] = window.x;
        x[j] = _mm256_shuffle_epi8(_mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(second + 16 * j),
                                                       reinterpret_cast<const __m128i*>(first + 16 * j)),
                                   swap);
        StoreWk(wk, 2 * j, x[j]);
    }
}

// Words t and t+1 (t = 16 * round + 2 * J + 16) replace words t-16 and t-15 in x[J].
template <std::size_t J>
[[gnu::always_inline]] inline void SchedulePair(Window& window, PairSchedule& wk, std::size_t t) noexcept {
    __m256i(&x)[8] = window.x;
    const __m256i w15 = _mm256_alignr_epi8(x[(J + 1) % 8], x[J], 8);
    const __m256i w7 = _mm256_alignr_epi8(x[(J + 5) % 8], x[(J + 4) % 8], 8);
    x[J] = _mm256_add_epi64(_mm256_add_epi64(x[J], sigma0x4(w15)), _mm256_add_epi64(w7, sigma1x4(x[(J + 7) % 8])));
    StoreWk(wk, t, x[J]);
}

// Sixteen steps from wk (the step's W + K at wk[4 * (I / 2) + I % 2]).
template <std::size_t... J>
[[gnu::always_inline]] inline void SixteenSteps(std::array<Word, 8>& v, Word& bc, const Word* wk,
                                                std::index_sequence<J...>) noexcept {
    ((Step<2 * J, true>(v, wk[4 * J], bc), Step<2 * J + 1, true>(v, wk[4 * J + 1], bc)), ...);
}

// The same with words t .. t+15 of both schedules computed beside the steps.
template <std::size_t... J>
[[gnu::always_inline]] inline void SixteenStepsScheduling(std::array<Word, 8>& v, Word& bc, const Word* wk, Window& x,
                                                          PairSchedule& next, std::size_t t,
                                                          std::index_sequence<J...>) noexcept {
    ((Step<2 * J, true>(v, wk[4 * J], bc), Step<2 * J + 1, true>(v, wk[4 * J + 1], bc),
      SchedulePair<J>(x, next, t + 2 * J)),
     ...);
}

// One block's 80 steps from a pair schedule (offset 0 for the first block, 2 for the second).
[[gnu::always_inline]] inline void StepsFrom(std::array<Word, 8>& state, const PairSchedule& wk,
                                             std::size_t offset) noexcept {
    std::array<Word, 8> v = state;
    Word bc = v[1] ^ v[2];
    for (std::size_t t = 0; t < 80; t += 16) SixteenSteps(v, bc, wk.data() + 2 * t + offset, std::make_index_sequence<8>{});
    for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
}

// The first block's steps with both schedules computed beside them, then the
// second block's steps when there is a second block.
void CompressPair(std::array<Word, 8>& state, PairSchedule& wk, const std::uint8_t* first, const std::uint8_t* second,
                  bool both) noexcept {
    Window x;
    LoadPair(x, wk, first, second);
    std::array<Word, 8> v = state;
    Word bc = v[1] ^ v[2];
    for (std::size_t t = 0; t < 64; t += 16)
        SixteenStepsScheduling(v, bc, wk.data() + 2 * t, x, wk, t + 16, std::make_index_sequence<8>{});
    SixteenSteps(v, bc, wk.data() + 2 * 64, std::make_index_sequence<8>{});
    for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    if (both) StepsFrom(state, wk, 2);
    // The message words (a password, when the digest keys a cipher) lived on
    // the stack as well as in wk, which the caller wipes.
    SecureZero(x);
}

}  // namespace

void TKC_sha512base::CompressAvx2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    alignas(32) PairSchedule wk;
    const std::uint8_t* p = blocks.data();
    const std::uint8_t* const end = p + blocks.size();
    for (; end - p >= 256; p += 256) CompressPair(state, wk, p, p + 128, true);
    // A last odd block fills both lanes; the second lane's schedule goes unused.
    if (p != end) CompressPair(state, wk, p, p, false);
    SecureZero(wk);
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
