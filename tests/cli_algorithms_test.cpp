// What users type to choose algorithms and modes.
#include <gtest/gtest.h>

#include "cli/algorithms.h"
#include "object/KCcatalogue.h"

namespace kestrune::cli {
namespace {

TEST(AlgorithmNames, EveryRowGoesByItsNameClassAndCodeInAnySpelling) {
    for (const auto& row : DigestCatalogue()) {
        EXPECT_EQ(ParseDigest(row.name), row.code) << row.name;
        EXPECT_EQ(ParseDigest(DigestClassName(row.code)), row.code) << row.name;
        EXPECT_EQ(ParseDigest(std::to_string(row.code)), row.code) << row.name;
        if (row.digestClass != nullptr) {
            EXPECT_EQ(ParseDigest(row.digestClass->GetAlgorithm()), row.code) << row.name;
        }
    }
    for (const auto& row : CipherCatalogue()) {
        EXPECT_EQ(ParseCipher(row.name), row.code) << row.name;
        EXPECT_EQ(ParseCipher(CipherClassName(row.code)), row.code) << row.name;
        if (row.cipherClass != nullptr) {
            EXPECT_EQ(ParseCipher(row.cipherClass->GetAlgorithm()), row.code) << row.name;
        }
    }
    EXPECT_EQ(ParseDigest("sha256"), 6);
    EXPECT_EQ(ParseDigest("Sha_256"), 6);
    EXPECT_EQ(ParseDigest("ripemd-160"), 3);
    EXPECT_EQ(ParseCipher("triple-des"), 4);
    EXPECT_EQ(ParseCipher("TRIPLEDES"), 4);
    EXPECT_EQ(ParseCipher("3des"), 4);
    EXPECT_EQ(ParseCipher("thin ice"), 6);
    EXPECT_EQ(ParseCipher("BLOWFISH"), 0);
}

TEST(AlgorithmNames, DigestsAndCiphersAreSeparateNamespaces) {
    EXPECT_FALSE(ParseDigest("Blowfish"));
    EXPECT_FALSE(ParseCipher("MD5"));
}

// The object's fallback for other codes is right for pages, not for a
// person who typed 42: the tool refuses them.
TEST(AlgorithmNames, OnlyTheCatalogueCodesAreCodes) {
    EXPECT_EQ(ParseDigest("0"), 0);
    EXPECT_EQ(ParseDigest("9"), 9);
    EXPECT_EQ(ParseCipher("19"), 19);
    for (const char* code : {"10", "42", "-1", "-5", "2147483647"}) EXPECT_FALSE(ParseDigest(code)) << code;
    for (const char* code : {"20", "99", "-1", "-5", "2147483647", "2147483648"}) EXPECT_FALSE(ParseCipher(code)) << code;
    EXPECT_FALSE(ParseDigest("5x"));
    EXPECT_FALSE(ParseDigest("+5"));
    EXPECT_FALSE(ParseDigest(""));
    EXPECT_FALSE(ParseDigest("-"));
    EXPECT_FALSE(ParseDigest("SHA"));
    EXPECT_FALSE(ParseDigest("AES"));
    // AES is Rijndael; its key size follows --hash, so no aes-128 or aes-256.
    EXPECT_EQ(ParseCipher("AES"), 15);
    EXPECT_EQ(ParseCipher("aes"), 15);
    EXPECT_FALSE(ParseCipher("aes-256"));
    EXPECT_FALSE(ParseCipher("aes128"));
    EXPECT_NE(CipherChoices().find("aes is Rijndael"), std::string::npos);
    EXPECT_NE(DigestChoices().find("a code from 0 to 9"), std::string::npos);
}

TEST(AlgorithmNames, ModesByNameOrNumberOnlyWithinRange) {
    const char* names[] = {"cbc", "cfb8", "cfbblock", "ofb", "ctr"};
    for (std::int32_t mode = 0; mode < 5; ++mode) {
        EXPECT_EQ(ParseMode(names[mode]), mode);
        EXPECT_EQ(ParseMode(std::to_string(mode)), mode);
        EXPECT_EQ(ModeName(mode), names[mode]);
    }
    EXPECT_EQ(ParseMode("CFB-Block"), 2);
    EXPECT_FALSE(ParseMode("5"));
    EXPECT_FALSE(ParseMode("-1"));
    EXPECT_FALSE(ParseMode("ecb"));
    EXPECT_FALSE(ParseMode(""));
}

}  // namespace
}  // namespace kestrune::cli
