// File operations on POSIX: symbolic links, advisory locks held by others,
// write errors and short reads.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "object/KCcodepage.h"
#include "tests/files_test.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

TEST_F(Files, SymbolicLinkToSourceIsRefused) {
    Write("plain", Pattern(500));
    fs::create_symlink(Path("plain"), Path("soft"));
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("soft"), u"pw"), -1);
    EXPECT_EQ(Read("plain"), Pattern(500));
}

TEST_F(Files, SymbolicLinkDestinationIsWrittenThrough) {
    Write("plain", "abc");
    Write("target", "old");
    fs::create_symlink(Path("target"), Path("link"));
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("link"), u"pw"), 0);
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Read("target").size(), 3u);
}

TEST_F(Files, FilesHeldElsewhereAreRefused) {
    Write("plain", Pattern(100));
    Write("dest", "precious");
    for (const char* held : {"plain", "dest"}) {
        const int fd = ::open(Path(held).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), -1) << held;
        if (std::string(held) == "plain") {
            EXPECT_EQ(k.HashFile(Name("plain")), u"");
        }
        ::close(fd);
    }
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), 0);
}

TEST_F(Files, WriteErrorFailsAndKeepsExistingDestination) {
    Write("plain", Pattern(50000));
    Write("dest", "precious");
    // Writes beyond the file size limit fail with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 20000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = k.EncryptFile(Name("plain"), Name("dest"), u"pw");
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 2u);
}

TEST_F(Files, ShortReadIsAFailureNotADigestOfFewerBytes) {
    // sysfs reports a size larger than the bytes it delivers.
    const char* shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (!fs::exists(shortFile) || fs::file_size(shortFile) <= 100) GTEST_SKIP() << "no sysfs file to read short";
    EXPECT_EQ(k.HashFile(Utf8ToUtf16(shortFile)), u"");
    EXPECT_EQ(k.EncryptFile(Utf8ToUtf16(shortFile), Name("dest"), u"pw"), -1);
    EXPECT_FALSE(fs::exists(Path("dest")));
}

}  // namespace
}  // namespace kestrune
