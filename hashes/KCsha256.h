// SHA-256 (FIPS 180-2).
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

class TKC_sha256 final : public TKC_mdhash<64, std::array<std::uint32_t, 8>> {
public:
    static constexpr std::int32_t ClassId = ids::SHA256;
    static constexpr std::string_view ClassAlgorithm = "SHA256";
    static constexpr std::int32_t ClassHashSize = 256;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_sha256>; }

    // Compresses whole 64-byte blocks into a native-order state. Compress
    // uses it where the processor has no SHA instructions; public so that
    // tests can hold the two paths side by side.
    static void CompressPortable(std::array<std::uint32_t, 8>& state, ConstBytes blocks) noexcept;

    // "sha-ni" where the x86 SHA instructions compress, else "portable".
    std::string_view Provider() const noexcept override;

protected:
    void Start() noexcept override;
    void Compress(ConstBytes blocks) noexcept override;
    void Finish(Bytes digest) noexcept override;
};

}  // namespace kestrune
