// RC2 (RFC 2268): 64-bit block, keys of 8 to 1024 bits, always expanded
// with an effective key length of 1024 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

// Its AVX2 path takes sixteen blocks to a set of four registers, a word of
// each block per lane; SSE2's takes eight.
class TKC_rc2 final : public LanePaths<TKC_blockcipher64, true> {
public:
    static constexpr std::int32_t ClassId = ids::RC2;
    static constexpr std::string_view ClassAlgorithm = "RC2";
    static constexpr std::int32_t ClassMaxKeySize = 1024;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc2>; }

    void Wipe() noexcept override {
        WipeAll(ExpandedKey);
        LanePaths::Wipe();
    }

protected:
    // The expansion repeats the key bytes, so a key needs at least one.
    std::uint32_t MinKeyBits() const noexcept override { return 8; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint16_t, 64>, 0> ExpandedKey;
};

}  // namespace kestrune
