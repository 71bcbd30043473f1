// MD4 (RFC 1320).
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

class TKC_md4 final : public TKC_mdhash<64, std::array<std::uint32_t, 4>> {
public:
    static constexpr std::int32_t ClassId = ids::MD4;
    static constexpr std::string_view ClassAlgorithm = "MD4";
    static constexpr std::int32_t ClassHashSize = 128;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_md4>; }

protected:
    void Start() noexcept override;
    void Compress(ConstBytes blocks) noexcept override;
    void Finish(Bytes digest) noexcept override;
};

}  // namespace kestrune
