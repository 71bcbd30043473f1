// What users type to choose algorithms and modes.
#include <gtest/gtest.h>

#include <sstream>

#include "ciphers/KCblowfish.h"
#include "cli/algorithms.h"
#include "cli/commands.h"
#include "object/KCcatalogue.h"

namespace kestrune::cli {
namespace {

TEST(AlgorithmNames, EveryRowGoesByItsNameClassAndCodeInAnySpelling) {
    for (const auto& row : DigestCatalogue()) {
        EXPECT_EQ(ParseDigest(row.name), row.code) << row.name;
        EXPECT_EQ(ParseDigest(row.className), row.code) << row.name;
        EXPECT_EQ(DigestClassName(row.code), row.className);
        EXPECT_EQ(ParseDigest(std::to_string(row.code)), row.code) << row.name;
        EXPECT_EQ(ParseDigest(row.algorithmClass.GetAlgorithm()), row.code) << row.name;
    }
    for (const auto& row : CipherCatalogue()) {
        EXPECT_EQ(ParseCipher(row.name), row.code) << row.name;
        EXPECT_EQ(ParseCipher(row.className), row.code) << row.name;
        EXPECT_EQ(CipherClassName(row.code), row.className);
        EXPECT_EQ(ParseCipher(row.algorithmClass.GetAlgorithm()), row.code) << row.name;
        for (const auto& alias : Aliases(row)) EXPECT_EQ(ParseCipher(alias), row.code) << alias;
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

// An algorithm added here, not shipped: its unit (the class), its vector
// (in its self-test) and one row are all it takes to be looked up by code
// and name, listed and self-tested.
class TKC_toy final : public TKC_blockcipher64 {
public:
    static constexpr std::int32_t ClassId = 99;
    static constexpr std::string_view ClassAlgorithm = "Toy";
    static constexpr std::int32_t ClassMaxKeySize = 64;
    static bool SelfTest() {
        const std::array<std::uint8_t, 8> key = {1, 2, 3, 4, 5, 6, 7, 8};
        std::array<std::uint8_t, 8> block = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
        TKC_toy toy;
        toy.Init(key, 64);
        toy.EncryptBlock(block, block);
        return block == std::array<std::uint8_t, 8>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    }
    const TKC_cipherclass& Class() const noexcept override { return CipherClassOf<TKC_toy>; }
    void Wipe() noexcept override { WipeAll(Key); TKC_blockcipher64::Wipe(); }

protected:
    void ScheduleKey(ConstBytes key, std::uint32_t keyBits) override {
        std::copy_n(key.begin(), keyBits / 8, Key.begin());
    }
    void EncryptBlocks(ConstBytes source, Bytes dest) const noexcept override {
        for (std::size_t i = 0; i < source.size(); ++i) dest[i] = source[i] ^ Key[i % 8];
    }
    void DecryptBlocks(ConstBytes source, Bytes dest) const noexcept override { EncryptBlocks(source, dest); }

private:
    Wiped<std::array<std::uint8_t, 8>, 0> Key;
};

constexpr TKC_cipherrow ToyCiphers[] = {
    {1, "Toy", "TKC_toy", CipherClassOf<TKC_toy>, "plaything"},
    {0, "Blowfish", "TKC_blowfish", CipherClassOf<TKC_blowfish>},
};
static_assert(IsWellFormed(std::span<const TKC_cipherrow>(ToyCiphers)));

TEST(AlgorithmTable, ARowIsAllANewAlgorithmNeeds) {
    const std::span<const TKC_cipherrow> rows(ToyCiphers);
    EXPECT_EQ(RowFor(rows, 1).name, "Toy");
    EXPECT_EQ(RowFor(rows, 7).name, "Blowfish");  // the default row
    for (const char* name : {"toy", "TKC_toy", "TOY", "plaything", "1"}) EXPECT_EQ(ParseCipher(name, rows), 1) << name;
    EXPECT_FALSE(ParseCipher("2", rows));
    EXPECT_FALSE(ParseCipher("Rijndael", rows));
    EXPECT_EQ(CipherChoices(rows), "Toy, Blowfish or a code from 0 to 1; plaything is Toy");

    std::ostringstream list, json, selfTest;
    WriteCatalogue(list, {}, rows);
    EXPECT_NE(list.str().find("Ciphers (--cipher NAME or CODE, in any case, or plaything for Toy; sizes in bits)\n"
                              "code  name      class         algorithm  block  max key  id\n"
                              "   1  Toy       TKC_toy       Toy           64       64  99\n"),
              std::string::npos)
        << list.str();
    WriteCatalogueJson(json, {}, rows);
    EXPECT_NE(json.str().find(R"("aliases": [
        "plaything"
      ])"),
              std::string::npos)
        << json.str();
    EXPECT_EQ(RunSelfTest(selfTest, {}, rows), 0);
    EXPECT_NE(selfTest.str().find("cipher  Toy       TKC_toy       ok\n"), std::string::npos) << selfTest.str();

    // The object's framework drives it from its class reference like any cipher.
    const auto toy = RowFor(rows, 1).algorithmClass.Create();
    toy->InitFromPassword("password", DigestClassFor(0));
    const std::string sealed = toy->EncryptString("attack at dawn");
    toy->InitFromPassword("password", DigestClassFor(0));
    EXPECT_EQ(toy->DecryptString(sealed), "attack at dawn");
}

}  // namespace
}  // namespace kestrune::cli
