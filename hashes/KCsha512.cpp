#include "KCsha512.h"

#include <algorithm>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
    const Word t1 = v[h] + wk + (v[g] ^ (v[e] & (v[f] ^ v[g]))) + Sigma1<ThreeOperand>(v[e]);
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

template <std::size_t... I>
[[gnu::always_inline]] inline void Steps(std::array<Word, 8>& v, std::array<Word, 16>& w,
                                         std::index_sequence<I...>) noexcept {
    Word bc = v[1] ^ v[2];
    (Step<I, false>(v, ScheduleWord<I>(w), bc), ...);
}

// The steps over a schedule computed beforehand: W + K of step I at wk[I * Stride].
template <std::size_t Stride, std::size_t... I>
[[gnu::always_inline]] inline void StepsOverSchedule(std::array<Word, 8>& v, const Word* wk,
                                                     std::index_sequence<I...>) noexcept {
    Word bc = v[1] ^ v[2];
    (Step<I, true>(v, wk[I * Stride], bc), ...);
}

}  // namespace

void TKC_sha512base::CompressPortable(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    std::array<Word, 16> w;
    for (std::size_t off = 0; off < blocks.size(); off += 128) {
        for (std::size_t i = 0; i < 16; ++i) w[i] = LoadBE64(blocks.subspan(off + 8 * i, 8));
        std::array<Word, 8> v = state;
        Steps(v, w, std::make_index_sequence<80>{});
        for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
    }
    SecureZero(w);
}

#if defined(__x86_64__)

bool TKC_sha512base::Avx2Available() noexcept {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return available;
}

#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2")

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

// W + K of all 80 steps of four blocks, block j in lane j: wk[4 * t + j].
// The schedules of different blocks are independent, so four of them fill
// a vector where one block's would leave lanes waiting on each other.
void ScheduleFour(const std::array<const std::uint8_t*, 4>& block, Word* wk) noexcept {
    __m256i w[16];
    for (std::size_t t = 0; t < 16; ++t) {
        w[t] = _mm256_set_epi64x(static_cast<long long>(LoadBE64(ConstBytes(block[3] + 8 * t, 8))),
                                 static_cast<long long>(LoadBE64(ConstBytes(block[2] + 8 * t, 8))),
                                 static_cast<long long>(LoadBE64(ConstBytes(block[1] + 8 * t, 8))),
                                 static_cast<long long>(LoadBE64(ConstBytes(block[0] + 8 * t, 8))));
        const __m256i k = _mm256_set1_epi64x(static_cast<long long>(tables::Sha512Constants[t]));
        _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * t), _mm256_add_epi64(w[t], k));
    }
    for (std::size_t t = 16; t < 80; ++t) {
        const __m256i next = _mm256_add_epi64(_mm256_add_epi64(sigma1x4(w[(t - 2) % 16]), w[(t - 7) % 16]),
                                              _mm256_add_epi64(sigma0x4(w[(t - 15) % 16]), w[t % 16]));
        w[t % 16] = next;
        const __m256i k = _mm256_set1_epi64x(static_cast<long long>(tables::Sha512Constants[t]));
        _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * t), _mm256_add_epi64(next, k));
    }
    SecureZero(w);
}

}  // namespace

void TKC_sha512base::CompressAvx2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    alignas(32) std::array<Word, 80 * 4> wk;
    const std::size_t count = blocks.size() / 128;
    for (std::size_t first = 0; first < count; first += 4) {
        // Up to four blocks per schedule; missing lanes repeat the first block.
        const std::size_t n = std::min<std::size_t>(4, count - first);
        std::array<const std::uint8_t*, 4> block;
        for (std::size_t j = 0; j < 4; ++j) block[j] = blocks.data() + 128 * (first + (j < n ? j : 0));
        ScheduleFour(block, wk.data());
        for (std::size_t j = 0; j < n; ++j) {
            std::array<Word, 8> v = state;
            StepsOverSchedule<4>(v, wk.data() + j, std::make_index_sequence<80>{});
            for (std::size_t i = 0; i < 8; ++i) state[i] += v[i];
        }
    }
    SecureZero(wk);
}

#pragma GCC pop_options

#else

bool TKC_sha512base::Avx2Available() noexcept { return false; }

void TKC_sha512base::CompressAvx2(std::array<Word, 8>& state, ConstBytes blocks) noexcept {
    CompressPortable(state, blocks);
}

#endif

void TKC_sha512base::Compress(ConstBytes blocks) noexcept {
    if (Avx2Available())
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
