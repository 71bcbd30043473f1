// The crypto object: selections and the selection rule, catalogues, page
// hooks, hashing and string encryption, and the password generator.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <thread>

#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/KCpassword.h"
#include "object/UKestrune.h"

namespace kestrune {
namespace {

class Context : public IKC_pagecontext {
public:
    explicit Context(bool offers) : offers_(offers) {}
    std::shared_ptr<void> QueryScriptingContext() override { return offers_ ? std::make_shared<int>(1) : nullptr; }

private:
    bool offers_;
};

TEST(Object, FreshSelectionsAndSelectionRule) {
    TKestrune k;
    EXPECT_EQ(k.GetCipherAlgorithm(), 0);
    EXPECT_EQ(k.GetHashAlgorithm(), 0);
    EXPECT_EQ(k.GetCipherMode(), 0);
    EXPECT_EQ(k.HashSize(), 128);
    EXPECT_EQ(k.MaxKeySize(), 448);
    // Codes are stored as written; unknown ones select the default rows.
    for (std::int32_t code : {20, 0, -5}) {
        k.SetCipherAlgorithm(code);
        EXPECT_EQ(k.GetCipherAlgorithm(), code);
        EXPECT_EQ(k.MaxKeySize(), 448);
    }
    k.SetHashAlgorithm(42);
    EXPECT_EQ(k.GetHashAlgorithm(), 42);
    EXPECT_EQ(k.HashString(u"abc"), k.HashString(u"abc", 0));
    EXPECT_EQ(k.HashSize(-2), 128);
    EXPECT_EQ(k.HashSize(1), 128);
}

TEST(Object, DigestSizesAndKeyLengthsFollowTheCatalogue) {
    TKestrune k;
    EXPECT_EQ(k.HashString(u"abc", 8).size(), 128u);
    EXPECT_EQ(k.HashString(u"abc", 9).size(), 48u);
    EXPECT_EQ(k.HashString(u"abc", 4).size(), 64u);
    EXPECT_EQ(k.HashSize(3), 160);
    k.SetHashAlgorithm(7);
    EXPECT_EQ(k.HashSize(), 384);
    EXPECT_EQ(k.HashSize(-1), 384);
    for (auto [code, bits] : {std::pair{9, 1248}, {12, 2048}, {13, 2048}, {14, 2048}, {11, 1024}, {4, 192}, {3, 64}, {5, 64}, {6, 64}}) {
        k.SetCipherAlgorithm(code);
        EXPECT_EQ(k.MaxKeySize(), bits) << code;
    }
    // A per-call cipher code does not change what MaxKeySize reports.
    k.SetCipherAlgorithm(3);
    (void)k.EncryptString(u"x", u"pw", 15);
    EXPECT_EQ(k.MaxKeySize(), 64);
}

TEST(Object, CipherModeIgnoresValuesOutsideTheFive) {
    TKestrune k;
    k.SetCipherMode(4);
    EXPECT_EQ(k.GetCipherMode(), 4);
    k.SetCipherMode(5);
    k.SetCipherMode(-1);
    EXPECT_EQ(k.GetCipherMode(), 4);
}

TEST(Object, OnStartPageResetsSelectionsEvenWhenItFails) {
    TKestrune k;
    k.SetCipherAlgorithm(15);
    k.SetHashAlgorithm(7);
    k.SetCipherMode(3);
    Context without(false);
    try {
        k.OnStartPage(&without);
        FAIL() << "a context without the scripting-context interface was accepted";
    } catch (const EKestrune& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Status), 0x80004002u);
    }
    EXPECT_EQ(k.GetCipherAlgorithm(), 0);
    EXPECT_EQ(k.GetHashAlgorithm(), 0);
    EXPECT_EQ(k.GetCipherMode(), 0);
    Context with(true);
    k.SetCipherAlgorithm(15);
    k.OnStartPage(&with);
    EXPECT_TRUE(k.HasScriptingContext());
    EXPECT_EQ(k.GetCipherAlgorithm(), 0);
    k.SetHashAlgorithm(1);
    k.OnEndPage();
    EXPECT_FALSE(k.HasScriptingContext());
    EXPECT_EQ(k.GetHashAlgorithm(), 1);
}

