// The SHA-1 and SHA-256 compressions with the x86 SHA instructions must agree
// with the portable ones, which the known-answer tests reach only on
// processors without those instructions.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCshani.h"

namespace kestrune {
namespace {

template <std::size_t N>
void ComparePaths(void (*portable)(std::array<std::uint32_t, N>&, ConstBytes),
                  void (*hardware)(std::array<std::uint32_t, N>&, ConstBytes)) {
    std::mt19937 rng(7);
    for (std::size_t blocks : {1u, 2u, 3u, 17u, 64u}) {
        std::array<std::uint32_t, N> state;
        for (auto& w : state) w = rng();
        std::vector<std::uint8_t> data(64 * blocks);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        auto expected = state, actual = state;
        portable(expected, data);
        hardware(actual, data);
        EXPECT_EQ(actual, expected) << blocks << " blocks";
    }
}

TEST(ShaExtensions, Sha1AgreesWithPortableCompression) {
    if (!shani::Available()) GTEST_SKIP() << "no SHA instructions on this processor";
    ComparePaths<5>(&TKC_sha1::CompressPortable, &shani::CompressSha1);
}

TEST(ShaExtensions, Sha256AgreesWithPortableCompression) {
    if (!shani::Available()) GTEST_SKIP() << "no SHA instructions on this processor";
    ComparePaths<8>(&TKC_sha256::CompressPortable, &shani::CompressSha256);
}

}  // namespace
}  // namespace kestrune
