#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "KCcodepage.h"
#include "KCfiles.h"

namespace kestrune {
namespace {

// Named temporary files of operations in progress, for RemoveTemporaryFiles.
// Lock-free slots, so that a signal handler may read them at any moment.
std::array<std::atomic<const char*>, 64> temporaryNames{};
static_assert(std::atomic<const char*>::is_always_lock_free);

void RegisterTemporary(const std::string& path) noexcept {
    for (auto& slot : temporaryNames) {
        const char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, path.c_str())) return;
    }
}

void UnregisterTemporary(const std::string& path) noexcept {
    for (auto& slot : temporaryNames) {
        const char* mine = path.c_str();
        if (slot.compare_exchange_strong(mine, nullptr)) return;
    }
}

std::string RandomLeaf() {
    static constexpr char Digits[] = "0123456789abcdef";
    std::random_device random;
    std::string leaf = ".kestrune-";
    for (int word = 0; word < 2; ++word)
        for (unsigned value = random(), i = 0; i < 8; ++i, value >>= 4) leaf.push_back(Digits[value & 15]);
    return leaf;
}

}  // namespace

FileFault FaultOfSystemError(int systemError) noexcept {
    switch (systemError) {
        case 0: return FileFault::None;
        case ENOENT:
        case ENOTDIR: return FileFault::NotFound;
        case EACCES:
        case EPERM:
        case EROFS: return FileFault::PermissionDenied;
        case EISDIR: return FileFault::IsDirectory;
        case EWOULDBLOCK:
        case ETXTBSY:
        case EBUSY: return FileFault::Locked;
        case ENOSPC:
        case EDQUOT: return FileFault::NoSpace;
        case ENAMETOOLONG:
        case EILSEQ: return FileFault::InvalidName;
        case ENXIO:
        case ENODEV: return FileFault::NotRegularFile;
        default: return FileFault::Other;
    }
}

void RemoveTemporaryFiles() noexcept {
    for (auto& slot : temporaryNames)
        if (const char* path = slot.load()) ::unlink(path);
}

struct FileAccess {
    static int Fd(std::intptr_t handle) noexcept { return static_cast<int>(handle); }

    template <typename File>
    static FileOpening<File> Refused(FileFault fault, int systemError = 0) noexcept {
        return {nullptr, FileStatus::Of(fault, std::is_same_v<File, TKC_sourcefile> ? FileRole::Source : FileRole::Destination,
                                        systemError)};
    }
    // The failure that errno holds now.
    template <typename File>
    static FileOpening<File> RefusedByErrno() noexcept {
        const int error = errno;
        return Refused<File>(FaultOfSystemError(error), error);
    }

    static void Close(std::intptr_t& handle) noexcept {
        if (handle >= 0) ::close(Fd(handle));
        handle = -1;
    }

