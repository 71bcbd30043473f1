// IDEA: 64-bit block, 128-bit key (shorter keys padded with zero bytes),
// eight rounds and an output transformation.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_idea final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::IDEA;
    static constexpr std::string_view ClassAlgorithm = "IDEA";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_idea>; }

    TKC_idea() noexcept { WipeKey(); }
    ~TKC_idea() override { WipeKey(); }
    void Wipe() noexcept override {
        WipeKey();
        TKC_blockcipher64::Wipe();
    }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    void WipeKey() noexcept {
        SecureZero(EncSubkeys);
        SecureZero(DecSubkeys);
    }

    std::array<std::uint16_t, 52> EncSubkeys;
    std::array<std::uint16_t, 52> DecSubkeys;
};

}  // namespace kestrune
