// The portable Windows-1252 converter against the platform's own, for every
// UTF-16 code unit and every byte; and the object's conversion through the
// ANSI code page when that is 1252.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "object/KCcodepage.h"

namespace kestrune {
namespace {

std::string Platform(const std::u16string& text, UINT codePage = 1252) {
    if (text.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(codePage, 0, units, length, nullptr, 0, nullptr, nullptr)), '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(codePage, 0, units, length, out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::u16string Platform(const std::string& text, UINT codePage = 1252) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    std::u16string out(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0)), u'\0');
    out.resize(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, text.data(), length,
                                                            reinterpret_cast<wchar_t*>(out.data()),
                                                            static_cast<int>(out.size()))));
    return out;
}

std::u16string EveryCodeUnit() {
    std::u16string all(0x10000, u'\0');
    for (std::size_t u = 0; u < all.size(); ++u) all[u] = static_cast<char16_t>(u);
    return all;
}

std::string EveryByte() {
    std::string all(256, '\0');
    for (std::size_t b = 0; b < all.size(); ++b) all[b] = static_cast<char>(b);
    return all;
}

TEST(CodepagePlatform, PortableEqualsPlatformForEveryCodeUnitAndByte) {
    for (char32_t u = 0; u < 0x10000; ++u) {
        const std::u16string unit(1, static_cast<char16_t>(u));
        ASSERT_EQ(ToCp1252(unit), Platform(unit)) << std::hex << "U+" << static_cast<unsigned>(u);
    }
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        ASSERT_EQ(FromCp1252(byte), Platform(byte)) << std::hex << "byte " << b;
    }
    // In one piece too, where neighbours could matter (DBFF DC00 is a pair).
    EXPECT_EQ(ToCp1252(EveryCodeUnit()), Platform(EveryCodeUnit()));
    EXPECT_EQ(FromCp1252(EveryByte()), Platform(EveryByte()));
}

TEST(CodepagePlatform, SurrogatesPairedOrNotConvertAsThePlatformDoes) {
    for (const std::u16string& text : {std::u16string(u"\U0001F600"), std::u16string(u"a\xD83D"), std::u16string(u"\xDE00z"),
                                       std::u16string(u"\xDE00\xD83D"), std::u16string(u"\xD800\xD800\xDC00\xDC00")}) {
        EXPECT_EQ(ToCp1252(text), Platform(text));
    }
    // Random text rich in surrogates, combining marks and best-fit letters.
    std::mt19937 random(7);
    const char16_t pool[] = {u'a', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 0x0301, 0x0100, 0x20AC, 0xFF21, 0x4E2D};
    for (int round = 0; round < 2000; ++round) {
        std::u16string text(random() % 12, u'\0');
        for (auto& c : text) c = pool[random() % std::size(pool)];
        ASSERT_EQ(ToCp1252(text), Platform(text));
    }
}

TEST(CodepagePlatform, ObjectConvertsThroughTheAnsiCodePage) {
    const std::u16string sample = u"caf\u00E9 \u0100 \u20AC \U0001F600 \u4E2D";
    EXPECT_EQ(ToAnsi(sample), Platform(sample, CP_ACP));
    EXPECT_EQ(FromAnsi(EveryByte()), Platform(EveryByte(), CP_ACP));
    EXPECT_EQ(ToAnsi(u""), "");
    EXPECT_EQ(FromAnsi(""), u"");
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    // With 1252 the object on Windows gives the bytes the portable one gives.
    EXPECT_EQ(ToAnsi(EveryCodeUnit()), ToCp1252(EveryCodeUnit()));
    EXPECT_EQ(FromAnsi(EveryByte()), FromCp1252(EveryByte()));
}

}  // namespace
}  // namespace kestrune
