// Twofish against libgcrypt in every mode over many blocks, on every path
// this processor has: the published vectors cover one block, and the
// many-block paths (three blocks at a time, or sets of sixty-four) and the
// serial modes' chaining in registers would otherwise be checked only
// against each other.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "ciphers/KCtwofish.h"
#include "tests/block_oracle.h"
#include "tests/cpu_paths.h"
#include "tests/gcrypt_oracle.h"

namespace kestrune {
namespace {

// 149 blocks: two sets of sixty-four, then groups of three and single
// blocks, in one call; cut after five blocks, the sets and groups fall
// elsewhere in each call.
TEST(Twofish, EveryModeMatchesLibgcryptOverManyBlocksOnEveryPath) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto data = test::RandomBytes(16 * 149, 51);
    const auto iv = test::RandomBytes(16, 52);
    for (const auto& path : test::CpuPathsOf([] { return TKC_twofish().Provider(); }))
    for (const std::size_t keyBytes : {16u, 32u}) {
        const CpuFeatures::Restriction only(path.allowed);
        const auto key = test::RandomBytes(keyBytes, 53);
        for (const auto& m : test::GcryptModes) {
            const int algo = key.size() == 16 ? GCRY_CIPHER_TWOFISH128 : GCRY_CIPHER_TWOFISH;
            for (const std::size_t cut : {std::size_t{0}, std::size_t{16 * 5}}) {
                test::ExpectLibgcryptAnswer<TKC_twofish>(algo, m, key, iv, data, cut,
                                                         path.provider + ", " + std::to_string(8 * keyBytes) +
                                                             "-bit key, mode " +
                                                             std::to_string(static_cast<int>(m.ours)) + ", cut " +
                                                             std::to_string(cut));
            }
        }
    }
}

}  // namespace
}  // namespace kestrune
