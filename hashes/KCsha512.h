// SHA-384 and SHA-512 (FIPS 180-2): one compression over 128-byte blocks,
// two initial states and two output lengths.
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

// What SHA-384 and SHA-512 share; never used by itself.
class TKC_sha512base : public TKC_mdhash<128, std::array<std::uint64_t, 8>> {
public:
    // Compress whole 128-byte blocks into a native-order state. Compress
    // prefers the AVX2 path where CpuFeatures allows AVX2 and BMI2.
    static void CompressPortable(std::array<std::uint64_t, 8>& state, ConstBytes blocks) noexcept;
    static void CompressAvx2(std::array<std::uint64_t, 8>& state, ConstBytes blocks) noexcept;
    // "avx2" or "portable", as Compress chooses.
    std::string_view Provider() const noexcept final;

protected:
    void Compress(ConstBytes blocks) noexcept final;
    // Pads with the 128-bit length and writes the first digest.size() bytes of the state.
    void Finish(Bytes digest) noexcept final;
};

class TKC_sha384 final : public TKC_sha512base {
public:
    static constexpr std::int32_t ClassId = ids::SHA384;
    static constexpr std::string_view ClassAlgorithm = "SHA384";
    static constexpr std::int32_t ClassHashSize = 384;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_sha384>; }

protected:
    void Start() noexcept override;
};

class TKC_sha512 final : public TKC_sha512base {
public:
    static constexpr std::int32_t ClassId = ids::SHA512;
    static constexpr std::string_view ClassAlgorithm = "SHA512";
    static constexpr std::int32_t ClassHashSize = 512;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_sha512>; }

protected:
    void Start() noexcept override;
};

}  // namespace kestrune
