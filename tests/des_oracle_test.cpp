// DES and Triple DES against libgcrypt in every mode over many blocks: the
// published vectors cover one block, and the four-block groups, the AVX-512
// sets and the serial modes' chaining value kept in permuted form would
// otherwise be checked only against each other.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "ciphers/KCdes.h"
#include "tests/block_oracle.h"
#include "tests/cpu_paths.h"
#include "tests/gcrypt_oracle.h"

namespace kestrune {
namespace {

// 149 blocks: two sets of sixty-four, groups of four and single blocks in
// one call; cut after five blocks, the sets and groups fall elsewhere in
// each call. On every path the processor runs.
TEST(Des, EveryModeMatchesLibgcryptOverManyBlocks) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto data = test::RandomBytes(8 * 149, 71);
    const auto iv = test::RandomBytes(8, 72);
    const auto key = test::RandomBytes(24, 73);
    const std::vector<std::uint8_t> desKey(key.begin(), key.begin() + 8);
    for (const auto& path : test::CpuPathsOf([] { return TKC_3des().Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        for (const auto& m : test::GcryptModes) {
            for (const std::size_t cut : {std::size_t{0}, std::size_t{8 * 5}}) {
                const auto where = "mode " + std::to_string(static_cast<int>(m.ours)) + ", cut " + std::to_string(cut);
                test::ExpectLibgcryptAnswer<TKC_des>(GCRY_CIPHER_DES, m, desKey, iv, data, cut, "DES, " + where);
                test::ExpectLibgcryptAnswer<TKC_3des>(GCRY_CIPHER_3DES, m, key, iv, data, cut, "3DES, " + where);
            }
        }
    }
}

// CFB-8 encryption writes its output eight bytes at a time from the
// register: calls of every length up to 17, into a separate buffer, one
// after another must give libgcrypt's stream.
TEST(Des, Cfb8EncryptionInCallsOfEveryLengthMatchesLibgcrypt) {
    ASSERT_NE(gcry_check_version(nullptr), nullptr);
    const auto data = test::RandomBytes(18 * 17 / 2, 74);
    const auto iv = test::RandomBytes(8, 75);
    const auto key = test::RandomBytes(24, 76);
    const auto check = [&]<typename Cipher>(int algo, std::size_t keyBytes, const char* what) {
        const std::vector<std::uint8_t> k(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(keyBytes));
        Cipher ours;
        ours.Init(k, static_cast<std::uint32_t>(8 * keyBytes), iv);
        std::vector<std::uint8_t> out(data.size());
        for (std::size_t off = 0, n = 0; off < data.size(); off += n++)
            ours.EncryptCFB8bit(ConstBytes(data).subspan(off, n), Bytes(out).subspan(off, n));
        EXPECT_EQ(test::ToHex(out), test::ToHex(test::LibgcryptEncrypt(algo, GCRY_CIPHER_MODE_CFB8, k, iv, data))) << what;
    };
    for (const auto& path : test::CpuPathsOf([] { return TKC_3des().Provider(); })) {
        const CpuFeatures::Restriction only(path.allowed);
        SCOPED_TRACE(path.provider);
        check.operator()<TKC_des>(GCRY_CIPHER_DES, 8, "DES");
        check.operator()<TKC_3des>(GCRY_CIPHER_3DES, 24, "3DES");
    }
}

}  // namespace
}  // namespace kestrune
