// Serpent against libgcrypt in every mode over many blocks, on every path
// this processor has: the published vectors cover one block, and the
// many-block groups, the fused parallel modes and the serial modes'
// chaining in registers would otherwise be checked only against each other.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "ciphers/KCserpent.h"
#include "tests/block_oracle.h"
#include "tests/gcrypt_oracle.h"
#include "tests/cpu_paths.h"

namespace kestrune {
namespace {

// 149 blocks: whole groups (16 blocks for AVX2, 64 for AVX-512), whole
// sets after them and a rest, in one call; cut after seven blocks, the
// groups fall elsewhere in each call. The counter
// starts just below a carry out of its low 64 bits, which the first group
// crosses.
TEST(Serpent, EveryModeMatchesLibgcryptOverManyBlocksOnEveryPath) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto data = test::RandomBytes(16 * 149, 61);
    auto iv = test::RandomBytes(16, 62);
    std::fill(iv.begin() + 8, iv.end() - 1, 0xFF);
    iv[15] = 0xF7;
    const auto key = test::RandomBytes(32, 63);
    for (const auto& path : test::CpuPathsOf([] { return TKC_serpent().Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        for (const auto& m : test::GcryptModes) {
            for (const std::size_t cut : {std::size_t{0}, std::size_t{16 * 7}}) {
                test::ExpectLibgcryptAnswer<TKC_serpent>(GCRY_CIPHER_SERPENT256, m, key, iv, data, cut,
                                                         path.provider + ", mode " +
                                                             std::to_string(static_cast<int>(m.ours)) + ", cut " +
                                                             std::to_string(cut));
            }
        }
    }
}

}  // namespace
}  // namespace kestrune
