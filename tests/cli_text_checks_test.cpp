// What the tool refuses or warns about before the object turns text into
// garbage: Base64 that encrypt-string would not write, and characters that
// the code page replaces.
#include <gtest/gtest.h>

#include "cli/text_checks.h"
#include "object/UKestrune.h"

namespace kestrune::cli {
namespace {

TEST(Base64Check, OnlyWhatEncryptStringWritesPasses) {
    for (const char16_t* text : {u"", u"eA==", u"eHk=", u"eHl6", u"PentbAA=", u"+/+/", u"md1FyqOWeqAKWdqJ+zk="})
        EXPECT_EQ(Base64Problem(text), std::nullopt) << std::u16string_view(text).size();
    const std::pair<const char16_t*, const char*> refused[] = {
        {u"PentbAA", "not a multiple of 4"},      // padding lost
        {u"not base64!!", "character 4 is a space"},
        {u"eA==eA==", "character 5 follows the '=' padding"},
        {u"eA=A", "character 4 follows the '=' padding"},
        {u"e===", "more than two '='"},
        {u"eB==", "bits that no byte uses"},  // decodes as "eA==" does
        {u"eHl=", "bits that no byte uses"},
        {u"eA-_", "character 3 is not in the Base64 alphabet"},
        {u"eHl6\n", "character 5 is a space or line break"},
        {u"ZcOk\u00e4", "character 5 is not in the Base64 alphabet"},
    };
    for (const auto& [text, problem] : refused) {
        const auto found = Base64Problem(text);
        ASSERT_TRUE(found.has_value()) << problem;
        EXPECT_NE(found->find(problem), std::string::npos) << *found;
    }
    // Every ciphertext the object writes passes.
    const TKestrune object;
    std::u16string text;
    for (int n = 0; n < 40; ++n, text.push_back(static_cast<char16_t>(u'a' + n % 26)))
        EXPECT_EQ(Base64Problem(object.EncryptString(text, u"pw")), std::nullopt) << n;
}

TEST(CodePageCheck, ReplacedCharactersAreNamedOnceInOrder) {
    EXPECT_TRUE(ReplacedCharacters(u"plain ASCII, Grüße, € and œ").empty());
    EXPECT_EQ(ReplacedCharacters(u"\u0100\u20ac\U0001F600\u0100x"), (std::vector<char32_t>{0x100, 0x1F600}));
    EXPECT_EQ(ReplacedCharacters(u"\xD800 lone"), std::vector<char32_t>{0xD800});
    EXPECT_EQ(ReplacementWarning(u"fine", "the text"), std::nullopt);
    EXPECT_EQ(ReplacementWarning(u"\u0100\u20ac\U0001F600", "the text"),
              "warning: 2 characters of the text have no equivalent in Windows-1252 and were replaced: "
              "'\u0100' (U+0100), '\U0001F600' (U+1F600)");
    // A secret's characters are counted, never shown.
    EXPECT_EQ(ReplacementWarning(u"p\u0100ss", "the password", true),
              "warning: 1 character of the password has no equivalent in Windows-1252 and was replaced");
    std::u16string many;
    for (char16_t c = 0x100; c < 0x10C; ++c) many.push_back(c);
    EXPECT_NE(ReplacementWarning(many, "the text")->find("(U+0109) and 2 more"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::cli
