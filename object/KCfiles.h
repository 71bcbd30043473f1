// Files for the hashing and file encryption operations. Both files of an
// operation are held exclusively for its duration, and a destination is
// written through a new file that replaces it only when all went well, so a
// failure never leaves a partial destination nor destroys an existing one
// (the exceptions, a destination written in place, are those of
// TKC_destinationfile::Create).
//
// The object reads regular (disk) files only. The tool also reads standard
// input, pipes and devices and writes standard output through the same
// classes: such a stream is read to its end, and its bytes are cut into the
// same pieces as a file's, so that the results are the same.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "../framework/KCcrypt.h"

namespace kestrune {

// Why a file operation failed, worked out where the failure happens so that
// nobody has to guess it afterwards. The object's members still answer
// only "" or -1; the tool reports the cause.
enum class FileFault : std::uint8_t {
    None,
    NotFound,          // the file, or a directory on its path, does not exist
    PermissionDenied,  // no right to read, write or create it (a read-only file system too)
    IsDirectory,
    NotRegularFile,    // a device, FIFO or socket where only a file will do
    Locked,            // open or locked by another process
    SameFile,          // source and destination are one file under two names
    InvalidName,       // empty, an embedded null, or a name the system refuses
    ReadError,         // reading failed, or the file delivered fewer bytes than its size
    WriteError,
    NoSpace,           // the disk or the user's quota is full
    OperationFailed,   // not the files: the digest or cipher failed (out of memory)
    Other,             // any other error of the system, kept in systemError
};

// Which file a fault concerns.
enum class FileRole : std::uint8_t { Source, Destination };

struct FileStatus {
    FileFault fault = FileFault::None;
    FileRole role = FileRole::Source;
    int systemError = 0;  // errno or GetLastError() where there was one, else 0

    bool Ok() const noexcept { return fault == FileFault::None; }
    static FileStatus Of(FileFault fault, FileRole role, int systemError = 0) noexcept { return {fault, role, systemError}; }
};

// The fault that a system error code stands for (errno on POSIX,
// GetLastError() on Windows); Other when none fits.
FileFault FaultOfSystemError(int systemError) noexcept;

// Short English text for a fault: "permission denied", "no space left on the device".
const char* FileFaultText(FileFault fault) noexcept;

// A file opened or created, or null with the reason.
template <typename File>
struct FileOpening {
    std::unique_ptr<File> file;
    FileStatus status;
};

// A path as the operating system takes it: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// An open file. Read and Write transfer as much as they can and record any
// error, which the operation checks at the end. A Read fills the whole
// buffer unless the data ends or fails.
class TKC_file : public TKC_stream {
public:
    TKC_file(const TKC_file&) = delete;
    TKC_file& operator=(const TKC_file&) = delete;
    ~TKC_file() override;

    std::size_t Read(Bytes buffer) override;
    std::size_t Write(ConstBytes buffer) override;
    bool Failed() const noexcept { return !status_.Ok(); }
    // The first error a Read, Write or Commit met; None while there was none.
    const FileStatus& Status() const noexcept { return status_; }

protected:
    // Takes ownership of an open platform handle.
    TKC_file(std::intptr_t handle, FileRole role) noexcept : handle_(handle), role_(role) {}
    // Records the first failure only: what follows is usually its consequence.
    void Fail(FileFault fault, int systemError = 0) noexcept {
        if (status_.Ok()) status_ = FileStatus::Of(fault, role_, systemError);
    }
    std::intptr_t handle_;
    FileRole role_;
    FileStatus status_;
};

// Told how many bytes each Read of a source delivered, on the reading
// thread: the tool's progress display. It must be quick.
class ReadObserver {
public:
    virtual void BytesRead(std::size_t count) noexcept = 0;

protected:
    ~ReadObserver() = default;
};

// A source opened for reading, exclusively where it is a file.
class TKC_sourcefile : public TKC_file {
public:
    // A regular file; null with the reason when it is missing, unreadable,
    // held by someone else or anything but a regular file. The open never
    // waits (a FIFO without a writer is refused at once).
    static FileOpening<TKC_sourcefile> Open(std::u16string_view name);
#ifndef _WIN32
    // For the tool: a regular file as Open does, or else any readable
    // non-directory (pipe, FIFO, device) as a stream; the open of a FIFO
    // waits for its writer, as any reader of it does.
    static FileOpening<TKC_sourcefile> OpenAny(std::u16string_view name);
    // For the tool: standard input as a stream.
    static FileOpening<TKC_sourcefile> StandardInput();
#endif
    // A stream is read to its end; a file must deliver Size() bytes at least.
    bool IsStream() const noexcept { return stream_; }
    std::uint64_t Size() const noexcept { return size_; }
    // A whole read that delivered fewer bytes than Size() is a read error.
    void FailShortRead() noexcept { Fail(FileFault::ReadError); }
    explicit TKC_sourcefile(std::intptr_t handle) noexcept : TKC_file(handle, FileRole::Source) {}

