// hash-file's sum lists and --check, against the coreutils tools that read
// and write the same lists.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/algorithms.h"
#include "cli/sums.h"
#include "cli_run.h"
#include "object/KCcatalogue.h"

namespace kestrune::cli {
namespace {

namespace fs = std::filesystem;
using testing_cli::RunShell;
using testing_cli::TRun;

constexpr std::int32_t MD5 = 0, SHA256 = 6;
const std::string EmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string EmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

TEST(SumLines, TagsAreCoreutilsNamesAndReadBack) {
    const std::pair<std::int32_t, const char*> coreutils[] = {{0, "MD5"}, {5, "SHA1"}, {6, "SHA256"}, {7, "SHA384"}, {8, "SHA512"}};
    for (const auto& [code, tag] : coreutils) EXPECT_EQ(DigestTag(code), tag);
    for (const auto& row : DigestCatalogue()) {
        const std::string tag = DigestTag(row.code);
        EXPECT_EQ(tag.find_first_of(" ()"), std::string::npos) << tag;
        EXPECT_EQ(ParseDigest(tag), row.code) << tag;
    }
}

TEST(SumLines, NamesWithBackslashOrLineBreaksAreEscapedAndRestored) {
    const std::pair<const char*, const char*> names[] = {
        {"plain name", "plain name"}, {"back\\slash", "back\\\\slash"}, {"new\nline", "new\\nline"},
        {"cr\rx", "cr\\rx"},          {"\\\n\r", "\\\\\\n\\r"},
    };
    for (const auto& [name, escaped] : names) {
        EXPECT_EQ(NeedsEscape(name), std::strcmp(name, escaped) != 0) << name;
        EXPECT_EQ(EscapedName(name), escaped);
        EXPECT_EQ(UnescapedName(escaped), name);
    }
    for (const char* invalid : {"trailing\\", "\\t", "\\x41"}) EXPECT_EQ(UnescapedName(invalid), std::nullopt) << invalid;

    EXPECT_EQ(SumLine(TSumFormat::Hex, MD5, "D41D8CD9", "a b"), "D41D8CD9");
    EXPECT_EQ(SumLine(TSumFormat::Sum, MD5, "D41D8CD9", "a b"), "d41d8cd9  a b");
    EXPECT_EQ(SumLine(TSumFormat::Sum, MD5, "D41D8CD9", "a\nb"), "\\d41d8cd9  a\\nb");
    EXPECT_EQ(SumLine(TSumFormat::Tag, SHA256, "AB", "a\\b"), "\\SHA256 (a\\\\b) = ab");
}

TEST(SumLines, ListReaderTakesWhatSha256sumTakes) {
    const std::string upper = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    struct TCase {
        std::string line;
        std::optional<std::string> name;  // none: improperly formatted
        std::int32_t digest = SHA256;
    };
    const TCase cases[] = {
        {EmptySha256 + "  a b", "a b"},
        {EmptySha256 + " *binary", "binary"},
        {upper + "  upper", "upper"},
        {"  \t" + EmptySha256 + "  indented", "indented"},
        {EmptySha256 + "   leading space", " leading space"},
        {EmptySha256 + "  trailing ", "trailing "},
        {"\\" + EmptySha256 + "  a\\nb\\\\c", "a\nb\\c"},
        {"SHA256 (x) = " + EmptySha256, "x"},
        {"SHA256(x) = " + EmptySha256, "x"},
        {"SHA256 (a (1)) = " + EmptySha256, "a (1)"},
        {"\\SHA256 (a\\nb) = " + EmptySha256, "a\nb"},
        {"MD5 (m) = " + EmptyMd5, "m", MD5},  // the tag, not the chosen digest, decides
        {"sha-256 (x) = " + EmptySha256, "x"},
        {EmptyMd5 + "  short", std::nullopt},
        {EmptySha256 + "0  long", std::nullopt},
        {EmptySha256.substr(1) + "g  not hex", std::nullopt},
        {EmptySha256 + "  ", " "},  // a name of one space, in the reversed form
        {EmptySha256 + " ", std::nullopt},
        {EmptySha256, std::nullopt},
        {"\\" + EmptySha256 + "  bad\\escape", std::nullopt},
        {"SHA256 (x) = " + EmptySha256 + " ", std::nullopt},
        {"SHA256 (x) = " + EmptyMd5, std::nullopt},
        {"SHA256 (x) " + EmptySha256, std::nullopt},
        {"SHA256 (x = " + EmptySha256, std::nullopt},
        {"FOO (x) = " + EmptySha256, std::nullopt},
        {"6 (x) = " + EmptySha256, std::nullopt},  // codes are no tags
    };
    for (const auto& c : cases) {
        TSumListReader reader(SHA256);
        const auto entry = reader.Parse(c.line);
        ASSERT_EQ(entry.has_value(), c.name.has_value()) << c.line;
        if (!entry) continue;
        EXPECT_EQ(entry->name, *c.name) << c.line;
        EXPECT_EQ(entry->digest, c.digest) << c.line;
    }
    // One space after the digest: the reversed form, which a list keeps throughout.
    TSumListReader reversed(SHA256), usual(SHA256);
    EXPECT_EQ(reversed.Parse(EmptySha256 + " x")->name, "x");
    EXPECT_EQ(reversed.Parse(EmptySha256 + "  y")->name, " y");
    EXPECT_EQ(usual.Parse(EmptySha256 + "  y")->name, "y");
    EXPECT_FALSE(usual.Parse(EmptySha256 + " x"));
}

// Only the lines of text that contain what.
std::string LinesWith(const std::string& text, const std::string& what) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.find(what) != std::string::npos) kept += line + "\n";
    return kept;
}

