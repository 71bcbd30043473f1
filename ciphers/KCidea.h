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

    void Wipe() noexcept override {
        Path = PathPortable;
        WipeAll(EncSubkeys, DecSubkeys);
        TKC_blockcipher64::Wipe();
    }

    // The path this instance takes, chosen when keyed through CpuFeatures:
    // "avx2" (sixteen blocks in 16-bit lanes), "sse2" (eight) or "portable".
    std::string_view Provider() const noexcept override;
    static constexpr std::uint8_t PathPortable = 0, PathSse2 = 1, PathAvx2 = 2;

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // One block at a time, the chaining value kept in registers.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    std::uint8_t Path = PathPortable;
    Wiped<std::array<std::uint16_t, 52>, 0> EncSubkeys;
    Wiped<std::array<std::uint16_t, 52>, 0> DecSubkeys;
};

}  // namespace kestrune
