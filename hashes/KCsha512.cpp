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

// Two blocks at a time: each vector holds words t and t+1 of the first
// block's schedule in its low half and of the second's in its high half.
// Words t and t+1 depend only on words up to t-1, so one block's schedule
// fills two lanes, and the second block doubles that without costing an
// instruction more. The schedule runs beside the first block's steps, a
// pair of words every two steps, sixteen words ahead of them. Spreading the
// next pair's schedule over both blocks' steps measured no faster.

// W + K of step t: the first block's at wk[4 * (t / 2) + t % 2], the second's two words further.
using PairSchedule = std::array<Word, 160>;

#if defined(__x86_64__)
// K in the layout of a pair schedule, so that W + K is one addition with a
// memory operand.
alignas(32) constexpr PairSchedule PairConstants = [] {
    PairSchedule k{};
    for (std::size_t t = 0; t < 80; t += 2)
        for (std::size_t i = 0; i < 4; ++i) k[2 * t + i] = tables::Sha512Constants[t + i % 2];
    return k;
}();

// The steps in assembly, for the x86-64 build: GCC's code for the C++
// steps ran at ~7.8 cycles a step, and the same steps written out here no
// faster. What bounds them is latency. New e is d + h + W + K + Ch + S1
// with Ch and S1 added last, four operations after e. New a is
// new e + S0 + (Maj - d), with Maj = (a & (b ^ c)) + (b & c) (the two terms
// have no bit in common); b ^ c and (b & c) - d come from the step before's
// a, b and c, off the chain, so new a too is four operations after a (S0,
// then two additions). The textbook Maj, ((a ^ b) & (b ^ c)) ^ b, left new
// a six operations after a. 24 operations and four moves a step; alone, 80
// such steps run at ~5.1 cycles a step on a processor with six ALUs, where
// the textbook Maj, one operation fewer, ran at ~6.0.
// New e lands in h's register and new a in d's, so a..d rotate among four
// registers and e..h among four others. BC holds b ^ c and X (b & c) - d
// at the start of each step; T and U are temporaries.
#define KC_SHA512_STEP(A, B, C, D, E, F, G, H, OFF) \
    "addq " #OFF "(%[wk]), %[" #H "]\n\t" \
    "rorxq $14, %[" #E "], %[t]\n\t"      \
    "rorxq $18, %[" #E "], %[u]\n\t"      \
    "xorq %[u], %[t]\n\t"                 \
    "rorxq $41, %[" #E "], %[u]\n\t"      \
    "xorq %[u], %[t]\n\t"                 \
    "addq %[" #D "], %[" #H "]\n\t"       \
    "movq %[" #F "], %[u]\n\t"            \
    "xorq %[" #G "], %[u]\n\t"            \
    "andq %[" #E "], %[u]\n\t"            \
    "xorq %[" #G "], %[u]\n\t"            \
    "addq %[u], %[" #H "]\n\t"            \
    "addq %[t], %[" #H "]\n\t"            \
    "andq %[" #A "], %[bc]\n\t"           \
    "addq %[bc], %[x]\n\t"                \
    "movq %[" #A "], %[bc]\n\t"           \
    "xorq %[" #B "], %[bc]\n\t"           \
    "rorxq $28, %[" #A "], %[t]\n\t"      \
    "rorxq $34, %[" #A "], %[u]\n\t"      \
    "xorq %[u], %[t]\n\t"                 \
    "rorxq $39, %[" #A "], %[u]\n\t"      \
    "xorq %[u], %[t]\n\t"                 \
    "movq %[" #H "], %[" #D "]\n\t"       \
    "addq %[x], %[" #D "]\n\t"            \
    "addq %[t], %[" #D "]\n\t"            \
    "movq %[" #A "], %[x]\n\t"            \
    "andq %[" #B "], %[x]\n\t"            \
    "subq %[" #C "], %[x]\n\t"

