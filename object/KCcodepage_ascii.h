// ASCII through the code-page converters in whole runs. Every supported page
// maps U+0000-U+007F and the bytes 0x00-0x7F to each other, and no byte
// below 0x80 starts a pair; text at the object's boundary (Base64, hex,
// most passwords and plaintexts) is mostly ASCII, where a table look-up per
// unit cost more than digesting a short text.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune {

// Units tested and copied together, which the compiler turns into a few
// vector instructions.
inline constexpr std::size_t AsciiRun = 16;

// The number of units in whole runs at the start of in[0, n) that are all
// ASCII (a multiple of AsciiRun).
template <typename From>
inline std::size_t AsciiRuns(const From* in, std::size_t n) noexcept {
    using Unit = std::make_unsigned_t<From>;
    std::size_t done = 0;
    for (; n - done >= AsciiRun; done += AsciiRun) {
        Unit any = 0;
        for (std::size_t k = 0; k < AsciiRun; ++k) any |= static_cast<Unit>(in[done + k]);
        if (any >= 0x80) break;
    }
    return done;
}

// Copies whole runs of in[0, n) to out while they are ASCII; returns the
// number of units copied (a multiple of AsciiRun, or all of them when the
// narrowing below also took the tail). Narrows UTF-16 to bytes or widens
// bytes to UTF-16.
template <typename From, typename To>
inline std::size_t CopyAsciiRuns(const From* in, std::size_t n, To* out) noexcept {
    using Unit = std::make_unsigned_t<From>;
    std::size_t done = 0;
    for (; n - done >= AsciiRun; done += AsciiRun) {
        // A local copy, which no store to out can change: the compiler then
        // narrows or widens it in registers.
        Unit run[AsciiRun];
        Unit any = 0;
        for (std::size_t k = 0; k < AsciiRun; ++k) any |= run[k] = static_cast<Unit>(in[done + k]);
        if (any >= 0x80) break;
        for (std::size_t k = 0; k < AsciiRun; ++k) out[done + k] = static_cast<To>(run[k]);
    }
    return done;
}

#if defined(__SSE2__)
namespace ascii_detail {

// A unit from 0x80 up sets its lane's top bit once 0x7F80 is added with
// saturation; the mask keeps the top byte of each lane.
inline bool AnyNonAscii(__m128i units) noexcept {
    return (_mm_movemask_epi8(_mm_adds_epu16(units, _mm_set1_epi16(0x7F80))) & 0xAAAA) != 0;
}

}  // namespace ascii_detail

// UTF-16 to bytes with SSE2: sixteen units tested and narrowed together
// and written in one 16-byte store, then a tail of eight and of four units
// the same way. A digest loads the text right after with 16-byte loads,
// which wait while byte stores are in flight but take one store's data
// straight from it. Stops before the first group with a non-ASCII unit;
// the one to three units left at the end go to the caller's tables too.
inline std::size_t CopyAsciiRuns(const char16_t* in, std::size_t n, char* out) noexcept {
    using ascii_detail::AnyNonAscii;
    std::size_t done = 0;
    for (; n - done >= 16; done += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 8));
        if (AnyNonAscii(_mm_or_si128(low, high))) return done;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(low, high));
    }
    if (n - done >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        if (AnyNonAscii(units)) return done;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(units, units));
        done += 8;
    }
    if (n - done >= 4) {
        const __m128i units = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + done));
        if (AnyNonAscii(units)) return done;
        const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(units, units));
        std::memcpy(out + done, &bytes, 4);
        done += 4;
    }
    return done;
}
#endif

}  // namespace kestrune
