#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "KCcodepage.h"
#include "KCfiles.h"

namespace kestrune {

struct FileAccess {
    static int Fd(std::intptr_t handle) noexcept { return static_cast<int>(handle); }

    // An advisory exclusive lock, not waited for: a file that another
    // party has locked is treated as held open elsewhere.
    static bool LockExclusive(int fd) noexcept { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

    // An embedded null would cut the name short and name another file.
    static bool HasNull(std::u16string_view name) noexcept { return name.find(u'\0') != std::u16string_view::npos; }

    static std::string DirectoryOf(const std::string& path) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return ".";
        return slash == 0 ? "/" : path.substr(0, slash);
    }
};

TKC_file::~TKC_file() {
    if (handle_ >= 0) ::close(FileAccess::Fd(handle_));
}

std::size_t TKC_file::Read(Bytes buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(FileAccess::Fd(handle_), buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed_ = true;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t TKC_file::Write(ConstBytes buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::write(FileAccess::Fd(handle_), buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::unique_ptr<TKC_sourcefile> TKC_sourcefile::Open(std::u16string_view name) {
    if (FileAccess::HasNull(name)) return nullptr;
    const std::string path = ToNativeFileName(name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<TKC_sourcefile>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || !FileAccess::LockExclusive(fd)) return nullptr;
    file->size_ = static_cast<std::uint64_t>(st.st_size);
    file->device_ = static_cast<std::uint64_t>(st.st_dev);
    file->inode_ = static_cast<std::uint64_t>(st.st_ino);
    return file;
}

std::unique_ptr<TKC_destinationfile> TKC_destinationfile::Create(std::u16string_view name, const TKC_sourcefile& source) {
    std::string target = ToNativeFileName(name);
    if (target.empty() || FileAccess::HasNull(name)) return nullptr;
    mode_t mode = 0666;
    int targetFd = -1;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // The source under another name (hard or symbolic link) must not be replaced.
        if (static_cast<std::uint64_t>(st.st_dev) == source.device_ && static_cast<std::uint64_t>(st.st_ino) == source.inode_)
            return nullptr;
        if (!S_ISREG(st.st_mode)) return nullptr;
        // Replace the file a symbolic link points to, not the link.
        std::vector<char> resolved(PATH_MAX + 1);
        if (::realpath(target.c_str(), resolved.data()) == nullptr) return nullptr;
        target = resolved.data();
        // Opening for writing (without truncating) proves the right to
        // write it; the lock proves nobody else holds it.
        targetFd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (targetFd < 0) return nullptr;
        if (!FileAccess::LockExclusive(targetFd)) {
            ::close(targetFd);
            return nullptr;
        }
        mode = st.st_mode & 07777;
    }
    std::string pattern = FileAccess::DirectoryOf(target) + "/.kestrune-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        if (targetFd >= 0) ::close(targetFd);
        return nullptr;
    }
    auto file = std::make_unique<TKC_destinationfile>(fd);
    file->target_ = std::move(target);
    file->temporary_ = std::move(pattern);
    file->targetHandle_ = targetFd;
    if (targetFd >= 0) {
        ::fchmod(fd, mode);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, mode & ~mask);
    }
    return file;
}

bool TKC_destinationfile::Commit() {
    if (failed_ || ::fsync(FileAccess::Fd(handle_)) != 0) return false;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    return true;
}

TKC_destinationfile::~TKC_destinationfile() {
    if (!committed_) ::unlink(temporary_.c_str());
    if (targetHandle_ >= 0) ::close(FileAccess::Fd(targetHandle_));
}

}  // namespace kestrune