// The roles of step I mod 4 (four steps bring them back), W + K at OFF(wk).
#define KC_SHA512_STEP0(OFF) KC_SHA512_STEP(a, b, c, d, e, f, g, h, OFF)
#define KC_SHA512_STEP1(OFF) KC_SHA512_STEP(d, a, b, c, h, e, f, g, OFF)
#define KC_SHA512_STEP2(OFF) KC_SHA512_STEP(c, d, a, b, g, h, e, f, OFF)
#define KC_SHA512_STEP3(OFF) KC_SHA512_STEP(b, c, d, a, f, g, h, e, OFF)

// SchedulePair<J> in two halves, x[J] in ymmJ, temporaries in ymm8..10:
// x[J] += sigma0(words t-15, t-14) + words t-7, t-6; then x[J] +=
// sigma1(x[J + 7]), and W + K goes to wk at OFF, its K read from the same
// offset of PairConstants (a broadcast of K and an addition measured 4%
// slower). Interleaving them with the steps an instruction at a time
// measured no faster than these halves between steps.
#define KC_SHA512_PAIR_A(J, J1, J4, J5)                     \
    "vpalignr $8, %%ymm" #J ", %%ymm" #J1 ", %%ymm8\n\t"    \
    "vpsrlq $1, %%ymm8, %%ymm9\n\t"                         \
    "vpsllq $63, %%ymm8, %%ymm10\n\t"                       \
    "vpxor %%ymm10, %%ymm9, %%ymm9\n\t"                     \
    "vpshufb %[ror8], %%ymm8, %%ymm10\n\t"                  \
    "vpxor %%ymm10, %%ymm9, %%ymm9\n\t"                     \
    "vpsrlq $7, %%ymm8, %%ymm8\n\t"                         \
    "vpxor %%ymm8, %%ymm9, %%ymm9\n\t"                      \
    "vpaddq %%ymm9, %%ymm" #J ", %%ymm" #J "\n\t"           \
    "vpalignr $8, %%ymm" #J4 ", %%ymm" #J5 ", %%ymm8\n\t"   \
    "vpaddq %%ymm8, %%ymm" #J ", %%ymm" #J "\n\t"
#define KC_SHA512_PAIR_B(J, J7, OFF)                        \
    "vpsrlq $19, %%ymm" #J7 ", %%ymm8\n\t"                  \
    "vpsllq $45, %%ymm" #J7 ", %%ymm9\n\t"                  \
    "vpxor %%ymm9, %%ymm8, %%ymm8\n\t"                      \
    "vpsrlq $61, %%ymm" #J7 ", %%ymm9\n\t"                  \
    "vpsllq $3, %%ymm" #J7 ", %%ymm10\n\t"                  \
    "vpxor %%ymm10, %%ymm9, %%ymm9\n\t"                     \
    "vpxor %%ymm9, %%ymm8, %%ymm8\n\t"                      \
    "vpsrlq $6, %%ymm" #J7 ", %%ymm9\n\t"                   \
    "vpxor %%ymm9, %%ymm8, %%ymm8\n\t"                      \
    "vpaddq %%ymm8, %%ymm" #J ", %%ymm" #J "\n\t"           \
    "vpaddq " #OFF "(%[k]), %%ymm" #J ", %%ymm9\n\t"        \
    "vmovdqu %%ymm9, " #OFF "(%[wk])\n\t"

// Sixteen steps from wk; while scheduling, pair J of the words sixteen steps
// ahead is computed between steps 2J and 2J + 1 and after step 2J + 1.
#define KC_SHA512_SIXTEEN(S0, S1, S2, S3, S4, S5, S6, S7, T0, T1, T2, T3, T4, T5, T6, T7)                         \
    KC_SHA512_STEP0(0) S0 KC_SHA512_STEP1(8) T0 KC_SHA512_STEP2(32) S1 KC_SHA512_STEP3(40) T1                   \
    KC_SHA512_STEP0(64) S2 KC_SHA512_STEP1(72) T2 KC_SHA512_STEP2(96) S3 KC_SHA512_STEP3(104) T3                \
    KC_SHA512_STEP0(128) S4 KC_SHA512_STEP1(136) T4 KC_SHA512_STEP2(160) S5 KC_SHA512_STEP3(168) T5             \
    KC_SHA512_STEP0(192) S6 KC_SHA512_STEP1(200) T6 KC_SHA512_STEP2(224) S7 KC_SHA512_STEP3(232) T7
