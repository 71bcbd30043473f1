// The portable Windows-1252 converter: best-fit characters, surrogates, and
// its decoding table against an independent one (Python's cp1252 codec).
#include <gtest/gtest.h>

#include "object/KCcodepage.h"
#include "object/KCcodepage_bestfit.inc"
#include "object/KCcodepage_tables.inc"
#include "object/UKestrune.h"

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

}  // namespace
}  // namespace kestrune
