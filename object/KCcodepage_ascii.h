// ASCII through the code-page converters in whole runs. Every supported page
// maps U+0000-U+007F and the bytes 0x00-0x7F to each other, and no byte
// below 0x80 starts a pair; text at the object's boundary (Base64, hex,
// most passwords and plaintexts) is mostly ASCII, where a table look-up per
// unit cost more than digesting a short text.
#pragma once

#include <cstddef>
#include <type_traits>

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
// number of units copied (a multiple of AsciiRun). Narrows UTF-16 to bytes
// or widens bytes to UTF-16.
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

}  // namespace kestrune
