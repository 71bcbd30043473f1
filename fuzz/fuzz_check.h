// What the fuzz targets share: a check that stops the run with a message
// when a property the code promises does not hold. libFuzzer records the
// input that broke it as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace kestrune::fuzz {

inline void Check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", property);
    std::abort();
}

}  // namespace kestrune::fuzz
