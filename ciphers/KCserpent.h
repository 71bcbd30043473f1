// Serpent: 128-bit block, 32 rounds, bitsliced; keys of up to 256 bits,
// shorter ones padded with a single 1 bit.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

class TKC_serpent final : public LanePaths<TKC_blockcipher128, true, true> {
public:
    static constexpr std::int32_t ClassId = ids::Serpent;
    static constexpr std::string_view ClassAlgorithm = "Serpent";
    static constexpr std::int32_t ClassMaxKeySize = 256;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_serpent>; }

    void Wipe() noexcept override {
        WipeAll(RoundSubkeys);
        LanePaths::Wipe();
    }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // The parallel modes in one pass over the data on the vector paths.
    void DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCTRBlocks(Block& counter, ConstBytes source, Bytes dest) const noexcept override;
    // The serial modes with the chaining value kept in registers.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::array<std::uint32_t, 4>, 33>, 0> RoundSubkeys;
};

}  // namespace kestrune
