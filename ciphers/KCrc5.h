// RC5-32/12/b: 64-bit block, 32-bit words, 12 rounds, keys of 8 to 2048 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_rc5 final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::RC5;
    static constexpr std::string_view ClassAlgorithm = "RC5";
    static constexpr std::int32_t ClassMaxKeySize = 2048;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc5>; }

    void Wipe() noexcept override {
        Path = PathPortable;
        WipeAll(ExpandedKey);
        TKC_blockcipher64::Wipe();
    }

    // The path this instance takes, chosen when keyed through CpuFeatures:
    // "avx2" (eight blocks to a register, each lane rotated by its own
    // count) or "portable".
    std::string_view Provider() const noexcept override;
    static constexpr std::uint8_t PathPortable = 0;

protected:
    // The schedule cycles over the key's words, so a key needs at least one byte.
    std::uint32_t MinKeyBits() const noexcept override { return 8; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    std::uint8_t Path = PathPortable;
    Wiped<std::array<std::uint32_t, 26>, 0xFF> ExpandedKey;
};

}  // namespace kestrune
