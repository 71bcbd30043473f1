// File operations on Windows: share mode 0 against every other opener, the
// same file under the names Windows has for it, devices, attributes, and
// names relative to the current directory.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// <windows.h> names two functions of its own EncryptFile and DecryptFile.
#undef EncryptFile
#undef DecryptFile

#include "object/KCfiles.h"
#include "tests/files_test.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

const wchar_t* W(const std::u16string& name) { return reinterpret_cast<const wchar_t*>(name.c_str()); }

// Another party's open of a file, closed when it goes.
class OtherOpen {
public:
    OtherOpen(const std::u16string& name, DWORD access, DWORD share)
        : handle_(::CreateFileW(W(name), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OtherOpen() {
        if (Opened()) ::CloseHandle(handle_);
    }
    OtherOpen(const OtherOpen&) = delete;
    OtherOpen& operator=(const OtherOpen&) = delete;
    bool Opened() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST_F(Files, FilesOpenElsewhereAreRefusedWhateverTheirShareMode) {
    Write("plain", Pattern(100));
    Write("dest", "precious");
    for (const char* held : {"plain", "dest"}) {
        for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
            OtherOpen other(Name(held), access, ShareAll);
            ASSERT_TRUE(other.Opened());
            EXPECT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), -1) << held;
            if (std::string(held) == "plain") {
                EXPECT_EQ(k.HashFile(Name("plain")), u"");
            }
        }
    }
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 2u);
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), 0);
}

TEST_F(Files, NobodyElseOpensTheFilesDuringAnOperation) {
    Write("plain", Pattern(100));
    Write("dest", "precious");
    {
        auto source = TKC_sourcefile::Open(Name("plain")).file;
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->Size(), 100u);
        EXPECT_FALSE(OtherOpen(Name("plain"), GENERIC_READ, ShareAll).Opened());
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

        auto dest = TKC_destinationfile::Create(Name("dest"), *source).file;
        ASSERT_NE(dest, nullptr);
        EXPECT_FALSE(OtherOpen(Name("dest"), GENERIC_READ, ShareAll).Opened());
        EXPECT_EQ(FileCount(), 3u);  // the new file next to the destination
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename() != "plain" && entry.path().filename() != "dest") {
                EXPECT_FALSE(OtherOpen(entry.path().u16string(), GENERIC_READ, ShareAll).Opened());
            }
        }
        const std::string text = "new content";
        EXPECT_EQ(dest->Write(ConstBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), text.size());
        // Dropped without Commit: the destination stays, the new file goes.
    }
    EXPECT_EQ(Read("dest"), "precious");
    EXPECT_EQ(FileCount(), 2u);
    EXPECT_TRUE(OtherOpen(Name("plain"), GENERIC_READ, 0).Opened());
}

