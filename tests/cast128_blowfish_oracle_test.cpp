// CAST-128 and Blowfish against libgcrypt in every mode over many blocks:
// the published vectors and the block checks against OpenSSL cover one
// block at a time, and the many-block groups (the bmi2 assembly and the
// AVX-512 sets among them) and the serial modes' chaining would otherwise be checked only
// against each other.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "tests/block_oracle.h"
#include "tests/cpu_paths.h"
#include "tests/gcrypt_oracle.h"

namespace kestrune {
namespace {

// 149 blocks: sets of sixty-four, groups of four and of eight and single
// blocks in one call; cut after five blocks, the sets and groups fall
// elsewhere in each call. On every path the processor runs, with a 128-bit
// key (16 rounds of CAST-128).
TEST(Cast128AndBlowfish, EveryModeMatchesLibgcryptOverManyBlocks) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto data = test::RandomBytes(8 * 149, 81);
    const auto iv = test::RandomBytes(8, 82);
    const auto key = test::RandomBytes(16, 83);
    for (const auto& path : test::CpuPathsOf([] { return TKC_cast128().Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        for (const auto& m : test::GcryptModes) {
            for (const std::size_t cut : {std::size_t{0}, std::size_t{8 * 5}}) {
                const auto where = "mode " + std::to_string(static_cast<int>(m.ours)) + ", cut " + std::to_string(cut);
                test::ExpectLibgcryptAnswer<TKC_cast128>(GCRY_CIPHER_CAST5, m, key, iv, data, cut, "CAST-128, " + where);
                test::ExpectLibgcryptAnswer<TKC_blowfish>(GCRY_CIPHER_BLOWFISH, m, key, iv, data, cut,
                                                          "Blowfish, " + where);
            }
        }
    }
}

}  // namespace
}  // namespace kestrune
