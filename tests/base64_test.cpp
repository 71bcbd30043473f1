// The Base64 codec: published vectors, and the fixed decoding rules for
// malformed text that stored ciphertexts may depend on.
#include <gtest/gtest.h>

#include "framework/KCbase64.h"
#include "tests/vectors.h"

namespace kestrune {
namespace {

std::string AsString(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(Base64, PublishedVectorsBothWays) {
    const auto records = test::RecordsFor("base64.vec", "Base64");
    ASSERT_FALSE(records.empty());
    for (const auto& rec : records) {
        const std::string bytes = AsString(rec.Bytes("In"));
        EXPECT_EQ(EncodeBase64String(bytes), rec.fields.at("Out")) << rec.Where();
        EXPECT_EQ(DecodeBase64String(rec.fields.at("Out")), bytes) << rec.Where();
    }
}

TEST(Base64, EncodedLengthAndNoLineBreaks) {
    for (std::size_t n : {0, 1, 2, 3, 4, 5, 6, 57, 58, 1000}) {
        const std::string text = EncodeBase64String(std::string(n, '\xA5'));
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(DecodeBase64String(text), std::string(n, '\xA5'));
    }
}

// Every 12-bit value in both halves of a group, against the encoding six
// bits at a time.
TEST(Base64, EveryTwelveBitsEncodeAsTheirSixBitCharacters) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes, expected;
    for (std::uint32_t v = 0; v < 4096; ++v) {
        const std::uint32_t group = v << 12 | (4095 - v);
        for (const int shift : {16, 8, 0}) bytes += static_cast<char>(group >> shift);
        for (const int shift : {18, 12, 6, 0}) expected += Alphabet[(group >> shift) & 63];
    }
    EXPECT_EQ(EncodeBase64String(bytes), expected);
    EXPECT_EQ(DecodeBase64String(expected), bytes);
}

TEST(Base64, TrailingPartialGroupIsIgnored) {
    EXPECT_EQ(DecodeBase64String("Zm9v"), "foo");
    EXPECT_EQ(DecodeBase64String("Zm9vY"), "foo");
    EXPECT_EQ(DecodeBase64String("Zm9vYmE"), "foo");
    EXPECT_EQ(DecodeBase64String("Zm9"), "");
}

TEST(Base64, PaddingShortensOnlyItsOwnGroup) {
    EXPECT_EQ(DecodeBase64String("Zg=xZm9v"), "ffoo");  // third '=' gives 1 byte, whatever the fourth
    EXPECT_EQ(DecodeBase64String("Zg==Zm9v"), "ffoo");
    EXPECT_EQ(DecodeBase64String("Zm8=Zm9v"), "fofoo");
}

TEST(Base64, ForeignCharacterKeepsValueOfPreviousGroup) {
    // Position 1 of the second group repeats 'm' from the first group.
    EXPECT_EQ(DecodeBase64String("Zm9vZ!9v"), DecodeBase64String("Zm9vZm9v"));
    // A line break is a character: it shifts the groups.
    EXPECT_NE(DecodeBase64String("Zm9v\nZm9v"), "foofoo");
    // In the first group a foreign character counts as value 0.
    EXPECT_EQ(DecodeBase64String("!m9v"), DecodeBase64String("Am9v"));
}

}  // namespace
}  // namespace kestrune