    // An advisory exclusive lock, not waited for: a file that another party
    // has locked is treated as held open elsewhere (errno EWOULDBLOCK). NFS emulates flock with
    // byte-range locks, and refuses an exclusive one on a read-only open
    // (EBADF); there, and where flock is missing, an open-file-description
    // lock of the strongest kind the open allows takes its place.
    static bool Lock(int fd, bool writable) noexcept {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EBADF && errno != ENOLCK && errno != EOPNOTSUPP) return false;
        struct flock range {};
        range.l_type = writable ? F_WRLCK : F_RDLCK;
        range.l_whence = SEEK_SET;  // start 0, length 0: the whole file
        return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
    }

    // An embedded null would cut the name short and name another file.
    static bool HasNull(std::u16string_view name) noexcept { return name.find(u'\0') != std::u16string_view::npos; }

    static std::string DirectoryOf(const std::string& path) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return ".";
        return slash == 0 ? "/" : path.substr(0, slash);
    }

    static std::string LeafOf(const std::string& path) {
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    static bool SameFile(const struct stat& st, const TKC_sourcefile& source) noexcept {
        return static_cast<std::uint64_t>(st.st_dev) == source.device_ &&
               static_cast<std::uint64_t>(st.st_ino) == source.inode_;
    }

    // The process's umask, read without changing it: umask() cannot be read
    // alone, and setting it for an instant would give the files that other
    // threads create meanwhile the wrong mode. Unknown, it is taken as 077.
    static mode_t Umask() {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("Umask:")) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
        return 077;
    }

    // The list or value that call gives, asked for its size first; empty
    // when there is none or it cannot be read.
    template <typename Call>
    static std::vector<char> Sized(Call call) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const ssize_t size = call(nullptr, 0);
            if (size <= 0) return {};
            std::vector<char> buffer(static_cast<std::size_t>(size));
            const ssize_t n = call(buffer.data(), buffer.size());
            if (n >= 0) {
                buffer.resize(static_cast<std::size_t>(n));
                return buffer;
            }
            if (errno != ERANGE) return {};  // ERANGE: it grew meanwhile
        }
        return {};
    }

    // Owner and group where the process may set them (a refusal is not a
    // failure: the group alone may still be allowed), then the extended
    // attributes, the POSIX ACL among them, then the mode, which a change
    // of owner would have cut down.
    static void CopyMetadata(int from, int to, const struct stat& st) {
        if (::fchown(to, st.st_uid, st.st_gid) != 0 && ::fchown(to, static_cast<uid_t>(-1), st.st_gid) != 0) {
            // Neither kept: the file stays the process's own.
        }
        // An ACL the new file took from its directory's default is not the destination's.
        (void)::fremovexattr(to, "system.posix_acl_access");
        const std::vector<char> names = Sized([&](char* buffer, std::size_t size) { return ::flistxattr(from, buffer, size); });
        for (std::size_t at = 0; at < names.size();) {
            const char* name = names.data() + at;
            at += std::char_traits<char>::length(name) + 1;
            const std::vector<char> value =
                Sized([&](char* buffer, std::size_t size) { return ::fgetxattr(from, name, buffer, size); });
            (void)::fsetxattr(to, name, value.data(), value.size(), 0);
        }
        (void)::fchmod(to, st.st_mode & 07777);
    }

    // Opens without waiting (a FIFO without a writer would block the open),
    // checks what it opened, then reads blocking. A non-regular file is
    // refused unless the tool asked for streams.
    static FileOpening<TKC_sourcefile> OpenSource(std::u16string_view name, bool streams) {
        using Source = TKC_sourcefile;
        if (name.empty() || HasNull(name)) return Refused<Source>(FileFault::InvalidName);
        const std::string path = ToNativeFileName(name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return RefusedByErrno<Source>();
        auto file = std::make_unique<TKC_sourcefile>(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0) return RefusedByErrno<Source>();
        if (S_ISREG(st.st_mode)) {
            if (!Lock(fd, false)) return RefusedByErrno<Source>();
            file->size_ = static_cast<std::uint64_t>(st.st_size);
        } else {
            if (S_ISDIR(st.st_mode)) return Refused<Source>(FileFault::IsDirectory);
            if (!streams) return Refused<Source>(FileFault::NotRegularFile);
            // A FIFO opened this way shows its end only once a writer has
            // come and gone: until its writer's first bytes or end, the
            // tool waits, as a reader's blocking open would.
            if (S_ISFIFO(st.st_mode)) {
                pollfd ready{fd, POLLIN, 0};
                while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
                }
            }
            file->stream_ = true;
        }
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return RefusedByErrno<Source>();
        file->device_ = static_cast<std::uint64_t>(st.st_dev);
        file->inode_ = static_cast<std::uint64_t>(st.st_ino);
        return {std::move(file), {}};
    }

    static FileOpening<TKC_destinationfile> CreateDestination(std::u16string_view name, const TKC_sourcefile& source,
                                                              bool streams);

    // Links the written file into place: an unnamed one under a new name
    // first (straight to the target when there is none yet), then renamed
    // over the target, so that the replacement is atomic.
    static bool LinkIntoPlace(TKC_destinationfile& file);

    // The whole new file into the destination, which keeps its inode.
    static bool CopyInto(int from, int to) noexcept;
};

TKC_file::~TKC_file() { FileAccess::Close(handle_); }

