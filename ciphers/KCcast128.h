// CAST-128 (RFC 2144): 64-bit block, keys of up to 128 bits; keys of up to
// 80 whole bits run 12 rounds, longer keys 16.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_cast128 final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::Cast128;
    static constexpr std::string_view ClassAlgorithm = "Cast128";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_cast128>; }

    void Wipe() noexcept override {
        RoundCount = 0;
        BmiLanes = SlicedPath = false;
        WipeAll(SubkeyWords);
        TKC_blockcipher64::Wipe();
    }

    // The path of the many-block modes, chosen when keyed through
    // CpuFeatures: "avx512" (with AVX512BW and VBMI; what is left of a call
    // takes the next path), "bmi2" (x86-64 with BMI1 and BMI2) or "portable".
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
    // Masking keys Km1..Km16, then rotation keys Kr1..Kr16 (low 5 bits).
    Wiped<std::array<std::uint32_t, 32>, 0xFF> SubkeyWords;
    std::uint32_t RoundCount = 0;
    bool BmiLanes = false;
    bool SlicedPath = false;
    static bool UsableBmiLanes() noexcept;
};

}  // namespace kestrune