#define KC_SHA512_SIXTEEN_PLAIN KC_SHA512_SIXTEEN(, , , , , , , , , , , , , , , )
#define KC_SHA512_SIXTEEN_SCHEDULING                                                                   \
    KC_SHA512_SIXTEEN(KC_SHA512_PAIR_A(0, 1, 4, 5), KC_SHA512_PAIR_A(1, 2, 5, 6),                      \
                      KC_SHA512_PAIR_A(2, 3, 6, 7), KC_SHA512_PAIR_A(3, 4, 7, 0),                      \
                      KC_SHA512_PAIR_A(4, 5, 0, 1), KC_SHA512_PAIR_A(5, 6, 1, 2),                      \
                      KC_SHA512_PAIR_A(6, 7, 2, 3), KC_SHA512_PAIR_A(7, 0, 3, 4),                      \
                      KC_SHA512_PAIR_B(0, 7, 256), KC_SHA512_PAIR_B(1, 0, 288),                        \
                      KC_SHA512_PAIR_B(2, 1, 320), KC_SHA512_PAIR_B(3, 2, 352),                        \
                      KC_SHA512_PAIR_B(4, 3, 384), KC_SHA512_PAIR_B(5, 4, 416),                        \
                      KC_SHA512_PAIR_B(6, 5, 448), KC_SHA512_PAIR_B(7, 6, 480))

// BC and X of the first step, from b, c and d.
#define KC_SHA512_ENTRY    \
    "movq %[b], %[bc]\n\t" \
    "xorq %[c], %[bc]\n\t" \
    "movq %[b], %[x]\n\t"  \
    "andq %[c], %[x]\n\t"  \
    "subq %[d], %[x]\n\t"

#define KC_SHA512_WORDS                                                                                   \
    [a] "+r"(v[0]), [b] "+r"(v[1]), [c] "+r"(v[2]), [d] "+r"(v[3]), [e] "+r"(v[4]), [f] "+r"(v[5]),       \
        [g] "+r"(v[6]), [h] "+r"(v[7]), [bc] "=&r"(bc), [x] "=&r"(x), [t] "=&r"(t), [u] "=&r"(u)

// Sixteen steps at a time from wk (a pair schedule, the block's first word
// at wk[0]) up to end, sixteen steps 256 bytes apart.
[[gnu::always_inline]] inline void PlainSteps(std::array<Word, 8>& v, const Word* wk,
                                              const Word* end) noexcept {
    Word bc, x, t, u;
    __asm__(KC_SHA512_ENTRY "1:\n\t" KC_SHA512_SIXTEEN_PLAIN
            "addq $256, %[wk]\n\t"
            "cmpq %[end], %[wk]\n\t"
            "jne 1b"
            : KC_SHA512_WORDS, [wk] "+r"(wk)
            : [end] "r"(end)
            : "cc", "memory");
}

// Words 0..15 of both blocks into x0..x7, byte-swapped, and their W + K to wk.
#define KC_SHA512_LOAD(X, OFF, WOFF)                                   \
    "vmovdqu " #OFF "(%[t]), %%xmm" #X "\n\t"                          \
    "vinserti128 $1, " #OFF "(%[u]), %%ymm" #X ", %%ymm" #X "\n\t"     \
    "vpshufb %[swap], %%ymm" #X ", %%ymm" #X "\n\t"                    \
    "vpaddq " #WOFF "(%[k]), %%ymm" #X ", %%ymm8\n\t"                  \
    "vmovdqu %%ymm8, " #WOFF "(%[wk])\n\t"

