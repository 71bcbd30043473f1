// The compressions that use processor extensions (the x86 SHA instructions
// for SHA-1 and SHA-256, AVX2 and BMI2 for SHA-384 and SHA-512) must agree
// with the portable ones, which the known-answer tests reach only on
// processors without those extensions.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCshani.h"

namespace kestrune {
namespace {

// Random states and random runs of blocks, with counts that leave every
// remainder of the four-block groups the AVX2 path works in, whether the
// group before is followed by a whole group or a part of one (that path
// hands four blocks or fewer to the portable one).
template <typename Word, std::size_t N, std::size_t BlockBytes>
void ComparePaths(void (*portable)(std::array<Word, N>&, ConstBytes),
                  void (*extended)(std::array<Word, N>&, ConstBytes)) {
    std::mt19937_64 rng(7);
    for (std::size_t blocks : {1u, 2u, 3u, 4u, 5u, 6u, 8u, 11u, 17u, 64u}) {
        std::array<Word, N> state;
        for (auto& w : state) w = static_cast<Word>(rng());
        std::vector<std::uint8_t> data(BlockBytes * blocks);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        auto expected = state, actual = state;
        portable(expected, data);
        extended(actual, data);
        EXPECT_EQ(actual, expected) << blocks << " blocks";
    }
}

TEST(DigestProcessorPaths, Sha1WithShaInstructions) {
    if (!shani::Available()) GTEST_SKIP() << "no SHA instructions on this processor";
    ComparePaths<std::uint32_t, 5, 64>(&TKC_sha1::CompressPortable, &shani::CompressSha1);
}

TEST(DigestProcessorPaths, Sha256WithShaInstructions) {
    if (!shani::Available()) GTEST_SKIP() << "no SHA instructions on this processor";
    ComparePaths<std::uint32_t, 8, 64>(&TKC_sha256::CompressPortable, &shani::CompressSha256);
}

TEST(DigestProcessorPaths, Sha512WithAvx2) {
    if (!TKC_sha512base::Avx2Available()) GTEST_SKIP() << "no AVX2 and BMI2 on this processor";
    ComparePaths<std::uint64_t, 8, 128>(&TKC_sha512base::CompressPortable, &TKC_sha512base::CompressAvx2);
}

}  // namespace
}  // namespace kestrune
