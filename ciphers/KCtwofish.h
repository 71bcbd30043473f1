// Twofish: 128-bit block, 16 rounds, keys of up to 256 bits rounded up with
// zero bytes to 128, 192 or 256 bits; fully keyed S-boxes.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_twofish final : public TKC_blockcipher128 {
public:
    static constexpr std::int32_t ClassId = ids::Twofish;
    static constexpr std::string_view ClassAlgorithm = "Twofish";
    static constexpr std::int32_t ClassMaxKeySize = 256;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_twofish>; }

    TKC_twofish() noexcept;
    void Wipe() noexcept override {
        WipeAll(RoundSubkeys, KeyedSBoxes, KeyedBytes);
        SlicedPath = false;
        TKC_blockcipher128::Wipe();
    }

    // The path of the many-block modes, chosen when keyed through
    // CpuFeatures: "avx512" (with AVX512BW, VBMI and GFNI) or "portable".
    std::string_view Provider() const noexcept override;

    // The q-permutations through the MDS matrix, one table per column:
    // shared by every instance, built once by the first construction.
    using MdsTable = std::array<std::array<std::uint32_t, 256>, 4>;

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // The serial modes with the chaining value kept in registers.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    static bool UsableSlicedPath() noexcept;

    const MdsTable& Mds;
    Wiped<std::array<std::uint32_t, 40>, 0xFF> RoundSubkeys;
    Wiped<std::array<std::array<std::uint32_t, 256>, 4>, 0xFF> KeyedSBoxes;
    // The keyed substitutions alone, for the AVX-512 path.
    Wiped<std::array<std::array<std::uint8_t, 256>, 4>, 0xFF> KeyedBytes;
    bool SlicedPath = false;
};

}  // namespace kestrune
