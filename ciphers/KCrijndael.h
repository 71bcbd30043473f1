// Rijndael with a 128-bit block (AES), keys of up to 256 bits; shorter keys
// are zero-filled to the next of 128, 192 and 256 bits.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

class TKC_rijndael final : public TKC_blockcipher128 {
public:
    static constexpr std::int32_t ClassId = ids::Rijndael;
    static constexpr std::string_view ClassAlgorithm = "Rijndael";
    static constexpr std::int32_t ClassMaxKeySize = 256;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_rijndael>; }

    TKC_rijndael() noexcept = default;
    TKC_rijndael(const TKC_rijndael&) = delete;
    TKC_rijndael& operator=(const TKC_rijndael&) = delete;
    ~TKC_rijndael() override { WipeKeys(); }

    void Wipe() noexcept override {
        WipeKeys();
        TKC_blockcipher128::Wipe();
    }

    // The path this instance takes, chosen when keyed through CpuFeatures:
    // "vaes" (AES instructions on 256-bit registers, 24 blocks in
    // flight), "aesni" (eight in flight) or "portable" (bitsliced, four
    // blocks at a time, no secret-dependent branch or memory address).
    std::string_view Provider() const noexcept override;
    static constexpr std::uint8_t PathPortable = 0, PathAesNi = 1, PathVaes = 2;

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    // With the AES instructions the modes run fused: CBC, CFB, CFB-8 and
    // OFB encryption keep their chain in a register, CBC and CFB decryption and
    // CTR work eight, or with VAES 24 and 16, blocks per pass.
    void EncryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void DecryptCBCBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCTRBlocks(Block& counter, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void DecryptCFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptOFBBlocks(Block& chain, ConstBytes source, Bytes dest) const noexcept override;
    void EncryptCFB8Bytes(Block& chain, ConstBytes source, Bytes dest) const noexcept override;

private:
    // Zero-fills the round keys the last keying wrote, and only those: the
    // word keys of a hardware path or the sliced keys of the portable one,
    // as far as its rounds reach. Filling all 1.4 KB when an instance was
    // made, wiped and destroyed cost more than a hardware key set-up; what
    // no keying wrote holds nothing of a key.
    void WipeKeys() noexcept;
    std::uint32_t RoundCount = 0;  // 0: no round keys held
    std::uint8_t Path = PathPortable;
    // Four words per round, round 0 first. A word holds one state column,
    // row r in bits 8r..8r+7, so the bytes in memory are the FIPS-197 bytes.
    alignas(16) std::array<std::uint32_t, 60> EncKeys;
    // The equivalent inverse cipher's round keys in the order decryption
    // uses them: round Nr first, InvMixColumns applied to rounds 1..Nr-1.
    alignas(16) std::array<std::uint32_t, 60> DecKeys;
    // The portable path's round keys, each as the eight bit planes of four
    // copies of it; the word keys are wiped once these are made.
    std::array<std::uint64_t, 120> SlicedKeys;
};

}  // namespace kestrune
