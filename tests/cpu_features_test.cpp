// The processor-feature unit: what KESTRUNE_CPU turns off, and the
// in-process restriction that tests use to reach every path.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCxtea.h"
#include "framework/KCcpufeatures.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "tests/cpu_paths.h"

namespace kestrune {
namespace {

using F = CpuFeature;

TEST(CpuFeatures, SettingNamesTheFeaturesToTurnOff) {
    const CpuFeatures::Mask all = ~CpuFeatures::Mask{0};
    const struct {
        const char* setting;
        CpuFeatures::Mask off;
    } cases[] = {
        {"", 0},
        {"portable", all},
        {"PORTABLE", all},
        {"-avx2", CpuFeatures::Of(F::Avx2)},
        {"-avx2,-sha", CpuFeatures::Of(F::Avx2, F::Sha)},
        {"-sse2", CpuFeatures::Of(F::Sse2)},
        {" -aes , sse4.1", CpuFeatures::Of(F::AesNi, F::Sse41)},
        {"-aesni,-sha-ni", CpuFeatures::Of(F::AesNi, F::Sha)},
        {"-avx512f,-avx512bw,-avx512vl,-vaes", CpuFeatures::Of(F::Avx512F, F::Avx512BW, F::Avx512VL, F::Vaes)},
        {"-gfni,-avx512vbmi", CpuFeatures::Of(F::Gfni, F::Avx512Vbmi)},
        {"-sse2", CpuFeatures::Of(F::Sse2)},
        {"-neon,,-", 0},  // unknown and empty names do nothing
        {"-bmi2,portable", all},
    };
    for (const auto& c : cases) EXPECT_EQ(CpuFeatures::DisabledBy(c.setting), c.off) << c.setting;
}

TEST(CpuFeatures, RestrictionNestsAndEnds) {
    const auto before = CpuFeatures::Enabled();
    EXPECT_EQ(before & ~CpuFeatures::Detected(), 0u);
    {
        const CpuFeatures::Restriction noAvx2(~CpuFeatures::Of(F::Avx2));
        EXPECT_FALSE(CpuFeatures::Has(F::Avx2));
        EXPECT_EQ(CpuFeatures::Enabled(), before & ~CpuFeatures::Of(F::Avx2));
        {
            const CpuFeatures::Restriction none(CpuFeatures::None);
            EXPECT_EQ(CpuFeatures::Enabled(), 0u);
        }
        EXPECT_EQ(CpuFeatures::Enabled(), before & ~CpuFeatures::Of(F::Avx2));
    }
    EXPECT_EQ(CpuFeatures::Enabled(), before);
}

// With no features allowed every algorithm takes its portable path; with
// all allowed, it takes the path its features call for.
TEST(CpuFeatures, ProvidersFollowTheAllowedFeatures) {
    const bool aes = CpuFeatures::Has(F::AesNi, F::Ssse3, F::Sse41);
    const bool sha = CpuFeatures::Has(F::Sha, F::Ssse3, F::Sse41);
    const bool vaes = aes && CpuFeatures::Has(F::Vaes, F::Avx2);
    EXPECT_EQ(TKC_rijndael().Provider(), vaes ? "vaes" : aes ? "aesni" : "portable");
    EXPECT_EQ(TKC_sha256().Provider(), sha ? "sha-ni" : "portable");
    EXPECT_EQ(TKC_serpent().Provider(), CpuFeatures::Has(F::Avx512F, F::Avx2) ? "avx512"
                                        : CpuFeatures::Has(F::Avx2)             ? "avx2"
                                        : CpuFeatures::Has(F::Sse2)             ? "sse2"
                                                                                : "portable");
    {
        // A keyed instance keeps the path it was keyed on.
        TKC_serpent serpent;
        serpent.Init(std::array<std::uint8_t, 16>{}, 128);
        const std::string keyedOn(serpent.Provider());
        const CpuFeatures::Restriction none(CpuFeatures::None);
        EXPECT_EQ(serpent.Provider(), keyedOn);
    }
    const bool sse2 = CpuFeatures::Has(F::Sse2);
    EXPECT_EQ(TKC_idea().Provider(), sse2 && CpuFeatures::Has(F::Avx2) ? "avx2" : sse2 ? "sse2" : "portable");
    {
        const CpuFeatures::Restriction noAvx2(~CpuFeatures::Of(F::Avx2));
        EXPECT_EQ(TKC_idea().Provider(), sse2 ? "sse2" : "portable");
    }
    // Per-lane rotations need AVX2's variable shifts; TEA and XTEA also run in SSE2.
    const bool avx2 = CpuFeatures::Has(F::Avx2);
    for (const auto* cls : {&CipherClassOf<TKC_tea>, &CipherClassOf<TKC_xtea>}) {
        EXPECT_EQ(cls->Create()->Provider(), avx2 ? "avx2" : sse2 ? "sse2" : "portable") << cls->GetAlgorithm();
        const CpuFeatures::Restriction noAvx2(~CpuFeatures::Of(F::Avx2));
        EXPECT_EQ(cls->Create()->Provider(), sse2 ? "sse2" : "portable") << cls->GetAlgorithm();
    }
    for (const auto* cls : {&CipherClassOf<TKC_rc5>, &CipherClassOf<TKC_rc6>})
        EXPECT_EQ(cls->Create()->Provider(), avx2 ? "avx2" : "portable") << cls->GetAlgorithm();
    // The lanes with bextr exist in 64-bit builds only.
    const bool bmiLanes = sizeof(void*) == 8 && CpuFeatures::Has(F::Bmi2);
    const bool byteSlices = CpuFeatures::Has(F::Avx512F, F::Avx512BW, F::Avx512Vbmi);
    EXPECT_EQ(TKC_cast128().Provider(), byteSlices ? "avx512" : bmiLanes ? "bmi2" : "portable");
    EXPECT_EQ(TKC_cast256().Provider(), byteSlices ? "avx512" : "portable");
    EXPECT_EQ(TKC_misty1().Provider(), byteSlices ? "avx512" : "portable");
    EXPECT_EQ(TKC_blowfish().Provider(), byteSlices ? "avx512" : bmiLanes ? "bmi2" : "portable");
    EXPECT_EQ(TKC_des().Provider(), byteSlices ? "avx512" : bmiLanes ? "bmi2" : "portable");
    EXPECT_EQ(TKC_3des().Provider(), byteSlices ? "avx512" : bmiLanes ? "bmi2" : "portable");
    EXPECT_EQ(TKC_twofish().Provider(), byteSlices && CpuFeatures::Has(F::Gfni) ? "avx512" : "portable");
    const CpuFeatures::Restriction none(CpuFeatures::None);
    for (const auto* cls : {&CipherClassOf<TKC_tea>, &CipherClassOf<TKC_xtea>, &CipherClassOf<TKC_rc5>,
                            &CipherClassOf<TKC_rc6>})
        EXPECT_EQ(cls->Create()->Provider(), "portable") << cls->GetAlgorithm();
    EXPECT_EQ(TKC_rijndael().Provider(), "portable");
    EXPECT_EQ(TKC_serpent().Provider(), "portable");
    EXPECT_EQ(TKC_idea().Provider(), "portable");
    EXPECT_EQ(TKC_cast128().Provider(), "portable");
    EXPECT_EQ(TKC_blowfish().Provider(), "portable");
    EXPECT_EQ(TKC_des().Provider(), "portable");
    EXPECT_EQ(TKC_3des().Provider(), "portable");
    EXPECT_EQ(TKC_twofish().Provider(), "portable");
    EXPECT_EQ(TKC_cast256().Provider(), "portable");
    EXPECT_EQ(TKC_misty1().Provider(), "portable");
    EXPECT_EQ(TKC_sha256().Provider(), "portable");
    EXPECT_EQ(TKC_sha512().Provider(), "portable");
}

// CTest also runs this suite with KESTRUNE_CPU=portable and =-avx2.
TEST(CpuFeatures, EnvironmentTurnsFeaturesOff) {
    const char* setting = std::getenv("KESTRUNE_CPU");
    const auto off = setting ? CpuFeatures::DisabledBy(setting) : CpuFeatures::None;
    EXPECT_EQ(CpuFeatures::Enabled(), CpuFeatures::Detected() & ~off);
}

// The path tests see every path: the accelerated one where it runs, and
// always the portable one.
TEST(CpuFeatures, PathListsHoldEveryPathOnce) {
    const auto names = [](const std::vector<test::CpuPath>& paths) {
        std::vector<std::string> n;
        for (const auto& p : paths) n.push_back(p.provider);
        return n;
    };
    using Names = std::vector<std::string>;
    const bool avx2 = CpuFeatures::Has(F::Avx2, F::Bmi2) && TKC_sha512().Provider() == "avx2";
    const Names sha512 = avx2 ? Names{"avx2", "portable"} : Names{"portable"};
    EXPECT_EQ(names(test::CpuPathsOf([] { return TKC_sha512().Provider(); })), sha512);
    const bool aes = CpuFeatures::Has(F::AesNi, F::Ssse3, F::Sse41);
    const bool vaes = aes && CpuFeatures::Has(F::Vaes, F::Avx2);
    // Dropping AES-NI alone comes before dropping VAES or AVX2 alone.
    const Names rijndael = vaes ? Names{"vaes", "portable", "aesni"} : aes ? Names{"aesni", "portable"} : Names{"portable"};
    EXPECT_EQ(names(test::CpuPathsOf([] { return TKC_rijndael().Provider(); })), rijndael);
    // Dropping AVX2 leaves the SSE2 path (AVX-512's needs AVX2 too), and
    // comes before dropping AVX-512 alone, which leaves AVX2's.
    const bool avx512 = CpuFeatures::Has(F::Avx512F, F::Avx2);
    Names serpent;
    if (CpuFeatures::Has(F::Avx2)) serpent.push_back(avx512 ? "avx512" : "avx2");
    if (CpuFeatures::Has(F::Sse2)) serpent.push_back("sse2");
    if (avx512) serpent.push_back("avx2");
    serpent.push_back("portable");
    EXPECT_EQ(names(test::CpuPathsOf([] { return TKC_serpent().Provider(); })), serpent);
    // Dropping any of the byte slices' features leaves the bmi2 groups.
    Names cast128;
    if (CpuFeatures::Has(F::Avx512F, F::Avx512BW, F::Avx512Vbmi)) cast128.push_back("avx512");
    if (sizeof(void*) == 8 && CpuFeatures::Has(F::Bmi2)) cast128.push_back("bmi2");
    cast128.push_back("portable");
    EXPECT_EQ(names(test::CpuPathsOf([] { return TKC_cast128().Provider(); })), cast128);
}

}  // namespace
}  // namespace kestrune
