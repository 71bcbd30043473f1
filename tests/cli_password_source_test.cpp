// Where the tool finds a password, and in which order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/password_source.h"

namespace kestrune::cli {
namespace {

namespace fs = std::filesystem;

class PasswordSource : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-password-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        if (const char* value = std::getenv(DefaultPasswordVariable)) saved = value;
        ::unsetenv(DefaultPasswordVariable);
    }
    void TearDown() override {
        fs::remove_all(dir);
        if (saved)
            ::setenv(DefaultPasswordVariable, saved->c_str(), 1);
        else
            ::unsetenv(DefaultPasswordVariable);
        ::unsetenv("KESTRUNE_TEST_PASSWORD");
    }
    std::string File(const std::string& content) {
        const auto path = (dir / ("p" + std::to_string(++files))).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    fs::path dir;
    int files = 0;
    std::optional<std::string> saved;
};

TEST_F(PasswordSource, FileGivesItsFirstLineWithoutTheLineBreak) {
    EXPECT_EQ(ReadPasswordFile(File("secret\nsecond line\n")).View(), u"secret");
    EXPECT_EQ(ReadPasswordFile(File("secret\r\n")).View(), u"secret");
    EXPECT_EQ(ReadPasswordFile(File("no line break")).View(), u"no line break");
    EXPECT_EQ(ReadPasswordFile(File("  spaces stay  \n")).View(), u"  spaces stay  ");
    EXPECT_EQ(ReadPasswordFile(File("Pässwörd€\n")).View(), u"Pässwörd€");
    EXPECT_EQ(ReadPasswordFile(File("")).View(), u"");
    EXPECT_EQ(ReadPasswordFile(File("\nsecond")).View(), u"");
    // A first line that ends right after a read piece.
    const std::string long_line(512, 'x');
    EXPECT_EQ(ReadPasswordFile(File(long_line + "\n" + long_line)).View().size(), 512u);
}

TEST_F(PasswordSource, UnreadableOrHugeFilesAreRefused) {
    EXPECT_THROW(ReadPasswordFile((dir / "missing").string()), EPasswordSource);
    EXPECT_THROW(ReadPasswordFile(dir.string()), EPasswordSource);
    EXPECT_THROW(ReadPasswordFile(File(std::string(MaxPasswordFileLine + 1, 'x'))), EPasswordSource);
    EXPECT_EQ(ReadPasswordFile(File(std::string(MaxPasswordFileLine, 'x') + "\n")).View().size(), MaxPasswordFileLine);
}

TEST_F(PasswordSource, ExplicitSourcesComeBeforeTheDefaultVariable) {
    ::setenv(DefaultPasswordVariable, "from default", 1);
    ::setenv("KESTRUNE_TEST_PASSWORD", "from named", 1);
    const std::string literal = "from argument", file = File("from file\n"), variable = "KESTRUNE_TEST_PASSWORD";
    EXPECT_EQ(ObtainPassword({&literal, nullptr, nullptr}, true).View(), u"from argument");
    EXPECT_EQ(ObtainPassword({nullptr, &file, nullptr}, true).View(), u"from file");
    EXPECT_EQ(ObtainPassword({nullptr, nullptr, &variable}, true).View(), u"from named");
    EXPECT_EQ(ObtainPassword({}, true).View(), u"from default");
    // A named variable that is not set is an error, not a fall-back.
    const std::string unset = "KESTRUNE_TEST_UNSET";
    EXPECT_THROW(ObtainPassword({nullptr, nullptr, &unset}, false), EPasswordSource);
}

TEST_F(PasswordSource, AnEmptyPasswordIsRefusedUnlessAllowed) {
    const std::string literal, file = File("\nsecond line"), variable = "KESTRUNE_TEST_PASSWORD";
    ::setenv("KESTRUNE_TEST_PASSWORD", "", 1);
    ::setenv(DefaultPasswordVariable, "", 1);
    const std::pair<PasswordOptions, std::string> sources[] = {
        {{&literal, nullptr, nullptr}, "given by --password"},
        {{nullptr, &file, nullptr}, "in the first line of '" + file + "'"},
        {{nullptr, nullptr, &variable}, "in the variable KESTRUNE_TEST_PASSWORD"},
        {{}, "in the variable KESTRUNE_PASSWORD"},
    };
    for (auto [options, from] : sources) {
        try {
            ObtainPassword(options, true);
            ADD_FAILURE() << from;
        } catch (const EPasswordSource& e) {
            EXPECT_EQ(std::string(e.what()),
                      "the password " + from + " is empty; --allow-empty-password uses it all the same");
        }
        options.allowEmpty = true;
        EXPECT_EQ(ObtainPassword(options, true).View(), u"") << from;
    }
}

TEST_F(PasswordSource, SecretsMoveAndWipe) {
    TSecretText a(u"a password longer than the short-string buffer");
    TSecretText b = std::move(a);
    EXPECT_TRUE(a.View().empty());
    EXPECT_EQ(b.View(), u"a password longer than the short-string buffer");
    a = std::move(b);
    EXPECT_TRUE(b.View().empty());
    a.Wipe();
    EXPECT_TRUE(a.View().empty());
}

}  // namespace
}  // namespace kestrune::cli