    std::size_t Read(Bytes buffer) override {
        const std::size_t delivered = TKC_file::Read(buffer);
        if (observer_ != nullptr) observer_->BytesRead(delivered);
        return delivered;
    }
    // Null for none; the observer must outlive its reads.
    void SetObserver(ReadObserver* observer) noexcept { observer_ = observer; }

private:
    friend struct FileAccess;
    friend class TKC_destinationfile;
    std::uint64_t size_ = 0;
    std::uint64_t device_ = 0, inode_ = 0;
    bool stream_ = false;
    ReadObserver* observer_ = nullptr;
};

// A destination. By default an existing one is replaced by a new file made
// next to it, linked into place only by Commit.
class TKC_destinationfile : public TKC_file {
public:
    // Null with the reason when the destination is the source (by any
    // name), is held by someone else, cannot be written, is not a regular
    // file, or no new file can be made for it. Written in place instead of replaced (links and
    // everything else about the file kept) are: a destination with more than
    // one hard link, which is only written once the whole result is ready
    // beside it; and a writable destination in a directory where no new
    // file can be made, which is truncated at once and so holds a partial
    // result should the operation fail.
    static FileOpening<TKC_destinationfile> Create(std::u16string_view name, const TKC_sourcefile& source);
#ifndef _WIN32
    // For the tool: Create, or an existing pipe, FIFO or device (not a
    // directory) written as it comes.
    static FileOpening<TKC_destinationfile> CreateAny(std::u16string_view name, const TKC_sourcefile& source);
    // For the tool: standard output, written as it comes.
    static FileOpening<TKC_destinationfile> StandardOutput();
#endif
    // Makes the written content the destination; false if that failed,
    // with the reason in Status().
    bool Commit();
    ~TKC_destinationfile() override;
    explicit TKC_destinationfile(std::intptr_t handle) noexcept : TKC_file(handle, FileRole::Destination) {}

    // How the written bytes reach the destination.
    enum class TWriteMode {
        Replace,   // a new file replaces the destination on Commit
        CopyInto,  // a new file is copied into the destination on Commit
        InPlace,   // the destination itself is written
        Stream,    // a pipe, device or standard output
    };
    TWriteMode WriteMode() const noexcept { return writeMode_; }

private:
    friend struct FileAccess;
    NativePath target_;     // the file to replace, symbolic links resolved
    NativePath temporary_;  // the new file's name while it has one, removed unless committed
    std::intptr_t targetHandle_ = -1;  // lock held on an existing destination
    std::intptr_t directory_ = -1;     // the destination's directory (POSIX)
    bool committed_ = false;
    bool existed_ = false;
    TWriteMode writeMode_ = TWriteMode::Replace;
};

#ifndef _WIN32
// Removes the named temporary files that operations in progress have made.
// Safe in a signal handler: the tool calls it on SIGINT, SIGTERM and SIGHUP
// before it ends, so that an interrupted run leaves nothing behind.
void RemoveTemporaryFiles() noexcept;
#endif

}  // namespace kestrune
