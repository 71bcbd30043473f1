// Blowfish: 64-bit block, 16 rounds, keys of 8 to 448 bits. The default cipher.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_blowfish final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::Blowfish;
    static constexpr std::string_view ClassAlgorithm = "Blowfish";
    static constexpr std::int32_t ClassMaxKeySize = 448;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_blowfish>; }

    void Wipe() noexcept override {
        BmiPath = SlicedPath = false;
        WipeAll(SBoxes, PArray, SlicedBoxes);
        TKC_blockcipher64::Wipe();
    }

    // The path of the many-block modes, chosen when keyed through
    // CpuFeatures: "avx512" (with AVX512BW and VBMI; what is left of a call
    // takes the next path), "bmi2" (x86-64 with BMI1 and BMI2) or "portable".
    std::string_view Provider() const noexcept override;

protected:
    std::uint32_t MinKeyBits() const noexcept override { return 8; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // One block at a time, the chaining value kept in registers.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    // Forced inline: the block loops and the key schedule's 521 encryptions
    // must not pay a call and a trip through memory per block.
    [[gnu::always_inline]] void EncryptWords(std::uint32_t& left, std::uint32_t& right) const noexcept;
    [[gnu::always_inline]] void DecryptWords(std::uint32_t& left, std::uint32_t& right) const noexcept;

    Wiped<std::array<std::array<std::uint32_t, 256>, 4>, 0xFF> SBoxes;
    Wiped<std::array<std::uint32_t, 18>, 0xFF> PArray;
    // The S-boxes as tables of bytes (byte j of each entry), for the AVX-512 path.
    Wiped<std::array<std::array<std::array<std::uint8_t, 256>, 4>, 4>, 0xFF> SlicedBoxes;
    bool BmiPath = false;
    bool SlicedPath = false;
    static bool UsableBmiPath() noexcept;
};

}  // namespace kestrune
