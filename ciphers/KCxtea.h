// XTEA as this system defines it: 64-bit block, 32 rounds, 128-bit key, with
// its own round function (not the published one; see the .cpp).
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

// Its shifts take one count for every lane: SSE2 runs the rounds too.
class TKC_xtea final : public LanePaths<TKC_blockcipher64, true> {
public:
    static constexpr std::int32_t ClassId = ids::XTea;
    static constexpr std::string_view ClassAlgorithm = "XTea";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_xtea>; }

    void Wipe() noexcept override {
        WipeAll(KeyedSums);
        LanePaths::Wipe();
    }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    // What each half round adds to the sum: the sum plus the key word it
    // picks, in encryption order. Worked out once when keyed, so that the
    // rounds pick no word per block (and lanes need no per-lane pick).
    Wiped<std::array<std::uint32_t, 64>, 0> KeyedSums;
};

}  // namespace kestrune
