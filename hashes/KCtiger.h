// Tiger as first published: 192-bit digest, 3 passes, padding byte 0x01.
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

class TKC_tiger final : public TKC_mdhash<64, std::array<std::uint64_t, 3>> {
public:
    static constexpr std::int32_t ClassId = ids::Tiger;
    static constexpr std::string_view ClassAlgorithm = "Tiger";
    static constexpr std::int32_t ClassHashSize = 192;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_tiger>; }

protected:
    void Start() noexcept override;
    void Compress(ConstBytes blocks) noexcept override;
    void Finish(Bytes digest) noexcept override;
};

}  // namespace kestrune
