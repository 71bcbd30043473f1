// The tool's subcommand pieces: input text, telling failures from empty
// results, explaining file failures, and the list and selftest reports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "object/KCcatalogue.h"
#include "object/UKestrune.h"

namespace kestrune::cli {
namespace {

namespace fs = std::filesystem;

TEST(InputText, StandardInputLosesOneLineBreakOnly) {
    std::istringstream none;
    EXPECT_EQ(InputText("as given\n", none), u"as given\n");
    const std::pair<const char*, const char16_t*> cases[] = {
        {"line\n", u"line"}, {"line\r\n", u"line"}, {"line\n\n", u"line\n"}, {"no break", u"no break"},
        {"", u""},           {"\n", u""},           {"Grüße\n", u"Grüße"},
    };
    for (const auto& [input, expected] : cases) {
        std::istringstream in(input);
        EXPECT_EQ(InputText("-", in), expected) << input;
    }
}

TEST(EmptyResults, OnlyAnEmptyInputOrNoCipherBytesExplainAnEmptyResult) {
    EXPECT_FALSE(EncryptionFailed(u"", u""));
    EXPECT_TRUE(EncryptionFailed(u"x", u""));
    EXPECT_FALSE(EncryptionFailed(u"x", u"eA=="));
    EXPECT_FALSE(DecryptionFailed(u"", u""));
    EXPECT_TRUE(DecryptionFailed(u"AAAA", u""));
    EXPECT_FALSE(DecryptionFailed(u"AAAA", u"abc"));
    // Fewer than four characters decode to no bytes, so nothing is the answer.
    EXPECT_FALSE(DecryptionFailed(u"AA", u""));
    // What comes back for a real round trip is never mistaken for a failure.
    const TKestrune object;
    for (const std::u16string text : {u"", u"a", u"some text"}) {
        const auto cipher = object.EncryptString(text, u"pw");
        EXPECT_FALSE(EncryptionFailed(text, cipher));
        EXPECT_FALSE(DecryptionFailed(cipher, object.DecryptString(cipher, u"pw")));
    }
}

TEST(FileNames, OnlyUtf8NamesPass) {
    EXPECT_TRUE(IsUtf8("plain.txt"));
    EXPECT_TRUE(IsUtf8("grüße/€.bin"));
    EXPECT_FALSE(IsUtf8("latin1-\xfc.txt"));
    EXPECT_FALSE(IsUtf8("\xed\xa0\x80"));  // an encoded surrogate
}

TEST(FileFailures, TheReasonNamesTheFileConcernedAndTheCauseFound) {
    char pattern[] = "/tmp/kestrune-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const std::string file = (dir / "file").string();
    std::ofstream(file) << "data";
    const std::string missing = (dir / "missing").string();
    fs::create_hard_link(file, dir / "link");
    const std::string link = (dir / "link").string(), out = (dir / "no" / "out").string();

    // The reasons of real failures, as the object's file code found them.
    const auto opened = OpenSource(file);
    ASSERT_NE(opened.file, nullptr);
    const auto openFailure = [](const std::string& name) {
        const auto [source, status] = OpenSource(name);
        return FileFailureReason(status, name, "");
    };
    const auto createFailure = [&](const std::string& dest) {
        return FileFailureReason(CreateDestination(dest, *opened.file).status, file, dest);
    };
    const std::pair<std::string, std::string> cases[] = {
        {openFailure(missing), "cannot read '" + missing + "': no such file or directory"},
        {openFailure(dir.string()), "cannot read '" + dir.string() + "': it is a directory"},
        {openFailure(file), "cannot read '" + file + "': in use by another process"},
        {createFailure(link), "'" + file + "' and '" + link + "' are the same file"},
        {createFailure(dir.string()), "cannot write '" + dir.string() + "': it is a directory"},
        {createFailure(out), "cannot write '" + out + "': no such file or directory"},
        // Standard input and output are named as such, and a system error is explained.
        {FileFailureReason(FileStatus::Of(FileFault::ReadError, FileRole::Source, EIO), "-", ""),
         "cannot read standard input: read error (Input/output error)"},
        {FileFailureReason(FileStatus::Of(FileFault::NoSpace, FileRole::Destination, ENOSPC), file, "-"),
         "cannot write standard output: no space left on the device"},
        {FileFailureReason(FileStatus::Of(FileFault::ReadError, FileRole::Source), file, ""),
         "cannot read '" + file + "': it delivered fewer bytes than its size (did it shrink while being read?)"},
        {FileFailureReason(FileStatus::Of(FileFault::Other, FileRole::Destination, ELOOP), file, out),
         "cannot write '" + out + "': Too many levels of symbolic links"},
    };
    for (const auto& [reason, expected] : cases) EXPECT_EQ(reason, expected);
    fs::remove_all(dir);
}

TEST(Reports, ListAndSelfTestCoverEveryRow) {
    std::ostringstream list, selfTest;
    WriteCatalogue(list);
    EXPECT_EQ(RunSelfTest(selfTest), 0) << selfTest.str();
    const auto check = [&](std::string_view name) {
        const std::string text(name);
        EXPECT_NE(list.str().find("  " + text + "  "), std::string::npos) << name;
        const auto line = selfTest.str().find("  " + text + "  ");
        ASSERT_NE(line, std::string::npos) << name;
        const std::string rest = selfTest.str().substr(line, selfTest.str().find('\n', line) - line);
        EXPECT_NE(rest.find(" ok"), std::string::npos) << rest;
    };
    for (const auto& row : DigestCatalogue()) check(row.name);
    for (const auto& row : CipherCatalogue()) check(row.name);
    EXPECT_NE(selfTest.str().find("30 passed, 0 failed, 0 not built"), std::string::npos) << selfTest.str();
}

}  // namespace
}  // namespace kestrune::cli