TEST_F(Files, RefusalsSayWhy) {
    Write("plain", Pattern(100));
    Write("dest", "precious");
    {
        OtherOpen other(Name("plain"), GENERIC_READ, ShareAll);
        EXPECT_EQ(TKC_sourcefile::Open(Name("plain")).status.fault, FileFault::Locked);
    }
    const auto source = TKC_sourcefile::Open(Name("plain"));
    ASSERT_NE(source.file, nullptr);
    {
        OtherOpen other(Name("dest"), GENERIC_READ, ShareAll);
        EXPECT_EQ(TKC_destinationfile::Create(Name("dest"), *source.file).status.fault, FileFault::Locked);
    }
    // Held by this very operation under another spelling: the same file, not a stranger's.
    EXPECT_EQ(TKC_destinationfile::Create(Name("PLAIN"), *source.file).status.fault, FileFault::SameFile);
    ASSERT_TRUE(::SetFileAttributesW(W(Name("dest")), FILE_ATTRIBUTE_READONLY));
    // Wine run by root opens a read-only file for writing, as root may on
    // Linux: there is nothing to refuse then.
    const HANDLE probe = ::CreateFileW(W(Name("dest")), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool enforced = probe == INVALID_HANDLE_VALUE;
    if (!enforced) ::CloseHandle(probe);
    const auto readOnly = TKC_destinationfile::Create(Name("dest"), *source.file).status;
    ::SetFileAttributesW(W(Name("dest")), FILE_ATTRIBUTE_NORMAL);
    if (enforced) {
        EXPECT_EQ(readOnly.fault, FileFault::PermissionDenied);
        EXPECT_EQ(readOnly.role, FileRole::Destination);
    }
    EXPECT_EQ(Read("dest"), "precious");
}

TEST_F(Files, SameFileUnderOtherSpellingsIsRefused) {
    Write("plain", Pattern(500));
    const std::u16string full = Name("plain");
    std::u16string slashes = full;
    for (auto& c : slashes)
        if (c == u'\\') c = u'/';
    std::u16string shortName(MAX_PATH, u'\0');
    shortName.resize(::GetShortPathNameW(W(full), reinterpret_cast<wchar_t*>(shortName.data()), MAX_PATH));
    for (const std::u16string& other : {Name("PLAIN"), Name("Plain."), slashes, u"\\\\?\\" + full, shortName}) {
        if (other.empty()) continue;
        EXPECT_EQ(k.EncryptFile(full, other, u"pw"), -1) << fs::path(other).string();
        EXPECT_EQ(Read("plain"), Pattern(500));
    }
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(Files, DevicesAreNeitherSourceNorDestination) {
    Write("plain", Pattern(100));
    for (const char16_t* device : {u"NUL", u"CON", u"\\\\.\\NUL", u"CONIN$"}) {
        EXPECT_EQ(k.HashFile(device), u"") << fs::path(device).string();
        EXPECT_EQ(k.EncryptFile(device, Name("dest"), u"pw"), -1);
        EXPECT_EQ(k.EncryptFile(Name("plain"), device, u"pw"), -1);
    }
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(Files, ReplacedDestinationKeepsItsAttributes) {
    // Windows also keeps the creation time, owner and ACL; Wine does not
    // keep the creation time, so the attributes are what is compared.
    Write("plain", Pattern(100));
    Write("dest", "precious");
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesW(W(Name("dest")), kept));
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), 0);
    EXPECT_EQ(Read("dest").size(), 100u);
    EXPECT_EQ(::GetFileAttributesW(W(Name("dest"))) & kept, kept);
    EXPECT_EQ(FileCount(), 2u);
}

TEST_F(Files, HardLinkedDestinationKeepsItsLinks) {
    Write("plain", Pattern(3000));
    Write("dest", std::string(5000, 'x'));
    if (!::CreateHardLinkW(W(Name("link")), W(Name("dest")), nullptr)) GTEST_SKIP() << "no hard links here";
    ASSERT_EQ(k.EncryptFile(Name("plain"), Name("dest"), u"pw"), 0);
    EXPECT_EQ(Read("link").size(), 3000u);
    EXPECT_EQ(Read("link"), Read("dest"));
    EXPECT_EQ(FileCount(), 3u);
}

TEST_F(Files, RelativeNamesFollowTheCurrentDirectory) {
    Write("plain", Pattern(100));
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    const auto encrypted = k.EncryptFile(u"plain", u"sealed", u"pw");
    const auto decrypted = k.DecryptFile(u".\\sealed", u"opened", u"pw");
    fs::current_path(before);
    ASSERT_EQ(encrypted, 0);
    ASSERT_EQ(decrypted, 0);
    EXPECT_EQ(Read("opened"), Pattern(100));
    EXPECT_EQ(FileCount(), 3u);
}

TEST_F(Files, SymbolicLinkDestinationIsWrittenThrough) {
    Write("plain", "abc");
    Write("target", "old");
    // Wine 8 reports success without making the link.
    if (!::CreateSymbolicLinkW(W(Name("link")), W(Name("target")), 0) || !fs::is_symlink(Path("link")))
        GTEST_SKIP() << "no symbolic links here";
    EXPECT_EQ(k.EncryptFile(Name("plain"), Name("link"), u"pw"), 0);
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Read("target").size(), 3u);
    EXPECT_EQ(k.EncryptFile(Name("target"), Name("link"), u"pw"), -1);  // the source by its link
}

}  // namespace
}  // namespace kestrune
