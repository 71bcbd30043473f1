// The many-block paths of the 64-bit ciphers whose blocks are two
// big-endian words: whole groups of Lanes blocks are loaded, transformed
// together (their rounds interleaved, so that one block's chain of
// look-ups fills another's waits) and stored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../framework/KCbytes.h"

namespace kestrune {

// crypt(left, right) transforms the Lanes word pairs in place. Returns the
// bytes done: the caller takes what is left one block at a time.
template <std::size_t Lanes, typename Crypt>
[[gnu::always_inline]] inline std::size_t CryptGroupsBE(ConstBytes source, Bytes dest, Crypt crypt) noexcept {
    constexpr std::size_t group = 8 * Lanes;
    const std::size_t done = source.size() / group * group;
    for (std::size_t off = 0; off < done; off += group) {
        std::uint32_t l[Lanes], r[Lanes];
#pragma GCC unroll 16
        for (std::size_t k = 0; k < Lanes; ++k) {
            l[k] = LoadBE32(source.subspan(off + 8 * k, 4));
            r[k] = LoadBE32(source.subspan(off + 8 * k + 4, 4));
        }
        crypt(l, r);
#pragma GCC unroll 16
        for (std::size_t k = 0; k < Lanes; ++k) {
            StoreBE32Block(dest.subspan(off + 8 * k, 4), l[k]);
            StoreBE32Block(dest.subspan(off + 8 * k + 4, 4), r[k]);
        }
    }
    return done;
}

// One half of each lane's block as separate words, for rounds written per
// lane: kept in arrays, the compiler packed pairs of them into 64-bit
// registers and unpacked them for every round. Each(f) calls f(word, lane).
template <std::size_t N>
struct LaneHalves;
template <>
struct LaneHalves<2> {
    std::uint32_t w0, w1;
    template <typename F>
    [[gnu::always_inline]] void Each(F f) noexcept { f(w0, 0), f(w1, 1); }
};
template <>
struct LaneHalves<4> {
    std::uint32_t w0, w1, w2, w3;
    template <typename F>
    [[gnu::always_inline]] void Each(F f) noexcept { f(w0, 0), f(w1, 1), f(w2, 2), f(w3, 3); }
};

}  // namespace kestrune
