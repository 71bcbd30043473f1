// File hashing and encryption on POSIX: round trips, exclusive holds, the
// same file under other names, and failures that must never pass as
// success nor damage an existing destination.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "hashes/KCmd4.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

class Files : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kestrune-files-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::u16string Name(const std::string& leaf) const { return Utf8ToUtf16((dir_ / leaf).string()); }
    void Write(const std::string& leaf, const std::string& content) const {
        std::ofstream(dir_ / leaf, std::ios::binary) << content;
    }
    std::string Read(const std::string& leaf) const {
        std::ifstream in(dir_ / leaf, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Only the files the test made: no temporary file may be left behind.
    std::size_t FileCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    static std::string Pattern(std::size_t size) {
        std::string s(size, '\0');
        for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 31 + 7);
        return s;
    }

    fs::path dir_;
    TKestrune k;
};

TEST_F(Files, RoundTripEveryModeAndPieceBoundary) {
    for (std::size_t size : {0, 1, 8191, 8192, 8193, 20000}) {
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
    EXPECT_EQ(k.EncryptFile(Name("missing"), Name("dest"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("no-such-dir/dest"), u"pw"), -1);
    EXPECT_EQ(k.EncryptFile(Name("plain"), u"", u"pw"), -1);
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 2u);
}

TEST_F(Files, SameFileByAnyNameIsRefused) {
    Write("plain", Pattern(500));
    fs::create_hard_link(dir_ / "plain", dir_ / "hard");
    fs::create_symlink(dir_ / "plain", dir_ / "soft");
    for (const char* other : {"plain", "hard", "soft"}) {
        EXPECT_EQ(k.EncryptFile(Name("plain"), Name(other), u"pw"), -1) << other;
        EXPECT_EQ(Read("plain"), Pattern(500));
    }
}

TEST_F(Files, SymbolicLinkDestinationIsWrittenThrough) {
    Write("plain", "abc");
    Write("target", "old");
    fs::create_symlink(dir_ / "target", dir_ / "link");
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("link"), u"pw"), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(Read("target").size(), 3u);
}

TEST_F(Files, FilesHeldElsewhereAreRefused) {
    Write("plain", Pattern(100));
    Write("dest", "precious");
    for (const char* held : {"plain", "dest"}) {
        const int fd = ::open((dir_ / held).c_str(), O_RDONLY);
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
    EXPECT_FALSE(fs::exists(dir_ / "dest"));
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Files, FilesOf4GiBAndMoreAreDigestedWhole) {
    // A sparse file: 2^32 zero bytes and a short tail, which a 32-bit count would drop.
    const std::uint64_t size = (std::uint64_t{1} << 32) + 3;
    {
        std::ofstream out(dir_ / "big", std::ios::binary);
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
