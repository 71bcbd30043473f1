#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <array>
#include <random>
#include <type_traits>
#include <utility>

#include "KCfiles.h"

namespace kestrune {

FileFault FaultOfSystemError(int systemError) noexcept {
    switch (static_cast<DWORD>(systemError)) {
        case ERROR_SUCCESS: return FileFault::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE: return FileFault::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return FileFault::PermissionDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return FileFault::Locked;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return FileFault::NoSpace;
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BAD_PATHNAME: return FileFault::InvalidName;
        case ERROR_DIRECTORY: return FileFault::IsDirectory;
        default: return FileFault::Other;
    }
}

struct FileAccess {
    static constexpr std::intptr_t None = -1;  // INVALID_HANDLE_VALUE
    // The most that one ReadFile or WriteFile call is asked to move.
    static constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

    static HANDLE Handle(std::intptr_t value) noexcept { return reinterpret_cast<HANDLE>(value); }

    template <typename File>
    static FileOpening<File> Refused(FileFault fault, DWORD systemError = 0) noexcept {
        return {nullptr, FileStatus::Of(fault, std::is_same_v<File, TKC_sourcefile> ? FileRole::Source : FileRole::Destination,
                                        static_cast<int>(systemError))};
    }

    // Why opening path failed with error. A directory opens as "access
    // denied", and a file that another open holds as a sharing violation;
    // an open that asks for its attributes only is not refused by share
    // modes, and tells the source under another name from a stranger's file.
    template <typename File>
    static FileOpening<File> RefusedOpen(const NativePath& path, DWORD error, const TKC_sourcefile* source = nullptr) {
        if (error == ERROR_ACCESS_DENIED) {
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                return Refused<File>(FileFault::IsDirectory, error);
        }
        if (error == ERROR_SHARING_VIOLATION && source != nullptr) {
            const HANDLE probe = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (probe != INVALID_HANDLE_VALUE) {
                BY_HANDLE_FILE_INFORMATION info{};
                const bool same = ::GetFileInformationByHandle(probe, &info) && info.dwVolumeSerialNumber == source->device_ &&
                                  Join(info.nFileIndexHigh, info.nFileIndexLow) == source->inode_;
                ::CloseHandle(probe);
                if (same) return Refused<File>(FileFault::SameFile);
            }
        }
        return Refused<File>(FaultOfSystemError(static_cast<int>(error)), error);
    }
    static std::intptr_t Value(HANDLE handle) noexcept { return reinterpret_cast<std::intptr_t>(handle); }

    // The name goes to the W functions as it came. An embedded null would
    // cut it short there and name another file, so such a name is refused.
    static NativePath Path(std::u16string_view name) {
        if (name.find(u'\0') != std::u16string_view::npos) return {};
        return NativePath(name.begin(), name.end());
    }

    // Opened with share mode 0: the open fails while anybody else has the
    // file open, and nobody else can open it until it is closed.
    static HANDLE OpenExclusive(const NativePath& path, DWORD access, DWORD disposition, DWORD flags) noexcept {
        return ::CreateFileW(path.c_str(), access, 0, nullptr, disposition, flags, nullptr);
    }

    // A regular file on a disk, not a directory, device or pipe.
    static bool DiskFileInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) noexcept {
        return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    static std::uint64_t Join(DWORD high, DWORD low) noexcept { return (std::uint64_t{high} << 32) | low; }

    // The path of an open file with every link and relative part resolved.
    static NativePath FinalPath(HANDLE handle) {
        NativePath path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            if (n == 0) return {};
            if (n < path.size()) {
                path.resize(n);
                return path;
            }
            path.resize(n);  // too small: n is the size needed
        }
    }

