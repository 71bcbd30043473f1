// The processor features that accelerated paths need, detected once. Every
// algorithm with a faster path asks here, so that one switch reaches them
// all: KESTRUNE_CPU=portable turns every one off, and a list such as
// KESTRUNE_CPU=-avx2,-sha turns off the features named; tests restrict the
// set in-process with CpuFeatures::Restriction.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrune {

enum class CpuFeature : std::uint32_t {
    AesNi = 1u << 0,
    Pclmul = 1u << 1,
    Ssse3 = 1u << 2,
    Sse41 = 1u << 3,
    Avx2 = 1u << 4,
    Bmi2 = 1u << 5,
    Sha = 1u << 6,
    Vaes = 1u << 7,
    Avx512F = 1u << 8,
    Avx512BW = 1u << 9,
    Avx512VL = 1u << 10,
    Sse2 = 1u << 11,
    Gfni = 1u << 12,
    Avx512Vbmi = 1u << 13,
};

class CpuFeatures {
public:
    using Mask = std::uint32_t;
    static constexpr Mask None = 0;

    static constexpr Mask Bit(CpuFeature f) noexcept { return static_cast<Mask>(f); }
    template <typename... F>
    static constexpr Mask Of(F... f) noexcept { return (Bit(f) | ...); }

    // True when every feature named is present and allowed.
    template <typename... F>
    static bool Has(F... f) noexcept { return (Enabled() & Of(f...)) == Of(f...); }

    // What the processor and its operating system support (other
    // architectures and builds without the paths: None).
    static Mask Detected() noexcept;
    // Detected, less what the environment and any Restriction turn off.
    static Mask Enabled() noexcept;

    // The feature's name in KESTRUNE_CPU ("aes", "avx2", ...); empty when unknown.
    static std::string_view Name(CpuFeature f) noexcept;
    // The features that a KESTRUNE_CPU value turns off. Unknown names are
    // ignored, so that a setting written for a newer build does no harm.
    static Mask DisabledBy(std::string_view setting) noexcept;

    // Allows only the features in the mask (and still only those detected)
    // while it lives; paths are chosen anew by digests at each block run and
    // by ciphers when keyed. For tests and benchmarks; the previous
    // restriction comes back when it ends.
    class Restriction {
    public:
        explicit Restriction(Mask allowed) noexcept;
        ~Restriction();
        Restriction(const Restriction&) = delete;
        Restriction& operator=(const Restriction&) = delete;

    private:
        Mask Previous;
    };
};

}  // namespace kestrune