std::size_t TKC_file::Read(Bytes buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(FileAccess::Fd(handle_), buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(errno == EISDIR ? FileFault::IsDirectory : FileFault::ReadError, errno);
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
            const int error = n < 0 ? errno : ENOSPC;  // nothing written and no error: the device is full
            Fail(FaultOfSystemError(error) == FileFault::NoSpace ? FileFault::NoSpace : FileFault::WriteError, error);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

FileOpening<TKC_sourcefile> TKC_sourcefile::Open(std::u16string_view name) { return FileAccess::OpenSource(name, false); }

FileOpening<TKC_sourcefile> TKC_sourcefile::OpenAny(std::u16string_view name) { return FileAccess::OpenSource(name, true); }

FileOpening<TKC_sourcefile> TKC_sourcefile::StandardInput() {
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return FileAccess::RefusedByErrno<TKC_sourcefile>();
    auto file = std::make_unique<TKC_sourcefile>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return FileAccess::RefusedByErrno<TKC_sourcefile>();
    file->stream_ = true;
    file->device_ = static_cast<std::uint64_t>(st.st_dev);
    file->inode_ = static_cast<std::uint64_t>(st.st_ino);
    return {std::move(file), {}};
}

FileOpening<TKC_destinationfile> TKC_destinationfile::Create(std::u16string_view name, const TKC_sourcefile& source) {
    return FileAccess::CreateDestination(name, source, false);
}

FileOpening<TKC_destinationfile> TKC_destinationfile::CreateAny(std::u16string_view name, const TKC_sourcefile& source) {
    return FileAccess::CreateDestination(name, source, true);
}

FileOpening<TKC_destinationfile> TKC_destinationfile::StandardOutput() {
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return FileAccess::RefusedByErrno<TKC_destinationfile>();
    auto file = std::make_unique<TKC_destinationfile>(fd);
    file->writeMode_ = TWriteMode::Stream;
    return {std::move(file), {}};
}

FileOpening<TKC_destinationfile> FileAccess::CreateDestination(std::u16string_view name, const TKC_sourcefile& source,
                                                               bool streams) {
    using Dest = TKC_destinationfile;
    std::string target = ToNativeFileName(name);
    if (target.empty() || HasNull(name)) return Refused<Dest>(FileFault::InvalidName);
    std::intptr_t targetFd = -1;
    struct Release {
        std::intptr_t& handle;
        ~Release() { Close(handle); }
    } release{targetFd};

    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) return Refused<Dest>(FileFault::IsDirectory);
        if (!S_ISREG(st.st_mode)) {
            if (!streams) return Refused<Dest>(FileFault::NotRegularFile);
            // Waits for a FIFO's reader, as a shell's redirection does.
            const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0) return RefusedByErrno<Dest>();
            auto file = std::make_unique<TKC_destinationfile>(fd);
            file->writeMode_ = TKC_destinationfile::TWriteMode::Stream;
            return {std::move(file), {}};
        }
        // The source under another name (hard or symbolic link) must not be replaced.
        if (SameFile(st, source)) return Refused<Dest>(FileFault::SameFile);
        // Replace the file a symbolic link points to, not the link.
        std::vector<char> resolved(PATH_MAX + 1);
        if (::realpath(target.c_str(), resolved.data()) == nullptr) return RefusedByErrno<Dest>();
        target = resolved.data();
        // Opening for writing (without truncating or waiting) proves the
        // right to write it; the lock proves nobody else holds it.
        targetFd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (targetFd < 0 || ::fstat(Fd(targetFd), &st) != 0) return RefusedByErrno<Dest>();
        if (!S_ISREG(st.st_mode)) return Refused<Dest>(FileFault::NotRegularFile);
        if (SameFile(st, source)) return Refused<Dest>(FileFault::SameFile);
        if (!Lock(Fd(targetFd), true)) return RefusedByErrno<Dest>();
    } else if (errno != ENOENT) {
        return RefusedByErrno<Dest>();
    }

    const std::string directory = DirectoryOf(target);
    // Read access lets the directory be synced after the rename; search
    // access alone still lets the files in it be made and renamed.
    int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) directoryFd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) return RefusedByErrno<Dest>();
    std::intptr_t directoryHandle = directoryFd;
    struct Release releaseDirectory{directoryHandle};

    // The new file is unnamed until it is complete, so that nothing is left
    // of it if the process ends before; where the file system cannot make
    // one, it has a name that is removed on failure and by the tool's
    // signal handlers. Either is readable by its owner alone until it
    // takes its place.
    std::string temporary;
    int fd = ::openat(directoryFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    for (int attempt = 0; fd < 0 && errno != EACCES && errno != EPERM && errno != EROFS && attempt < 16; ++attempt) {
        // Known before it exists, so that no moment leaves it unknown.
        temporary = directory + "/" + RandomLeaf();
        RegisterTemporary(temporary);
        fd = ::openat(directoryFd, LeafOf(temporary).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) break;
        const int error = errno;
        UnregisterTemporary(temporary);
        temporary.clear();
        if (error != EEXIST) break;
        errno = error;
    }
    if (fd < 0) {
        // No new file can be made here, but the destination itself may be
        // writable: it is written in place, as the only way left.
        if (targetFd < 0 || (errno != EACCES && errno != EPERM) || ::ftruncate(Fd(targetFd), 0) != 0)
            return RefusedByErrno<Dest>();
        auto file = std::make_unique<TKC_destinationfile>(std::exchange(targetFd, -1));
        file->writeMode_ = TKC_destinationfile::TWriteMode::InPlace;
        file->existed_ = true;
        return {std::move(file), {}};
    }

    auto file = std::make_unique<TKC_destinationfile>(fd);
    if (!temporary.empty()) {
        file->temporary_ = temporary;
        RegisterTemporary(file->temporary_);
        UnregisterTemporary(temporary);
    }
    file->target_ = std::move(target);
    file->existed_ = existed;
    // Other links to the destination would keep the old content if it
    // were replaced: it is written over instead, once the result is ready.
    if (existed && st.st_nlink > 1) file->writeMode_ = TKC_destinationfile::TWriteMode::CopyInto;
    file->targetHandle_ = std::exchange(targetFd, -1);
    file->directory_ = std::exchange(directoryHandle, -1);
    return {std::move(file), {}};
}

