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

    void Wipe() noexcept override { WipeAll(EncSubkeys, DecSubkeys); TKC_blockcipher64::Wipe(); }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint16_t, 52>, 0> EncSubkeys;
    Wiped<std::array<std::uint16_t, 52>, 0> DecSubkeys;
};

}  // namespace kestrune
