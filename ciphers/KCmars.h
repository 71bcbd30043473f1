// MARS: 128-bit block, 16 keyed core rounds between 16 unkeyed mixing rounds;
// keys of 4 to 39 whole 32-bit words, expanded by the first-round schedule.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_mars final : public TKC_blockcipher128 {
public:
    static constexpr std::int32_t ClassId = ids::Mars;
    static constexpr std::string_view ClassAlgorithm = "Mars";
    static constexpr std::int32_t ClassMaxKeySize = 1248;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_mars>; }

    void Wipe() noexcept override { WipeAll(ExpandedKey); TKC_blockcipher128::Wipe(); }

protected:
    // The schedule cycles over whole key words; a shorter key has none.
    std::uint32_t MinKeyBits() const noexcept override { return 32; }
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint32_t, 40>, 0xFF> ExpandedKey;
};

}  // namespace kestrune
