// RC6-32/20/b: 128-bit block, 20 rounds, keys of 8 to 2048 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

// SSE2 has no shift by a count per lane, and no 32-bit multiplication:
// no RC6 path.
class TKC_rc6 final : public LanePaths<TKC_blockcipher128, false> {
public:
    static constexpr std::int32_t ClassId = ids::RC6;
    static constexpr std::string_view ClassAlgorithm = "RC6";
    static constexpr std::int32_t ClassMaxKeySize = 2048;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc6>; }

    void Wipe() noexcept override {
        WipeAll(ExpandedKey);
        LanePaths::Wipe();
    }

protected:
    // The schedule cycles over the key's bytes; a shorter key has none.
    std::uint32_t MinKeyBits() const noexcept override { return 8; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint32_t, 44>, 0xFF> ExpandedKey;
};

}  // namespace kestrune
