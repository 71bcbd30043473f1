// The portable Windows-1252 converter: best-fit characters, surrogates, and
// its decoding table against an independent one (Python's cp1252 codec).
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "object/KCcodepage.h"
#include "object/KCcodepage_bestfit.inc"
#include "object/KCcodepage_tables.inc"
#include "object/UKestrune.h"
#include "tools/bestfit/conversion_dump.h"

namespace kestrune {
namespace {

TEST(Codepage, BestFitCharactersBeforeQuestionMark) {
    EXPECT_EQ(ToCp1252(u"\u0100\u0141\u00F3d\u017A"), "AL\xF3" "dz");  // Ā Ł ó d ź
    EXPECT_EQ(ToCp1252(u"e\u0301"), "e\xB4");                        // combining acute: the accent alone
    EXPECT_EQ(ToCp1252(u"\uFF21\u2013\u201C"), "A\x96\x93");          // fullwidth A, en dash, quote
    EXPECT_EQ(ToCp1252(u"\u2260\u4E2D\u0416"), "???");                 // nothing fits
    EXPECT_EQ(ToCp1252(u"?"), "?");
}

TEST(Codepage, SurrogatesConvertUnitByUnit) {
    EXPECT_EQ(ToCp1252(u"\U0001F600"), "??");
    EXPECT_EQ(ToCp1252(u"a\xD83D"), "a?");
    EXPECT_EQ(ToCp1252(u"\xDE00z"), "?z");
    EXPECT_EQ(ToCp1252(u"\xDE00\xD83D"), "??");
}

TEST(Codepage, DecodingAgreesWithAnIndependentTableAndEveryByteRoundTrips) {
    EXPECT_EQ(tables::Cp1252Decoding, tables::Cp1252ToUnicode);
    std::string all(256, '\0');
    for (std::size_t b = 0; b < all.size(); ++b) all[b] = static_cast<char>(b);
    EXPECT_EQ(ToCp1252(FromCp1252(all)), all);
    EXPECT_EQ(FromCp1252("\x80\x81\x9F"), u"\u20AC\u0081\u0178");
}

TEST(Codepage, ObjectDigestsWhatTheConversionPutsInPlace) {
    // Where the ANSI code page is 1252: everywhere but on Windows set otherwise.
    if (ToAnsi(u"\u20AC") != "\x80") GTEST_SKIP() << "ANSI code page is not 1252";
    TKestrune k;
    EXPECT_EQ(k.HashString(u"\u0100\u0301"), k.HashString(u"A\u00B4"));
    EXPECT_EQ(k.HashString(u"\U0001F600"), k.HashString(u"??"));
}

std::map<unsigned, std::string> ReferenceDumps() {
    std::ifstream file(KESTRUNE_TEST_DATA "/codepage_dumps.txt");
    std::map<unsigned, std::string> digests;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        unsigned page = 0;
        std::string digest;
        fields >> page >> digest;
        digests[page] = digest;
    }
    return digests;
}

// Every code unit, every byte and every two bytes, as Wine converts them
// (reference recorded by tools/bestfit under Wine).
TEST(CodepagePages, EveryPageConvertsAsWineDoes) {
    const auto reference = ReferenceDumps();
    ASSERT_EQ(reference.size(), SupportedCodePages().size());
    for (const unsigned page : SupportedCodePages()) {
        const bool doubleByte = page >= 932 && page <= 950;
        const std::string dump = tools::ConversionDump(
            doubleByte, [&](const std::u16string& text) { return ToCodePage(page, text); },
            [&](const std::string& text) { return FromCodePage(page, text); });
        EXPECT_EQ(tools::Sha256Hex(dump), reference.at(page)) << "code page " << page;
    }
}

TEST(CodepagePages, TextInContext) {
    struct Case {
        unsigned page;
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {1251, u"\u041F\u0440\u0438\u0432\u0435\u0442 \u20AC", "\xCF\xF0\xE8\xE2\xE5\xF2 \x88"},
        {1253, u"\u03A9\u03BC\u03AD\u03B3\u03B1", "\xD9\xEC\xDD\xE3\xE1"},
        {1250, u"\u0141\u00F3d\u017A", "\xA3\xF3" "d\x9F"},
        {874, u"\u0E01\u0E02", "\xA1\xA2"},
        {932, u"\u65E5\u672C\u8A9E\uFF76a", "\x93\xFA\x96\x7B\x8C\xEA\xB6" "a"},
        {936, u"\u4E2D\u6587", "\xD6\xD0\xCE\xC4"},
        {949, u"\uD55C\uAE00", "\xC7\xD1\xB1\xDB"},
        {950, u"\u4E2D\u6587", "\xA4\xA4\xA4\xE5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToCodePage(c.page, c.text), c.bytes) << c.page;
        EXPECT_EQ(FromCodePage(c.page, c.bytes), c.text) << c.page;
    }
    // A lead byte that ends the text, or meets a NUL, converts on its own.
    EXPECT_EQ(FromCodePage(932, "a\x93").size(), 2u);
    EXPECT_EQ(FromCodePage(932, std::string("\x93\0b", 3)).size(), 3u);
    EXPECT_EQ(ToCodePage(932, u"\U0001F600"), "??");
}

// ASCII goes through in runs, everything else unit by unit: texts that mix
// them at every offset of a run convert as their units do one by one, pairs
// included.
TEST(CodepagePages, LongTextsConvertAsTheirUnitsDo) {
    for (const unsigned page : SupportedCodePages()) {
        // Units the page has, as single bytes and as pairs, and one it lacks.
        std::vector<std::u16string> others = {u"\u4E2D", u"\U0001F600"};
        for (const char* bytes : {"\x80", "\xA4", "\xC7", "\xE9", "\xFE", "\x93\xFA", "\xA4\xA4", "\xB1\xDB"})
            others.push_back(FromCodePage(page, bytes));
        std::u16string text;
        std::string encoded;
        std::u16string decoded;
        for (std::size_t i = 0; i < 120; ++i) {
            const std::u16string ascii(i % 37, static_cast<char16_t>(u' ' + i % 95));
            const std::u16string& other = others[i % others.size()];
            for (const std::u16string* part : {&ascii, &other}) {
                text += *part;
                for (const char16_t unit : *part) {
                    const std::string bytes = ToCodePage(page, std::u16string(1, unit));
                    encoded += bytes;
                    decoded += FromCodePage(page, bytes);
                }
            }
        }
        EXPECT_EQ(ToCodePage(page, text), encoded) << page;
        EXPECT_EQ(FromCodePage(page, encoded), decoded) << page;
        for (std::size_t cut = 1; cut < 40; ++cut) {  // every offset against the runs
            const std::size_t bytes = ToCodePage(page, text.substr(0, cut)).size();
            const std::size_t units = FromCodePage(page, encoded.substr(0, bytes)).size();
            EXPECT_EQ(ToCodePage(page, text.substr(cut)), encoded.substr(bytes)) << page << " from " << cut;
            EXPECT_EQ(FromCodePage(page, encoded.substr(bytes)), decoded.substr(units)) << page << " from " << cut;
        }
    }
}

// ASCII is narrowed sixteen, eight and four units at a time: short texts
// with one other unit at every place convert as their units do one by one,
// into a string and into a buffer. The other units sit where a narrowing
// step that saturates or wraps would mistake them for ASCII.
TEST(CodepagePages, AsciiGroupsMeetOtherUnitsAtEveryPlace) {
    constexpr char16_t Others[] = {0x0080, 0x00FF, 0x0100, 0x7F80, 0x8000, 0xFF7F, 0xFFFF};
    for (const unsigned page : SupportedCodePages()) {
        for (std::size_t length = 0; length <= 33; ++length) {
            std::u16string ascii(length, u'\0');
            for (std::size_t k = 0; k < length; ++k) ascii[k] = static_cast<char16_t>((k * 37 + 1) % 0x80);
            for (std::size_t place = 0; place <= length; ++place) {  // length: ASCII only
                for (const char16_t other : Others) {
                    std::u16string text = ascii;
                    if (place < length) text[place] = other;
                    std::string expected;
                    for (const char16_t unit : text) expected += ToCodePage(page, std::u16string(1, unit));
                    std::array<char, 80> buffer{};
                    const auto size = ToCodePage(page, text, buffer);
                    ASSERT_EQ(ToCodePage(page, text), expected) << page << " length " << length << " at " << place;
                    ASSERT_EQ(size, expected.size()) << page << " length " << length << " at " << place;
                    ASSERT_EQ(std::string(buffer.data(), *size), expected) << page << " length " << length << " at " << place;
                    if (place == length) break;
                }
            }
        }
    }
}

// Into a caller's buffer: the same bytes when they fit, and nothing
// written when they do not (by one byte, also on pages with pairs).
TEST(CodepagePages, BufferGetsTheSameBytesOrNothing) {
    const std::u16string texts[] = {u"", u"plain ASCII, longer than one run of units", u"\u00E9\u20AC\u0416\u03A9",
                                    u"\u65E5\u672C\u8A9E and \uD55C\uAE00 \u4E2D\u6587 \U0001F600"};
    for (const unsigned page : SupportedCodePages()) {
        for (const auto& text : texts) {
            const std::string bytes = ToCodePage(page, text);
            std::string buffer(bytes.size() + 1, 'X');
            EXPECT_EQ(ToCodePage(page, text, buffer), bytes.size()) << page;
            EXPECT_EQ(buffer, bytes + 'X') << page;
            if (bytes.empty()) continue;
            std::string tight(bytes.size() - 1, 'X');
            EXPECT_EQ(ToCodePage(page, text, tight), std::nullopt) << page;
            EXPECT_EQ(tight, std::string(bytes.size() - 1, 'X')) << page;
        }
    }
    std::array<char, 8> buffer{};
    EXPECT_THROW(ToCodePage(437, u"a", buffer), std::invalid_argument);
}

TEST(CodepagePages, UnsupportedPagesAreRefusedByName) {
    for (const char* text : {"437", "65001", "0", "", "1252x", "-1251", "99999999"}) {
        try {
            ParseCodePage(text);
            ADD_FAILURE() << text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("874, 932, 936, 949, 950, 1250, 1251, 1252"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(ParseCodePage("1251"), 1251u);
    EXPECT_THROW(ToCodePage(437, u"a"), std::invalid_argument);
    EXPECT_THROW(FromCodePage(20127, "a"), std::invalid_argument);
}

// Elsewhere than on Windows, where the calling thread's locale chooses
// (codepage_win32_test.cpp).
#ifndef _WIN32

// The setting that ToAnsi follows; restored for the tests that follow.
TEST(CodepagePages, ObjectFollowsTheChosenCodePage) {
    EXPECT_THROW(SetAnsiCodePage(437), std::invalid_argument);
    const unsigned before = AnsiCodePage();
    TKestrune k;
    const std::u16string password = u"\u041F\u0430\u0440\u043E\u043B\u044C";  // "Пароль"
    SetAnsiCodePage(1251);
    EXPECT_EQ(AnsiCodePage(), 1251u);
    EXPECT_EQ(ToAnsi(password), "\xCF\xE0\xF0\xEE\xEB\xFC");
    const std::u16string cyrillic = k.HashString(password, 0);
    SetAnsiCodePage(932);
    const std::u16string sealed = k.EncryptString(u"\u65E5\u672C", u"pw", 0);
    EXPECT_EQ(k.DecryptString(sealed, u"pw", 0), u"\u65E5\u672C");
    EXPECT_EQ(sealed.size(), 8u);  // Base64 of the four bytes 93 FA 96 7B
    SetAnsiCodePage(1252);
    EXPECT_EQ(k.HashString(u"\u00CF\u00E0\u00F0\u00EE\u00EB\u00FC", 0), cyrillic);  // the same bytes
    EXPECT_NE(k.HashString(password, 0), cyrillic);
    SetAnsiCodePage(before);
}

// Run by ctest with KESTRUNE_CODEPAGE set (tests/CMakeLists.txt); plain
// runs see the default.
TEST(CodepageEnvironment, VariableChoosesThePageOrFailsEveryCall) {
    const char* setting = std::getenv("KESTRUNE_CODEPAGE");
    const std::string value = setting ? setting : "";
    TKestrune k;
    if (value.empty()) {
        EXPECT_EQ(AnsiCodePage(), 1252u);
    } else if (value == "1251") {
        EXPECT_EQ(AnsiCodePage(), 1251u);
        EXPECT_EQ(ToAnsi(u"\u0416"), "\xC6");
    } else {
        try {
            AnsiCodePage();
            ADD_FAILURE() << "no error for KESTRUNE_CODEPAGE=" << value;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()).rfind("KESTRUNE_CODEPAGE: code page '" + value + "' is not supported", 0), 0u)
                << e.what();
        }
        // A failed call, not an empty digest reported as success.
        EXPECT_THROW(k.HashString(u"abc", 0), std::invalid_argument);
        EXPECT_THROW(k.EncryptString(u"abc", u"pw", 0), std::invalid_argument);
        // The program's own choice still works.
        SetAnsiCodePage(1252);
        EXPECT_EQ(k.HashString(u"abc", 0), u"900150983CD24FB0D6963F7D28E17F72");
    }
}
#endif

}  // namespace
}  // namespace kestrune