TEST(Object, HashStringIsUpperCaseHexOfTheAnsiBytes) {
    TKestrune k;
    EXPECT_EQ(k.HashString(u""), u"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(k.HashString(u"abc", 1), u"A448017AAF21D8525FC10AE87AA6729D");
    // "é" is one byte (0xE9) in Windows-1252: the digest covers that byte.
    EXPECT_EQ(k.HashString(u"\u00E9"), k.HashString(FromAnsi("\xE9")));
    // Characters outside the code page are digested as '?'.
    EXPECT_EQ(k.HashString(u"\u4E2D"), k.HashString(u"?"));
}

// Every digest size (16 to 64 bytes) spelled digit by digit.
TEST(Object, HashStringSpellsEveryDigestSize) {
    TKestrune k;
    for (std::int32_t code = 0; code <= 9; ++code) {
        for (const std::u16string text : {u"", u"abc", u"The object's text, with every byte value's nibbles"}) {
            const std::string bytes = ToAnsi(text);
            auto hash = DigestClassFor(code).Create();
            std::array<std::uint8_t, 64> digest{};
            hash->Init();
            hash->UpdateFromString(bytes);
            hash->Final(digest);
            std::u16string hex;
            for (std::size_t i = 0; i < hash->DigestBytes(); ++i)
                hex += {u"0123456789ABCDEF"[digest[i] >> 4], u"0123456789ABCDEF"[digest[i] & 15]};
            EXPECT_EQ(k.HashString(text, code), hex) << code;
        }
    }
}

TEST(Object, EveryCatalogueRowNamesItsOwnAlgorithm) {
    // Codes 1 to 19 and 1 to 9 each select a different class; no row falls
    // back to another algorithm.
    std::set<std::int32_t> cipherIds, digestIds;
    for (const auto& row : CipherCatalogue()) {
        EXPECT_TRUE(cipherIds.insert(row.algorithmClass.GetId()).second) << row.name;
        EXPECT_EQ(&CipherClassFor(row.code), &row.algorithmClass);
    }
    for (const auto& row : DigestCatalogue()) {
        EXPECT_TRUE(digestIds.insert(row.algorithmClass.GetId()).second) << row.name;
        EXPECT_EQ(&DigestClassFor(row.code), &row.algorithmClass);
    }
    EXPECT_EQ(cipherIds.size(), 20u);
    EXPECT_EQ(digestIds.size(), 10u);
    EXPECT_EQ(&CipherClassFor(20), &CipherClassFor(0));
    EXPECT_EQ(&DigestClassFor(-7), &DigestClassFor(0));
}

TEST(Object, StringRoundTripsForEveryCipherDigestAndMode) {
    const std::u16string text = u"Attack at dawn \u00E9\u20AC, twice: Attack at dawn";
    for (const auto& cipher : CipherCatalogue()) {
        for (const auto& digest : DigestCatalogue()) {
            TKestrune k;
            k.SetHashAlgorithm(digest.code);
            k.SetCipherMode(4);
            const auto sealed = k.EncryptString(text, u"secret", cipher.code);
            EXPECT_EQ(sealed.size(), (text.size() + 2) / 3 * 4);
            EXPECT_EQ(k.EncryptString(text, u"secret", cipher.code), sealed);
            k.SetCipherMode(0);  // strings do not depend on the mode
            EXPECT_EQ(k.DecryptString(sealed, u"secret", cipher.code), text) << cipher.name << "/" << digest.name;
            EXPECT_NE(k.DecryptString(sealed, u"Secret", cipher.code), text);
        }
    }
    TKestrune k;
    EXPECT_EQ(k.EncryptString(u"", u"pw"), u"");
    EXPECT_EQ(k.DecryptString(u"", u"pw"), u"");
}

// Short texts are converted on the stack, long ones on the heap: lengths on
// both sides of every likely boundary answer as the conversion and the
// framework give them directly.
TEST(Object, TextsOfEveryLengthAnswerAsTheirAnsiBytesDo) {
    TKestrune k;
    k.SetCipherAlgorithm(15);
    for (const std::size_t length : {1, 15, 16, 17, 100, 511, 512, 513, 1023, 1024, 1025, 2047, 2048, 2049, 5000}) {
        std::u16string text(length, u'x');
        for (std::size_t i = 0; i < length; i += 7) text[i] = u'\u00E9';
        const std::string bytes = ToAnsi(text);
        auto hash = DigestClassFor(0).Create();
        std::array<std::uint8_t, 16> digest{};
        hash->Init();
        hash->UpdateFromString(bytes);
        hash->Final(digest);
        std::u16string hex;
        for (const std::uint8_t b : digest) hex += {u"0123456789ABCDEF"[b >> 4], u"0123456789ABCDEF"[b & 15]};
        EXPECT_EQ(k.HashString(text, 0), hex) << length;

        auto cipher = CreateCipherFor(15);
        cipher->InitFromPassword(bytes, DigestClassFor(0));
        const std::u16string sealed = FromAnsi(cipher->EncryptString(bytes));
        EXPECT_EQ(k.EncryptString(text, text), sealed) << length;
        EXPECT_EQ(k.DecryptString(sealed, text), FromAnsi(bytes)) << length;
    }
}

TEST(Object, SharedPrefixGivesSharedCiphertextPrefix) {
    TKestrune k;
    const auto a = k.EncryptString(u"common prefix AAAA", u"pw");
    const auto b = k.EncryptString(u"common prefix BBBB", u"pw");
    EXPECT_EQ(a.substr(0, 16), b.substr(0, 16));  // 14 shared bytes: 4 * floor(14 / 3) characters
}

TEST(PasswordGenerator, StylesLengthsAndSequence) {
    TKestrune k;
    SetPasswordGeneratorState(0);
    const auto first = k.GenPassword();
    SetPasswordGeneratorState(0);
    EXPECT_EQ(k.GenPassword(), first);  // same state, same password
    EXPECT_EQ(first.size(), 8u);
    for (char16_t c : first) EXPECT_TRUE((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'));

    const auto mixed = Utf16ToUtf8(k.GenPassword(6, u"AAAaaa"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isupper(static_cast<unsigned char>(mixed[i])));
    for (int i = 3; i < 6; ++i) EXPECT_TRUE(std::islower(static_cast<unsigned char>(mixed[i])));
    const auto dashed = Utf16ToUtf8(k.GenPassword(4, u"A-0?"));
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(dashed[0])));
    EXPECT_EQ(dashed[1], '-');
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(dashed[2])));
    EXPECT_EQ(k.GenPassword(3, u"0000000").size(), 3u);
    EXPECT_EQ(k.GenPassword(0, u"abc"), u"");
    EXPECT_EQ(k.GenPassword(-3, u"abc"), u"");
    EXPECT_EQ(k.GenPassword(4, u"9Zz*"), u"9Zz*");
    // Literal characters draw nothing.
    const auto before = PasswordGeneratorState();
    (void)k.GenPassword(2, u"xy");
    EXPECT_EQ(PasswordGeneratorState(), before);
}

