// XTEA as this system defines it: 64-bit block, 32 rounds, 128-bit key, with
// its own round function (not the published one; see the .cpp).
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_xtea final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = ids::XTea;
    static constexpr std::string_view ClassAlgorithm = "XTea";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_xtea>; }

    void Wipe() noexcept override { WipeAll(KeyWords); TKC_blockcipher64::Wipe(); }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint32_t, 4>, 0> KeyWords;  // K0..K3
};

}  // namespace kestrune
