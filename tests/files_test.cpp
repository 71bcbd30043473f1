// File hashing and encryption on every platform: round trips, replacement
// of an existing destination, names, the same file under another name, and
// failures that must never pass as success nor damage a destination.
#include "tests/files_test.h"

#include <array>
#include <tuple>
#include <vector>

#include "hashes/KCmd4.h"
#include "object/KCcodepage.h"
#include "object/KCfiles.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

TEST_F(Files, RoundTripEveryModeAndPieceBoundary) {
    for (std::size_t size : {0, 1, 8191, 8192, 8193, 20000, (1 << 20) + 8193}) {
        Write("plain", Pattern(size));
        for (std::int32_t mode = 0; mode <= 4; ++mode) {
            k.SetCipherMode(mode);
            ASSERT_EQ(k.EncryptFile(Name("plain"), Name("sealed"), u"pw"), 0);
            EXPECT_EQ(Read("sealed").size(), size);
            if (size > 16) {
                EXPECT_NE(Read("sealed"), Read("plain"));
            }
            ASSERT_EQ(k.DecryptFile(Name("sealed"), Name("opened"), u"pw"), 0);
            EXPECT_EQ(Read("opened"), Read("plain")) << "size " << size << " mode " << mode;
        }
    }
    EXPECT_EQ(FileCount(), 3u);
}

TEST_F(Files, ModesGiveDifferentBytesAndFileMatchesStringHash) {
    Write("plain", Pattern(100));
    k.SetCipherMode(0);
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("cbc"), u"pw"), 0);
    k.SetCipherMode(1);
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("cfb"), u"pw"), 0);
    EXPECT_NE(Read("cbc"), Read("cfb"));
    ASSERT_EQ(k.DecryptFile(Name("cbc"), Name("wrong"), u"pw"), 0);  // wrong mode: meaningless, not an error
    EXPECT_NE(Read("wrong"), Read("plain"));

    Write("text", "message digest");
    EXPECT_EQ(k.HashFile(Name("text")), k.HashString(u"message digest"));
    Write("empty", "");
    EXPECT_EQ(k.HashFile(Name("empty"), 1), k.HashString(u"", 1));
    EXPECT_EQ(k.HashFile(Name("missing")), u"");
}

TEST_F(Files, ExistingDestinationIsReplacedAndCutToNewLength) {
    Write("plain", "short");
    Write("dest", std::string(5000, 'x'));
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), 0);
    EXPECT_EQ(Read("dest").size(), 5u);
}

TEST_F(Files, FailuresLeaveDestinationUntouched) {
    Write("plain", Pattern(3000));
    Write("dest", "precious");
    fs::create_directory(Path("folder"));
    EXPECT_EQ(k.EncryptFile(Name("missing"), Name("dest"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("no-such-dir/dest"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), u"", u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("folder"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("folder"), Name("dest"), u"pw"), -1);
    EXPECT_EQ(k.HashFile(Name("folder")), u"");
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 3u);
}

// The members say only "" or -1; underneath, each failure has its cause,
// which the tool reports instead of guessing it afterwards.
TEST_F(Files, FailuresComeWithTheirCause) {
    Write("plain", Pattern(300));
    fs::create_directory(Path("folder"));
    const auto opened = TKC_sourcefile::Open(Name("plain"));
    ASSERT_NE(opened.file, nullptr);
    EXPECT_TRUE(opened.status.Ok());
    const auto sourceFault = [&](const std::u16string& name) { return TKC_sourcefile::Open(name).status; };
    const auto destFault = [&](const std::u16string& name) {
        return TKC_destinationfile::Create(name, *opened.file).status;
    };
    const std::tuple<const char*, FileStatus, FileFault, FileRole> cases[] = {
        {"missing source", sourceFault(Name("missing")), FileFault::NotFound, FileRole::Source},
        {"source in a missing folder", sourceFault(Name("none/plain")), FileFault::NotFound, FileRole::Source},
        {"folder as source", sourceFault(Name("folder")), FileFault::IsDirectory, FileRole::Source},
        {"empty source name", sourceFault(u""), FileFault::InvalidName, FileRole::Source},
        {"source as destination", destFault(Name("plain")), FileFault::SameFile, FileRole::Destination},
        {"folder as destination", destFault(Name("folder")), FileFault::IsDirectory, FileRole::Destination},
        {"destination in a missing folder", destFault(Name("none/dest")), FileFault::NotFound, FileRole::Destination},
        {"empty destination name", destFault(u""), FileFault::InvalidName, FileRole::Destination},
    };
    for (const auto& [what, status, fault, role] : cases) {
        EXPECT_EQ(status.fault, fault) << what << ": " << FileFaultText(status.fault) << " " << status.systemError;
        EXPECT_EQ(status.role, role) << what;
    }
    // A digest of a file that opened is a success with no fault.
    const DigestOutcome digest = k.HashSource(*opened.file);
    EXPECT_TRUE(digest.status.Ok());
    EXPECT_EQ(digest.digest.size(), 32u);
}

TEST_F(Files, NameWithEmbeddedNullIsRefusedNotCutShort) {
    // Cut at the null, the name would be that of another file.
    Write("plain", Pattern(300));
    Write("dest", "precious");
    const std::u16string source = Name("plain") + u'\0' + u".txt";
    const std::u16string dest = Name("dest") + u'\0' + u".txt";
    EXPECT_EQ(k.HashFile(source), u"");
    EXPECT_EQ(k.EncryptFile(source, Name("other"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), dest, u"pw"), -1);
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 2u);
}

