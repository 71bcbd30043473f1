// SHA-1 and SHA-256 compression with the x86 SHA extensions. Each call
// compresses whole 64-byte blocks into a native-order state, exactly like the
// portable code of TKC_sha1 and TKC_sha256.
#pragma once

#include <array>
#include <cstdint>

#include "../framework/KCbytes.h"

namespace kestrune::shani {

// True when this build has the paths and CpuFeatures allows them.
bool Usable() noexcept;

void CompressSha1(std::array<std::uint32_t, 5>& state, ConstBytes blocks) noexcept;
void CompressSha256(std::array<std::uint32_t, 8>& state, ConstBytes blocks) noexcept;

}  // namespace kestrune::shani
