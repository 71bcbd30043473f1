#include "KCpaths.h"

#include "../framework/KCcpufeatures.h"

namespace kestrune::lanes {

std::uint8_t UsablePath(bool hasSse2Path, bool hasAvx512Path) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    if (hasAvx512Path && CpuFeatures::Has(CpuFeature::Avx512F, CpuFeature::Avx2)) return PathAvx512;
    if (CpuFeatures::Has(CpuFeature::Avx2)) return PathAvx2;
    if (hasSse2Path && CpuFeatures::Has(CpuFeature::Sse2)) return PathSse2;
#else
    static_cast<void>(hasSse2Path), static_cast<void>(hasAvx512Path);
#endif
    return PathPortable;
}

bool ByteSlicesUsable() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    return CpuFeatures::Has(CpuFeature::Avx512F, CpuFeature::Avx512BW, CpuFeature::Avx512Vbmi);
#else
    return false;
#endif
}

std::string_view PathName(std::uint8_t path) noexcept {
    switch (path) {
    case PathAvx512: return "avx512";
    case PathAvx2: return "avx2";
    case PathSse2: return "sse2";
    default: return "portable";
    }
}

}  // namespace kestrune::lanes
