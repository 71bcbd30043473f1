// The ICE family: a 64-bit Feistel cipher with a keyed bit permutation (the
// salt) in its round function. Thin-ICE (8 rounds), ICE (16) and ICE-2 (32)
// share one implementation and differ only in the level given to the key set-up.
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"

namespace kestrune {

// The four S-boxes, each 1024 words with the P-box already applied. They
// depend only on fixed constants and are shared by every instance.
using IceSBoxes = std::array<std::array<std::uint32_t, 1024>, 4>;

class TKC_customice : public TKC_blockcipher64 {
public:
    TKC_customice() noexcept;
    void Wipe() noexcept override { RoundCount = 0; WipeAll(Subkeys); TKC_blockcipher64::Wipe(); }

    // The shared S-boxes, built on first use exactly once, whichever thread
    // asks first; callers never see them half-built.
    static const IceSBoxes& SharedSBoxes() noexcept;
    // How many times the shared S-boxes have been built in this process (0 or 1).
    static unsigned SharedSBoxBuilds() noexcept;

protected:
    // The common key set-up: level 0 is Thin-ICE, level n > 0 has 16n rounds
    // and takes 64n key bits.
    void ExpandKeyLevel(ConstBytes key, std::uint32_t keyBits, unsigned level) noexcept;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    struct Subkey {
        std::uint32_t v0, v1;  // xored into the two expanded halves
        std::uint32_t salt;    // selects the bits that swap halves
    };
    void BuildSchedule(std::array<std::uint16_t, 4>& kb, std::size_t start, std::size_t rotation) noexcept;
    template <std::uint32_t Rounds>
    void EncryptRounds(ConstBytes source, Bytes dest) const noexcept;
    template <std::uint32_t Rounds>
    void DecryptRounds(ConstBytes source, Bytes dest) const noexcept;

    const IceSBoxes& SBoxes;
    std::uint32_t RoundCount = 0;
    Wiped<std::array<Subkey, 32>, 0> Subkeys;
};

class TKC_ice final : public TKC_customice {
public:
    static constexpr std::int32_t ClassId = ids::Ice;
    static constexpr std::string_view ClassAlgorithm = "Ice";
    static constexpr std::int32_t ClassMaxKeySize = 64;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_ice>; }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override { ExpandKeyLevel(key, keyBits, 1); }
};

class TKC_thinice final : public TKC_customice {
public:
    static constexpr std::int32_t ClassId = ids::ThinIce;
    static constexpr std::string_view ClassAlgorithm = "Thin Ice";
    static constexpr std::int32_t ClassMaxKeySize = 64;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_thinice>; }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override { ExpandKeyLevel(key, keyBits, 0); }
};

class TKC_ice2 final : public TKC_customice {
public:
    static constexpr std::int32_t ClassId = ids::Ice2;
    static constexpr std::string_view ClassAlgorithm = "Ice2";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_ice2>; }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override { ExpandKeyLevel(key, keyBits, 2); }
};

}  // namespace kestrune
