// Every code path an algorithm takes on this processor, each once, so that
// the same tests reach the accelerated paths and the portable one alike.
#pragma once

#include <string>
#include <vector>

#include "framework/KCcpufeatures.h"

namespace kestrune::test {

struct CpuPath {
    CpuFeatures::Mask allowed;  // run under CpuFeatures::Restriction(allowed)
    std::string provider;       // what the algorithm answers there
};

// providerOf() answers Provider() of a fresh instance under the current
// restriction. Tried: all features, each one dropped alone, then dropped one
// after another from the newest, then none; a path is kept the first time
// its name appears.
template <typename ProviderOf>
std::vector<CpuPath> CpuPathsOf(ProviderOf providerOf) {
    constexpr CpuFeatures::Mask all = ~CpuFeatures::Mask{0};
    std::vector<CpuFeatures::Mask> candidates = {all};
    for (unsigned bit = 0; bit < 32; ++bit) candidates.push_back(all & ~(1u << bit));
    CpuFeatures::Mask fewer = all;
    for (unsigned bit = 32; bit-- > 0;) candidates.push_back(fewer &= ~(1u << bit));
    std::vector<CpuPath> paths;
    for (const auto allowed : candidates) {
        const CpuFeatures::Restriction only(allowed);
        std::string name(providerOf());
        bool seen = false;
        for (const auto& p : paths) seen = seen || p.provider == name;
        if (!seen) paths.push_back({allowed, std::move(name)});
    }
    return paths;
}

}  // namespace kestrune::test
