// RC5-32/12/b: 64-bit block, 32-bit words, 12 rounds, keys of 8 to 2048 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

// SSE2 has no shift by a count per lane, and so no RC5 path.
class TKC_rc5 final : public LanePaths<TKC_blockcipher64, false> {
public:
    static constexpr std::int32_t ClassId = ids::RC5;
    static constexpr std::string_view ClassAlgorithm = "RC5";
    static constexpr std::int32_t ClassMaxKeySize = 2048;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc5>; }

    void Wipe() noexcept override {
        WipeAll(ExpandedKey);
        LanePaths::Wipe();
    }

protected:
    // The schedule cycles over the key's words, so a key needs at least one byte.
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
    Wiped<std::array<std::uint32_t, 26>, 0xFF> ExpandedKey;
};

}  // namespace kestrune