    static NativePath FullPath(const NativePath& name) {
        NativePath path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
            if (n == 0) return {};
            if (n < path.size()) {
                path.resize(n);
                return path;
            }
            path.resize(n);
        }
    }

    static NativePath DirectoryOf(const NativePath& fullPath) {
        const auto slash = fullPath.find_last_of(L"\\/");
        return slash == NativePath::npos ? NativePath(L".") : fullPath.substr(0, slash);
    }

    static NativePath RandomSuffix() {
        static constexpr wchar_t Digits[] = L"0123456789abcdef";
        std::random_device random;
        NativePath suffix;
        for (int word = 0; word < 2; ++word)
            for (unsigned value = random(), i = 0; i < 8; ++i, value >>= 4) suffix.push_back(Digits[value & 15]);
        return suffix;
    }

    // The whole new file into the destination, which keeps its identity.
    static bool CopyInto(HANDLE from, HANDLE to) noexcept {
        const LARGE_INTEGER start{};
        if (!::SetFilePointerEx(from, start, nullptr, FILE_BEGIN) || !::SetFilePointerEx(to, start, nullptr, FILE_BEGIN))
            return false;
        alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
        bool ok = true;
        for (DWORD got = 0; ok; ) {
            ok = ::ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr);
            if (!ok || got == 0) break;
            DWORD put = 0;
            ok = ::WriteFile(to, buffer.data(), got, &put, nullptr) && put == got;
        }
        SecureFill(buffer, 0);
        return ok && ::SetEndOfFile(to) && ::FlushFileBuffers(to);
    }

    static void Close(std::intptr_t& value) noexcept {
        if (value != None) ::CloseHandle(Handle(value));
        value = None;
    }
};

TKC_file::~TKC_file() { FileAccess::Close(handle_); }

std::size_t TKC_file::Read(Bytes buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto want = static_cast<DWORD>(std::min(buffer.size() - done, FileAccess::MaxTransfer));
        DWORD got = 0;
        if (!::ReadFile(FileAccess::Handle(handle_), buffer.data() + done, want, &got, nullptr)) {
            Fail(FileFault::ReadError, static_cast<int>(::GetLastError()));
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

std::size_t TKC_file::Write(ConstBytes buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto want = static_cast<DWORD>(std::min(buffer.size() - done, FileAccess::MaxTransfer));
        DWORD put = 0;
        if (!::WriteFile(FileAccess::Handle(handle_), buffer.data() + done, want, &put, nullptr) || put == 0) {
            const DWORD error = put == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : ::GetLastError();
            Fail(FaultOfSystemError(static_cast<int>(error)) == FileFault::NoSpace ? FileFault::NoSpace : FileFault::WriteError,
                 static_cast<int>(error));
            break;
        }
        done += put;
    }
    return done;
}

FileOpening<TKC_sourcefile> TKC_sourcefile::Open(std::u16string_view name) {
    using Source = TKC_sourcefile;
    const NativePath path = FileAccess::Path(name);
    if (path.empty()) return FileAccess::Refused<Source>(FileFault::InvalidName);
    const HANDLE handle = FileAccess::OpenExclusive(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) return FileAccess::RefusedOpen<Source>(path, ::GetLastError());
    auto file = std::make_unique<TKC_sourcefile>(FileAccess::Value(handle));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!FileAccess::DiskFileInfo(handle, info)) return FileAccess::Refused<Source>(FileFault::NotRegularFile);
    file->size_ = FileAccess::Join(info.nFileSizeHigh, info.nFileSizeLow);
    file->device_ = info.dwVolumeSerialNumber;
    file->inode_ = FileAccess::Join(info.nFileIndexHigh, info.nFileIndexLow);
    return {std::move(file), {}};
}