class ToolSums : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-sums-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        Write("a b", "first");
        Write("back\\slash", "second");
        Write("new\nline", "third");
        Write("cr\rx", "");
    }
    void TearDown() override { fs::remove_all(dir); }

    // A bash script in the directory; $K is the tool, NAMES the four files above.
    TRun Shell(const std::string& script) const {
        return RunShell(dir, "NAMES=('a b' 'back\\slash' $'new\\nline' $'cr\\rx') && " + script);
    }
    void Write(const std::string& leaf, const std::string& content) const {
        std::ofstream(dir / leaf, std::ios::binary) << content;
    }

    fs::path dir;
};

TEST_F(ToolSums, ListsAreByteForByteThoseOfCoreutils) {
    for (const char* digest : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
        const std::string k = std::string("$K hash-file --hash ") + digest, tool = std::string(digest) + "sum";
        for (const char* format : {"", " --tag"}) {
            const TRun ours = Shell(k + " --format " + (*format ? "tag" : "sum") + " \"${NAMES[@]}\" - < 'a b'");
            const TRun theirs = Shell(tool + format + " \"${NAMES[@]}\" - < 'a b'");
            ASSERT_EQ(ours.status, 0) << ours.err;
            EXPECT_EQ(ours.out, theirs.out) << digest << format;
        }
        EXPECT_EQ(Shell(k + " --tag 'a b'").out, Shell(tool + " --tag 'a b'").out) << digest;
    }
    // One file prints the object's digest text as before; several files a list.
    EXPECT_EQ(Shell("$K hash-file --hash sha256 'cr\rx'").out, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855\n");
    EXPECT_EQ(Shell("$K hash-file --hash sha256 'a b' 'cr\rx'").out, Shell("sha256sum 'a b' 'cr\rx'").out);
    const std::string one = Shell("$K hash-file 'a b'").out;
    EXPECT_EQ(Shell("$K hash-file --format hex 'a b' 'a b'").out, one + one);
    // A file that cannot be read is reported; the others are still listed.
    const TRun missing = Shell("$K hash-file --hash sha256 'a b' missing 'cr\rx'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, Shell("sha256sum 'a b' 'cr\rx'").out);
    EXPECT_NE(missing.err.find("kestrune: hashing failed: cannot read 'missing': no such file or directory"),
              std::string::npos)
        << missing.err;
}

TEST_F(ToolSums, ChecksWorkBothWaysWithTheSameAnswers) {
    for (const char* digest : {"md5", "sha1", "sha256", "sha512"}) {
        const std::string k = std::string("$K hash-file --hash ") + digest, tool = std::string(digest) + "sum";
        // Theirs checked by us, ours by them; plain and tagged lists.
        for (const char* format : {"", " --tag"}) {
            ASSERT_EQ(Shell(tool + format + " \"${NAMES[@]}\" > theirs").status, 0);
            ASSERT_EQ(Shell(k + (*format ? " --tag" : " --format sum") + " \"${NAMES[@]}\" > ours").status, 0);
            const TRun reference = Shell(tool + " -c theirs");
            ASSERT_EQ(reference.status, 0);
            for (const char* check : {" -c theirs", " --check ours", " --check - < theirs"}) {
                const TRun run = Shell(k + check);
                EXPECT_EQ(run.status, 0) << digest << check << run.err;
                EXPECT_EQ(run.out, reference.out) << digest << check;
                EXPECT_EQ(run.err, "");
            }
            EXPECT_EQ(Shell(tool + " -c ours").status, 0) << digest << format;
        }
    }
    // A tagged list names its digests, whatever --hash says.
    ASSERT_EQ(Shell("md5sum --tag 'a b' > mixed && sha512sum --tag 'a b' >> mixed").status, 0);
    const TRun mixed = Shell("$K hash-file --hash sha1 -c mixed");
    EXPECT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_EQ(mixed.out, "a b: OK\na b: OK\n");
}

TEST_F(ToolSums, FailuresAndOptionsAnswerAsSha256sumDoes) {
    // A list with a changed file, a missing one, a bad line and a comment.
    ASSERT_EQ(Shell("sha256sum \"${NAMES[@]}\" > list && echo x > gone && sha256sum gone >> list && rm gone && "
                    "echo '# comment' >> list && echo 'not a line' >> list && echo changed > 'a b'")
                  .status,
              0);
    for (const char* options : {"", " --quiet", " --status", " --strict", " --ignore-missing", " -w", " --quiet --strict"}) {
        const TRun ours = Shell(std::string("$K hash-file --hash sha256 -c list") + options);
        const TRun theirs = Shell(std::string("sha256sum -c list") + options);
        EXPECT_EQ(ours.status, theirs.status) << options;
        EXPECT_EQ(ours.out, theirs.out) << options;
        // The summary and per-line warnings word for word, under our name.
        for (const char* warning : {"WARNING", "improperly formatted SHA256", "no file was verified"}) {
            std::string expected = LinesWith(theirs.err, warning);
            for (std::size_t at; (at = expected.find("sha256sum:")) != std::string::npos;) expected.replace(at, 10, "kestrune:");
            EXPECT_EQ(LinesWith(ours.err, warning), expected) << options;
        }
        EXPECT_EQ(LinesWith(ours.err, "gone").empty(), std::string(options) == " --ignore-missing") << options << ours.err;
    }
    // Nothing verified with --ignore-missing fails; so does a list of nothing.
    ASSERT_EQ(Shell("grep gone list > only-gone").status, 0);
    EXPECT_EQ(Shell("$K hash-file --hash sha256 -c only-gone --ignore-missing").status, 1);
    const TRun empty = Shell("$K hash-file --hash sha256 -c /dev/null");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "kestrune: /dev/null: no properly formatted checksum lines found\n");
    // A digest of another length is a bad line; without --hash the tool says how to name it.
    ASSERT_EQ(Shell("sha256sum 'cr\rx' > other").status, 0);
    const TRun wrong = Shell("$K hash-file -c other");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("no properly formatted checksum lines found"), std::string::npos);
    EXPECT_NE(wrong.err.find("read as MD5 digests (32 hexadecimal digits): name the digest with --hash"), std::string::npos);
    // The list itself unreadable, "-" inside a list read from standard input, usage.
    EXPECT_EQ(Shell("$K hash-file -c nolist").status, 1);
    EXPECT_EQ(Shell("echo '" + EmptySha256 + "  -' | $K hash-file --hash sha256 -c -").status, 1);
    EXPECT_EQ(Shell("$K hash-file -c list 'a b'").status, 2);
    EXPECT_EQ(Shell("$K hash-file --status 'a b'").status, 2);
    EXPECT_EQ(Shell("$K hash-file").status, 2);
}

}  // namespace
}  // namespace kestrune::cli
