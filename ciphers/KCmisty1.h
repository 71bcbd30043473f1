// MISTY1: 64-bit block, 8 FO rounds with 10 FL layers, 128-bit key.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_misty1 final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::Misty1;
    static constexpr std::string_view ClassAlgorithm = "Misty1";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_misty1>; }

    void Wipe() noexcept override {
        WipeAll(ExpandedKey);
        SlicedPath = false;
        TKC_blockcipher64::Wipe();
    }

    // The path of the many-block modes, chosen when keyed through
    // CpuFeatures: "avx512" (with AVX512BW and VBMI) or "portable".
    std::string_view Provider() const noexcept override;

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // One block at a time, the chaining value kept in registers.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    // K[0..7], K'[0..7], the low 9 bits of K'[0..7], the high 7 bits of K'[0..7].
    Wiped<std::array<std::uint32_t, 32>, 0> ExpandedKey;
    bool SlicedPath = false;
};

}  // namespace kestrune