TEST(PasswordGenerator, ALengthBeyondTheLimitFailsAtOnceAndDrawsNothing) {
    TKestrune k;
    SetPasswordGeneratorState(12345);
    EXPECT_THROW(k.GenPassword(2147483647), std::bad_alloc);
    EXPECT_THROW(k.GenPassword(MaxPasswordLength + 1, u"0"), std::bad_alloc);
    EXPECT_EQ(PasswordGeneratorState(), 12345u);
}

TEST(PasswordGenerator, DrawsFollowTheRecurrence) {
    SetPasswordGeneratorState(0);
    // state 1, then 1 * 0x08088405 + 1.
    EXPECT_EQ(DrawRandom(10), 0u);
    EXPECT_EQ(PasswordGeneratorState(), 1u);
    const std::uint32_t next = 1u * 0x08088405u + 1u;
    EXPECT_EQ(DrawRandom(26), static_cast<std::uint32_t>((std::uint64_t{next} * 26) >> 32));
}

TEST(PasswordGenerator, ConcurrentDrawsLoseNoUpdate) {
    SetPasswordGeneratorState(0);
    constexpr int Threads = 4, Draws = 20000;
    std::vector<std::thread> pool;
    for (int t = 0; t < Threads; ++t)
        pool.emplace_back([] {
            for (int i = 0; i < Draws; ++i) DrawRandom(2);
        });
    for (auto& t : pool) t.join();
    std::uint32_t expected = 0;
    for (int i = 0; i < Threads * Draws; ++i) expected = expected * 0x08088405u + 1u;
    EXPECT_EQ(PasswordGeneratorState(), expected);
}

TEST(Codepage, Windows1252BothWays) {
    EXPECT_EQ(ToAnsi(u"\u20AC\u0081\u00FF"), "\x80\x81\xFF");
    EXPECT_EQ(FromAnsi("\x80\x9F"), u"\u20AC\u0178");
    EXPECT_EQ(ToAnsi(u"\u0416"), "?");
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<char>(i);
    EXPECT_EQ(ToAnsi(FromAnsi(all)), all);
    EXPECT_EQ(Utf8ToUtf16("h\xC3\xA9\xF0\x9F\x98\x80"), u"h\u00E9\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(u"h\u00E9\U0001F600"), "h\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong forms are not decoded
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// A password key is the digest of the password's bytes cut to the
// cipher's largest key: Blowfish with SHA-512 takes 56 bytes, RC4 all 64.
TEST(KeyDerivation, PasswordKeyIsTheDigestPrefix) {
    for (const auto& cipherRow : CipherCatalogue()) {
        for (const auto& digestRow : DigestCatalogue()) {
            const auto& digestClass = digestRow.algorithmClass;
            auto hash = digestClass.Create();
            std::vector<std::uint8_t> digest(hash->DigestBytes());
            hash->Init();
            hash->UpdateFromString("password");
            hash->Final(digest);
            const auto bits = static_cast<std::uint32_t>(
                std::min(cipherRow.algorithmClass.GetMaxKeySize(), digestClass.GetHashSize()));
            auto byPassword = cipherRow.algorithmClass.Create();
            auto byKey = cipherRow.algorithmClass.Create();
            byPassword->InitFromPassword("password", digestClass);
            byKey->Init(digest, bits);
            EXPECT_EQ(byPassword->EncryptString("some plaintext"), byKey->EncryptString("some plaintext"))
                << cipherRow.name << " with " << digestRow.name;
        }
    }
}

}  // namespace
}  // namespace kestrune