TEST_F(Files, NamesBeyondTheCodePageWork) {
    // File names reach the file system whole, not through the 8-bit code page.
    const std::string source = "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1-\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB";
    const std::string other = "\xC4\x80";  // U+0100, which the code page would turn into "A"
    Write(source, Pattern(1000));
    Write("A", "precious");
    ASSERT_EQ(k.EncryptFile(Name(source), Name(other), u"pw"), 0);
    EXPECT_EQ(Read("A"), "precious");
    ASSERT_EQ(k.DecryptFile(Name(other), Name("opened"), u"pw"), 0);
    EXPECT_EQ(Read("opened"), Pattern(1000));
    EXPECT_EQ(k.HashFile(Name(source)), k.HashFile(Name("opened")));
}

TEST_F(Files, SameFileByAnyNameIsRefused) {
    Write("plain", Pattern(500));
    fs::create_hard_link(Path("plain"), Path("hard"));
    for (const char* other : {"plain", "hard", "./plain"}) {
        EXPECT_EQ(k.EncryptFile(Name("plain"), Name(other), u"pw"), -1) << other;
        EXPECT_EQ(Read("plain"), Pattern(500));
    }
    EXPECT_EQ(FileCount(), 2u);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Files, FilesOf4GiBAndMoreAreDigestedWhole) {
    // A sparse file: 2^32 zero bytes and a short tail, which a 32-bit count would drop.
    const std::uint64_t size = (std::uint64_t{1} << 32) + 3;
    {
        std::ofstream out(Path("big"), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(size - 3));
        out << "end";
    }
    TKC_md4 md4;
    md4.Init();
    const std::vector<std::uint8_t> zeros(1 << 20, 0);
    for (std::uint64_t done = 0; done < (std::uint64_t{1} << 32); done += zeros.size()) md4.Update(zeros);
    md4.UpdateFromString("end");
    std::array<std::uint8_t, 16> digest{};
    md4.Final(digest);
    std::string hex;
    for (auto b : digest) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
    EXPECT_EQ(Utf16ToUtf8(k.HashFile(Name("big"), 1)), hex);
}
#endif

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

TEST_F(Files, StreamCipherIgnoresTheMode) {
    Write("plain", Pattern(20000));
    std::string first;
    for (std::int32_t mode = 0; mode <= 4; ++mode) {
        k.SetCipherMode(mode);
        ASSERT_EQ(k.EncryptFile(Name("plain"), Name("sealed"), u"pw", 12), 0);
        if (mode == 0) first = Read("sealed");
        EXPECT_EQ(Read("sealed"), first) << "mode " << mode;
    }
    ASSERT_EQ(k.DecryptFile(Name("sealed"), Name("opened"), u"pw", 12), 0);
    EXPECT_EQ(Read("opened"), Read("plain"));
}

}  // namespace
}  // namespace kestrune
