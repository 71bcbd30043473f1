// RIPEMD-128: two parallel lines of four rounds over each 64-byte block.
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

class TKC_ripemd128 final : public TKC_mdhash<64, std::array<std::uint32_t, 4>> {
public:
    static constexpr std::int32_t ClassId = ids::RipeMD128;
    static constexpr std::string_view ClassAlgorithm = "RipeMD-128";
    static constexpr std::int32_t ClassHashSize = 128;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_ripemd128>; }

protected:
    void Start() noexcept override;
    void Compress(ConstBytes blocks) noexcept override;
    void Finish(Bytes digest) noexcept override;
};

}  // namespace kestrune
