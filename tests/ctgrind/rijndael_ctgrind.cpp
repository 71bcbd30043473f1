// Runs the portable Rijndael path with the key and the data marked as
// undefined for Valgrind's memcheck: a branch or a memory address that
// depends on them is then reported as the use of an uninitialised value.
// The marks cost nothing outside Valgrind, where the program still checks a
// known answer and that every mode's decryption restores its input.
// The cipher class is driven directly, so that only its code and the modes
// see the secrets.
#include <array>
#include <cstdio>
#include <vector>

#include "ciphers/KCrijndael.h"
#include "framework/KCcpufeatures.h"
#include "tests/ctgrind/ctgrind.h"

namespace {

using namespace kestrune;
using ctgrind::Expect, ctgrind::MarkPublic, ctgrind::MarkSecret;

// FIPS-197 appendix C.1, encrypted and decrypted with the secrets marked.
void KnownAnswer() {
    std::array<std::uint8_t, 16> key, block;
    for (std::size_t i = 0; i < 16; ++i) key[i] = static_cast<std::uint8_t>(i), block[i] = static_cast<std::uint8_t>(0x11 * i);
    const std::array<std::uint8_t, 16> expected{0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                                0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
    const auto plain = block;
    MarkSecret(key), MarkSecret(block);
    TKC_rijndael cipher;
    cipher.Init(key, 128);
    cipher.EncryptBlock(block, block);
    auto encrypted = block;
    MarkPublic(encrypted);
    Expect(encrypted == expected, "known answer", "portable", 128, -1);
    cipher.DecryptBlock(block, block);
    MarkPublic(block);
    Expect(block == plain, "known answer decrypted", "portable", 128, -1);
}

}  // namespace

int main() {
    // The environment asks for the portable path too; this makes sure of it.
    const CpuFeatures::Restriction portable(CpuFeatures::None);
    if (TKC_rijndael().Provider() != "portable") {
        std::fprintf(stderr, "the portable path is not the one taken\n");
        return 1;
    }
    KnownAnswer();
    // Every key size, over a length that cuts the four-block groups.
    ctgrind::Modes<TKC_rijndael>("portable", {128, 192, 256}, 9);
    return ctgrind::failures == 0 ? 0 : 1;
}
