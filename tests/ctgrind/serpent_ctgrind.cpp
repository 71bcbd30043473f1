// Runs every Serpent path this processor has with the key and the data
// marked as undefined for Valgrind's memcheck: a branch or a memory address
// that depends on them is then reported as the use of an uninitialised
// value. The marks cost nothing outside Valgrind, where the program still
// checks a known answer and that every mode's decryption restores its input.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "ciphers/KCserpent.h"
#include "framework/KCcpufeatures.h"
#include "tests/ctgrind/ctgrind.h"

namespace {

using namespace kestrune;
using ctgrind::Expect, ctgrind::MarkPublic, ctgrind::MarkSecret;

// NESSIE Serpent-128 set 1, vector 0, with the secrets marked.
void KnownAnswer(std::string_view path) {
    std::array<std::uint8_t, 16> key{0x80}, block{};
    const std::array<std::uint8_t, 16> expected{0x26, 0x4E, 0x54, 0x81, 0xEF, 0xF4, 0x2A, 0x46,
                                                0x06, 0xAB, 0xDA, 0x06, 0xC0, 0xBF, 0xDA, 0x3D};
    MarkSecret(key), MarkSecret(block);
    TKC_serpent cipher;
    cipher.Init(key, 128);
    cipher.EncryptBlock(block, block);
    auto encrypted = block;
    MarkPublic(encrypted);
    Expect(encrypted == expected, "known answer", path, 128, -1);
    cipher.DecryptBlock(block, block);
    MarkPublic(block);
    Expect(block == std::array<std::uint8_t, 16>{}, "known answer decrypted", path, 128, -1);
}

}  // namespace

int main() {
    // All features, then without AVX2, then none: the AVX2, SSE2 and
    // portable paths where the processor has them.
    for (const auto allowed : {~CpuFeatures::None, ~CpuFeatures::Of(CpuFeature::Avx2), CpuFeatures::None}) {
        const CpuFeatures::Restriction only(allowed);
        const std::string path(TKC_serpent().Provider());
        KnownAnswer(path);
        // Two groups of sixteen blocks, a set of eight, a set of four and single blocks.
        ctgrind::Modes<TKC_serpent>(path, {128, 256}, 47);
    }
    return ctgrind::failures == 0 ? 0 : 1;
}
