// RC6-32/20/b: 128-bit block, 20 rounds, keys of 8 to 2048 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_rc6 final : public TKC_blockcipher128 {
public:
    static constexpr std::int32_t ClassId = ids::RC6;
    static constexpr std::string_view ClassAlgorithm = "RC6";
    static constexpr std::int32_t ClassMaxKeySize = 2048;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rc6>; }

    void Wipe() noexcept override {
        Path = PathPortable;
        WipeAll(ExpandedKey);
        TKC_blockcipher128::Wipe();
    }

    // The path this instance takes, chosen when keyed through CpuFeatures:
    // "avx2" (eight blocks to a register, each lane rotated by its own
    // count) or "portable".
    std::string_view Provider() const noexcept override;
    static constexpr std::uint8_t PathPortable = 0;

protected:
    // The schedule cycles over the key's bytes; a shorter key has none.
    std::uint32_t MinKeyBits() const noexcept override { return 8; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    std::uint8_t Path = PathPortable;
    Wiped<std::array<std::uint32_t, 44>, 0xFF> ExpandedKey;
};

}  // namespace kestrune
