#include "KCpaths.h"

#include "../framework/KCcpufeatures.h"

namespace kestrune::lanes {

std::uint8_t UsablePath(bool hasSse2Path) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    if (CpuFeatures::Has(CpuFeature::Avx2)) return PathAvx2;
    if (hasSse2Path && CpuFeatures::Has(CpuFeature::Sse2)) return PathSse2;
#else
    static_cast<void>(hasSse2Path);
#endif
    return PathPortable;
}

std::string_view PathName(std::uint8_t path) noexcept {
    switch (path) {
    case PathAvx2: return "avx2";
    case PathSse2: return "sse2";
    default: return "portable";
    }
}

}  // namespace kestrune::lanes
