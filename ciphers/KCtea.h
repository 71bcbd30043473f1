// TEA as this system defines it: 64-bit block, 32 rounds, 128-bit key, with
// its own round function (not the published one; see the .cpp).
#pragma once

#include "../framework/KCblockciphers.h"
#include "../framework/KCconst.h"
#include "KCpaths.h"

namespace kestrune {

// What TEA and XTEA share: the constant, the sum after 32 rounds, the key
// layout and the self-test key.
namespace tea {
inline constexpr std::uint32_t Delta = 0x9E3779B9;
inline constexpr std::uint32_t FinalSum = Delta * 32;  // 0xC6EF3720 modulo 2^32
inline constexpr std::string_view SelfTestKey = "Kestrune TEA key";
// Four big-endian words; a shorter key is padded with zero bytes at the end.
std::array<std::uint32_t, 4> KeyWordsOf(ConstBytes key, std::uint32_t keyBits) noexcept;
// Keys the cipher with SelfTestKey and round-trips its first eight bytes.
bool SelfTestRoundTrip(TKC_blockcipher64& cipher);
}  // namespace tea

// Its shifts take one count for every lane: SSE2 runs the rounds too.
class TKC_tea final : public LanePaths<TKC_blockcipher64, true> {
public:
    static constexpr std::int32_t ClassId = ids::Tea;
    static constexpr std::string_view ClassAlgorithm = "Tea";
    static constexpr std::int32_t ClassMaxKeySize = 128;
    static bool SelfTest();
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_tea>; }

    void Wipe() noexcept override {
        WipeAll(KeyWords);
        LanePaths::Wipe();
    }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override;
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override;
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override;

private:
    Wiped<std::array<std::uint32_t, 4>, 0> KeyWords;  // K0..K3
};

}  // namespace kestrune