FileOpening<TKC_destinationfile> TKC_destinationfile::Create(std::u16string_view name, const TKC_sourcefile& source) {
    using Dest = TKC_destinationfile;
    NativePath target = FileAccess::Path(name);
    if (target.empty()) return FileAccess::Refused<Dest>(FileFault::InvalidName);
    std::intptr_t targetHandle = FileAccess::None;
    struct Release {
        std::intptr_t& handle;
        ~Release() { FileAccess::Close(handle); }
    } release{targetHandle};

    // An existing destination is held exclusively until it is replaced;
    // opening it for writing proves the right to write it. The source is
    // held the same way, so under any other name (hard or symbolic link,
    // short name, other case) it fails here with a sharing violation; the
    // file ids settle it should the source ever be opened differently.
    DWORD keepAttributes = 0;
    bool linked = false;
    const HANDLE existing = FileAccess::OpenExclusive(target, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (existing != INVALID_HANDLE_VALUE) {
        targetHandle = FileAccess::Value(existing);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!FileAccess::DiskFileInfo(existing, info)) return FileAccess::Refused<Dest>(FileFault::NotRegularFile);
        if (info.dwVolumeSerialNumber == source.device_ &&
            FileAccess::Join(info.nFileIndexHigh, info.nFileIndexLow) == source.inode_)
            return FileAccess::Refused<Dest>(FileFault::SameFile);
        // Replace the file a symbolic link points to, not the link.
        target = FileAccess::FinalPath(existing);
        keepAttributes = info.dwFileAttributes &
                         (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        linked = info.nNumberOfLinks > 1;
    } else {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return FileAccess::RefusedOpen<Dest>(target, error, &source);
        target = FileAccess::FullPath(target);
    }
    if (target.empty()) return FileAccess::Refused<Dest>(FileFault::InvalidName, ::GetLastError());

    // The new file goes next to the destination, so that the final move
    // stays on one volume and cannot be a copy.
    const NativePath directory = FileAccess::DirectoryOf(target);
    NativePath temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = directory + L"\\.kestrune-" + FileAccess::RandomSuffix();
        handle = FileAccess::OpenExclusive(temporary, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        // No new file can be made here, but the destination itself is
        // writable: it is written in place, as the only way left.
        const DWORD error = ::GetLastError();
        if (targetHandle == FileAccess::None || error != ERROR_ACCESS_DENIED)
            return FileAccess::Refused<Dest>(FaultOfSystemError(static_cast<int>(error)), error);
        if (!::SetEndOfFile(FileAccess::Handle(targetHandle))) {
            const DWORD truncateError = ::GetLastError();
            return FileAccess::Refused<Dest>(FaultOfSystemError(static_cast<int>(truncateError)), truncateError);
        }
        auto file = std::make_unique<TKC_destinationfile>(std::exchange(targetHandle, FileAccess::None));
        file->writeMode_ = TWriteMode::InPlace;
        file->existed_ = true;
        return {std::move(file), {}};
    }

    auto file = std::make_unique<TKC_destinationfile>(FileAccess::Value(handle));
    file->target_ = std::move(target);
    file->temporary_ = std::move(temporary);
    file->existed_ = targetHandle != FileAccess::None;
    // Other links to the destination would keep the old content if it
    // were replaced: it is written over instead, once the result is ready.
    if (linked) file->writeMode_ = TWriteMode::CopyInto;
    if (keepAttributes != 0) {
        // Times of 0 stay as they are; only the attributes change.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = keepAttributes;
        ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    file->targetHandle_ = std::exchange(targetHandle, FileAccess::None);
    return {std::move(file), {}};
}

bool TKC_destinationfile::Commit() {
    if (Failed()) return false;
    // A failure from here on is the last error of the call that failed; one
    // that names no file fault is a write error.
    const auto fail = [this] {
        const DWORD error = ::GetLastError();
        const FileFault fault = FaultOfSystemError(static_cast<int>(error));
        Fail(fault == FileFault::Other || fault == FileFault::None ? FileFault::WriteError : fault, static_cast<int>(error));
        return false;
    };
    if (!::FlushFileBuffers(FileAccess::Handle(handle_))) return fail();
    if (writeMode_ == TWriteMode::InPlace) return committed_ = true;
    if (writeMode_ == TWriteMode::CopyInto)
        return (committed_ = FileAccess::CopyInto(FileAccess::Handle(handle_), FileAccess::Handle(targetHandle_))) || fail();
    // The move needs both files closed: it opens them itself, and our share
    // mode 0 would refuse it. From here until the move the destination is
    // not held; should anybody open it in between, the move fails and the
    // destination stays as it was.
    FileAccess::Close(handle_);
    FileAccess::Close(targetHandle_);
    // An existing destination keeps its ACL, owner, attributes and streams:
    // ReplaceFileW gives them to the new content.
    const bool moved =
        existed_ ? ::ReplaceFileW(target_.c_str(), temporary_.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)
                 : ::MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved) return fail();
    committed_ = true;
    return true;
}

TKC_destinationfile::~TKC_destinationfile() {
    FileAccess::Close(handle_);
    if (!temporary_.empty() && (!committed_ || writeMode_ != TWriteMode::Replace)) ::DeleteFileW(temporary_.c_str());
    FileAccess::Close(targetHandle_);
}

}  // namespace kestrune
