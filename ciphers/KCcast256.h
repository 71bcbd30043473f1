// CAST-256: 128-bit block, 48 rounds in 12 quad-rounds, keys of up to 256
// bits zero-filled to 256; all words big-endian.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_cast256 final : public TKC_blockcipher128 {
public:
    static constexpr std::int32_t ClassId = ids::Cast256;
    static constexpr std::string_view ClassAlgorithm = "Cast256";
    static constexpr std::int32_t ClassMaxKeySize = 256;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_cast256>; }

    void Wipe() noexcept override {
        WipeAll(RotationKeys, MaskingKeys);
        SlicedPath = false;
        TKC_blockcipher128::Wipe();
    }

    // The path of the many-block modes, chosen when keyed through
    // CpuFeatures: "avx512" (with AVX512BW and VBMI) or "portable".
    std::string_view Provider() const noexcept override;

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::array<std::uint32_t, 4>, 12>, 0xFF> RotationKeys;  // Kr + 8, mod 32
    Wiped<std::array<std::array<std::uint32_t, 4>, 12>, 0xFF> MaskingKeys;
    bool SlicedPath = false;
};

}  // namespace kestrune
