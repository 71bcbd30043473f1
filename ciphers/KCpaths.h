// The paths of the ciphers whose blocks run side by side in vector lanes
// (RC2, RC5, RC6, TEA, XTEA, Serpent): one is chosen when an instance is
// keyed, and Provider() names it.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrune {
namespace lanes {

// Every cipher here has an AVX2 path; those whose rounds need neither a
// shift by a count per lane nor a 32-bit product also have SSE2's, and
// Serpent has AVX-512's too.
inline constexpr std::uint8_t PathPortable = 0, PathSse2 = 1, PathAvx2 = 2, PathAvx512 = 3;

// The path an instance keyed now takes, through CpuFeatures (whose header
// stays with the sources).
std::uint8_t UsablePath(bool hasSse2Path, bool hasAvx512Path) noexcept;
std::string_view PathName(std::uint8_t path) noexcept;

// Whether the byte-sliced paths (KCbyteslices.h) run: AVX-512 with its byte
// instructions and VBMI's byte permutes, in a build that has them.
bool ByteSlicesUsable() noexcept;

}  // namespace lanes

// The chosen path of such a cipher, over its block size's base class.
template <typename Base, bool Sse2, bool Avx512 = false>
class LanePaths : public Base {
public:
    static constexpr bool HasSse2Path = Sse2;
    static constexpr bool HasAvx512Path = Avx512;
    static constexpr std::uint8_t PathPortable = lanes::PathPortable, PathSse2 = lanes::PathSse2,
                                  PathAvx2 = lanes::PathAvx2, PathAvx512 = lanes::PathAvx512;

    void Wipe() noexcept override {
        Path = PathPortable;
        Base::Wipe();
    }

    // The path this instance takes, chosen when keyed through CpuFeatures:
    // "avx512", "avx2", "sse2" or "portable"; before keying, the one it would take.
    std::string_view Provider() const noexcept override {
        return lanes::PathName(this->IsInitialized() ? Path : lanes::UsablePath(HasSse2Path, HasAvx512Path));
    }

protected:
    // For ScheduleKey.
    void ChoosePath() noexcept { Path = lanes::UsablePath(HasSse2Path, HasAvx512Path); }

    std::uint8_t Path = PathPortable;
};

}  // namespace kestrune