// The first block's steps 0..63 with both blocks' words 16..79 computed
// beside them. The window of sixteen words lives in ymm0..ymm7 and is
// cleared at the end, so that no message word is left in a register or on
// the stack outside wk. GCC allows thirty operands (an in-out one counts
// twice): the vector registers are named in the text and declared
// clobbered, and t and u bring the blocks' addresses in. Fourteen general
// registers, so that frame-pointer builds fit.
[[gnu::always_inline]] inline void SchedulingSteps(std::array<Word, 8>& v, Word* wk, const std::uint8_t* first,
                                                   const std::uint8_t* second) noexcept {
    const __m256i ror8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8,  //
                                          1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
    const __m256i swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                          7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    // The loop ends at step 64, read from memory: no register is left for it.
    static const Word* const end = PairConstants.data() + 128;
    const Word* k = PairConstants.data();
    Word bc, x, t, u;
    __asm__(KC_SHA512_LOAD(0, 0, 0) KC_SHA512_LOAD(1, 16, 32) KC_SHA512_LOAD(2, 32, 64) KC_SHA512_LOAD(3, 48, 96)
                KC_SHA512_LOAD(4, 64, 128) KC_SHA512_LOAD(5, 80, 160) KC_SHA512_LOAD(6, 96, 192)
                    KC_SHA512_LOAD(7, 112, 224) KC_SHA512_ENTRY
            "1:\n\t" KC_SHA512_SIXTEEN_SCHEDULING
            "addq $256, %[wk]\n\t"
            "addq $256, %[k]\n\t"
            "cmpq %[end], %[k]\n\t"
            "jne 1b\n\t"
            "vpxor %%xmm0, %%xmm0, %%xmm0\n\t"
            "vpxor %%xmm1, %%xmm1, %%xmm1\n\t"
            "vpxor %%xmm2, %%xmm2, %%xmm2\n\t"
            "vpxor %%xmm3, %%xmm3, %%xmm3\n\t"
            "vpxor %%xmm4, %%xmm4, %%xmm4\n\t"
            "vpxor %%xmm5, %%xmm5, %%xmm5\n\t"
            "vpxor %%xmm6, %%xmm6, %%xmm6\n\t"
            "vpxor %%xmm7, %%xmm7, %%xmm7\n\t"
            "vpxor %%xmm8, %%xmm8, %%xmm8\n\t"
            "vpxor %%xmm9, %%xmm9, %%xmm9\n\t"
            "vpxor %%xmm10, %%xmm10, %%xmm10"
            : KC_SHA512_WORDS, [wk] "+r"(wk), [k] "+r"(k)
            : [end] "m"(end), [ror8] "x"(ror8), [swap] "x"(swap), "[t]"(first), "[u]"(second)
            : "cc", "memory", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10");
}
#undef KC_SHA512_WORDS
#undef KC_SHA512_ENTRY
#undef KC_SHA512_LOAD
#undef KC_SHA512_SIXTEEN_SCHEDULING
#undef KC_SHA512_SIXTEEN_PLAIN
#undef KC_SHA512_SIXTEEN
#undef KC_SHA512_PAIR_B
#undef KC_SHA512_PAIR_A
#undef KC_SHA512_STEP3
#undef KC_SHA512_STEP2
#undef KC_SHA512_STEP1
#undef KC_SHA512_STEP0
#undef KC_SHA512_STEP

// The first block's steps with both schedules computed beside them, then the
// second block's steps when there is a second block.
void CompressPair(std::array<Word, 8>& state, PairSchedule& wk, const std::uint8_t* first, const std::uint8_t* second,
                  bool both) noexcept {
    std::array<Word, 8> v = state;
    SchedulingSteps(v, wk.data(), first, second);
    PlainSteps(v, wk.data() + 128, wk.data() + 160);
    for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    if (both) {
        v = state;
        PlainSteps(v, wk.data() + 2, wk.data() + 162);
        for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    }
}

#else

// The 32-bit build: the schedule in intrinsics and the C++ steps.

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

// Words t-16 .. t-1 of both blocks, two per vector.
struct Window {
    __m256i x[8];
};

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

#endif

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