bool FileAccess::CopyInto(int from, int to) noexcept {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    off_t at = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::pread(from, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t put = 0; ok && put < n;) {
            const ssize_t m = ::pwrite(to, buffer.data() + put, static_cast<std::size_t>(n - put), at + put);
            if (m < 0 && errno == EINTR) continue;
            ok = m > 0;
            if (ok) put += m;
        }
        if (!ok) break;
        at += n;
    }
    SecureFill(buffer, 0);
    return ok && ::ftruncate(to, at) == 0 && ::fsync(to) == 0;
}

bool FileAccess::LinkIntoPlace(TKC_destinationfile& file) {
    const int directory = Fd(file.directory_);
    const std::string leaf = LeafOf(file.target_);
    if (file.temporary_.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(Fd(file.handle_));
        const auto link = [&](const std::string& as) {
            if (::linkat(AT_FDCWD, self.c_str(), directory, as.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
            // Without /proc, the same needs the right to link any open file.
            return errno == ENOENT && ::linkat(Fd(file.handle_), "", directory, as.c_str(), AT_EMPTY_PATH) == 0;
        };
        if (!file.existed_ && link(leaf)) return true;
        const std::string directoryPath = DirectoryOf(file.target_);
        for (int attempt = 0; attempt < 16 && file.temporary_.empty(); ++attempt) {
            // Known before it exists, so that no moment leaves it unknown.
            file.temporary_ = directoryPath + "/" + RandomLeaf();
            RegisterTemporary(file.temporary_);
            if (link(LeafOf(file.temporary_))) break;
            const int error = errno;
            UnregisterTemporary(file.temporary_);
            file.temporary_.clear();
            if (error != EEXIST) return false;
        }
        if (file.temporary_.empty()) return false;
    }
    return ::renameat(directory, LeafOf(file.temporary_).c_str(), directory, leaf.c_str()) == 0;
}

bool TKC_destinationfile::Commit() {
    const int fd = FileAccess::Fd(handle_);
    if (Failed()) return false;
    // A failure from here on is the errno of the call that failed; one that
    // names no file fault is a write error.
    const auto fail = [this] {
        const int error = errno;
        const FileFault fault = FaultOfSystemError(error);
        Fail(fault == FileFault::Other || fault == FileFault::None ? FileFault::WriteError : fault, error);
        return false;
    };
    switch (writeMode_) {
        case TWriteMode::Stream: return true;
        case TWriteMode::InPlace: return (committed_ = ::fsync(fd) == 0) || fail();
        case TWriteMode::CopyInto: return (committed_ = FileAccess::CopyInto(fd, FileAccess::Fd(targetHandle_))) || fail();
        case TWriteMode::Replace: break;
    }
    if (existed_) {
        struct stat st {};
        if (::fstat(FileAccess::Fd(targetHandle_), &st) != 0) return fail();
        FileAccess::CopyMetadata(FileAccess::Fd(targetHandle_), fd, st);
    } else {
        (void)::fchmod(fd, 0666 & ~FileAccess::Umask());
    }
    if (::fsync(fd) != 0 || !FileAccess::LinkIntoPlace(*this)) return fail();
    committed_ = true;
    UnregisterTemporary(temporary_);
    // The new name is durable only once the directory is; a file system
    // that cannot sync a directory says EINVAL, and a directory opened for
    // search only cannot be synced (EBADF).
    const int directory = FileAccess::Fd(directory_);
    return ::fsync(directory) == 0 || errno == EINVAL || errno == EBADF || fail();
}

TKC_destinationfile::~TKC_destinationfile() {
    if (!temporary_.empty()) {
        if (!committed_ || writeMode_ != TWriteMode::Replace) ::unlink(temporary_.c_str());
        UnregisterTemporary(temporary_);
    }
    FileAccess::Close(targetHandle_);
    FileAccess::Close(directory_);
}

}  // namespace kestrune
