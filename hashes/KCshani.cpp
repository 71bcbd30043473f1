#include "KCshani.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <utility>

#include "../framework/KCcpufeatures.h"
#include "KCsha_tables.inc"

namespace kestrune::shani {

bool Usable() noexcept { return CpuFeatures::Has(CpuFeature::Sha, CpuFeature::Ssse3, CpuFeature::Sse41); }

// Every function from here to the matching pop may use these instructions.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sha,sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sha,sse4.1")
#endif

namespace {

inline __m128i Load(const std::uint8_t* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

void CompressSha1(std::array<std::uint32_t, 5>& state, ConstBytes blocks) noexcept {
    // Message words are big-endian; the state is held as ABCD (A in the top
    // lane) plus E in the top lane of a second register.
    const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data())), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        const std::uint8_t* p = blocks.data() + off;
        const __m128i abcdSaved = abcd, eSaved = e0;
        __m128i m[4], e1;
        // Four rounds per group; group g uses the schedule words 4g..4g+3 in
        // m[g % 4] and prepares the words of the next groups.
        [&]<std::size_t... G>(std::index_sequence<G...>) __attribute__((always_inline)) {
            (
                [&]() __attribute__((always_inline)) {
                    constexpr std::size_t g = G;
                    __m128i& eNow = g % 2 == 0 ? e0 : e1;
                    __m128i& eNext = g % 2 == 0 ? e1 : e0;
                    if constexpr (g < 4) m[g] = _mm_shuffle_epi8(Load(p + 16 * g), byteOrder);
                    if constexpr (g == 0)
                        eNow = _mm_add_epi32(eNow, m[0]);
                    else
                        eNow = _mm_sha1nexte_epu32(eNow, m[g % 4]);
                    eNext = abcd;
                    if constexpr (g >= 3 && g < 19) m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], m[g % 4]);
                    abcd = _mm_sha1rnds4_epu32(abcd, eNow, g / 5);
                    if constexpr (g >= 1 && g < 17) m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], m[g % 4]);
                    if constexpr (g >= 2 && g < 18) m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], m[g % 4]);
                }(),
                ...);
        }(std::make_index_sequence<20>{});
        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

void CompressSha256(std::array<std::uint32_t, 8>& state, ConstBytes blocks) noexcept {
    // The instructions want the state as ABEF and CDGH.
    const __m128i byteOrder = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    const auto* k = tables::Sha256Constants.data();
    for (std::size_t off = 0; off < blocks.size(); off += 64) {
        const std::uint8_t* p = blocks.data() + off;
        const __m128i abefSaved = abef, cdghSaved = cdgh;
        __m128i m[4];
        // Four rounds per group; group g uses the schedule words 4g..4g+3 in
        // m[g % 4] and prepares the words of the next groups.
        [&]<std::size_t... G>(std::index_sequence<G...>) __attribute__((always_inline)) {
            (
                [&]() __attribute__((always_inline)) {
                    constexpr std::size_t g = G;
                    if constexpr (g < 4) m[g] = _mm_shuffle_epi8(Load(p + 16 * g), byteOrder);
                    __m128i wk = _mm_add_epi32(m[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(k + 4 * g)));
                    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
                    if constexpr (g >= 3 && g < 15) {
                        const __m128i w7 = _mm_alignr_epi8(m[g % 4], m[(g + 3) % 4], 4);
                        m[(g + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(g + 1) % 4], w7), m[g % 4]);
                    }
                    wk = _mm_shuffle_epi32(wk, 0x0E);
                    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
                    if constexpr (g >= 1 && g < 13) m[(g + 3) % 4] = _mm_sha256msg1_epu32(m[(g + 3) % 4], m[g % 4]);
                }(),
                ...);
        }(std::make_index_sequence<16>{});
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), hgfe);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

}  // namespace kestrune::shani

#else

namespace kestrune::shani {

bool Usable() noexcept { return false; }
void CompressSha1(std::array<std::uint32_t, 5>&, ConstBytes) noexcept {}
void CompressSha256(std::array<std::uint32_t, 8>&, ConstBytes) noexcept {}

}  // namespace kestrune::shani

#endif
