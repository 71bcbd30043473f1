// HAVAL with 5 passes and a 256-bit digest, padded with the byte 0x80 where
// the published HAVAL uses 0x01; digests made earlier depend on that byte.
#pragma once

#include "../framework/KCconst.h"
#include "../framework/KCmdhash.h"

namespace kestrune {

class TKC_haval : public TKC_mdhash<128, std::array<std::uint32_t, 8>> {
public:
    static constexpr std::int32_t ClassId = ids::Haval;
    static constexpr std::string_view ClassAlgorithm = "Haval (256bit, 5 passes)";
    static constexpr std::int32_t ClassHashSize = 256;
    static bool SelfTest();
    const TKC_hashclass& Class() const noexcept override { return HashClassOf<TKC_haval>; }

    TKC_haval() noexcept = default;

protected:
    // Another pad byte gives another digest: 0x01 gives the published HAVAL,
    // which lets tests check the compression and the trailer on their own.
    explicit TKC_haval(std::uint8_t padByte) noexcept : PadByte(padByte) {}

    void Start() noexcept override;
    void Compress(ConstBytes blocks) noexcept override;
    void Finish(Bytes digest) noexcept override;

private:
    std::uint8_t PadByte = 0x80;
};

}  // namespace kestrune
