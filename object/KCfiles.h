// Files for the hashing and file encryption operations. Both files of an
// operation are held exclusively for its duration, and a destination is
// written through a new file that replaces it only when all went well, so a
// failure never leaves a partial destination nor destroys an existing one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/KCcrypt.h"

namespace kestrune {

// A path as the operating system takes it: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// An open file. Read and Write transfer as much as they can and record any
// error, which the operation checks at the end.
class TKC_file : public TKC_stream {
public:
    TKC_file(const TKC_file&) = delete;
    TKC_file& operator=(const TKC_file&) = delete;
    ~TKC_file() override;

    std::size_t Read(Bytes buffer) override;
    std::size_t Write(ConstBytes buffer) override;
    bool Failed() const noexcept { return failed_; }

protected:
    // Takes ownership of an open platform handle.
    explicit TKC_file(std::intptr_t handle) noexcept : handle_(handle) {}
    std::intptr_t handle_;
    bool failed_ = false;
};

// An existing file opened for reading, exclusively.
class TKC_sourcefile : public TKC_file {
public:
    // Null when the file is missing, unreadable or held by someone else.
    static std::unique_ptr<TKC_sourcefile> Open(std::u16string_view name);
    std::uint64_t Size() const noexcept { return size_; }
    explicit TKC_sourcefile(std::intptr_t handle) noexcept : TKC_file(handle) {}

private:
    friend struct FileAccess;
    friend class TKC_destinationfile;
    std::uint64_t size_ = 0;
    std::uint64_t device_ = 0, inode_ = 0;
};

// A destination written through a new file in the same directory.
class TKC_destinationfile : public TKC_file {
public:
    // Null when the destination is the source (by any name), is held by
    // someone else, cannot be written, or no new file can be made next to it.
    static std::unique_ptr<TKC_destinationfile> Create(std::u16string_view name, const TKC_sourcefile& source);
    // Makes the written content the destination; false if that failed.
    bool Commit();
    ~TKC_destinationfile() override;
    explicit TKC_destinationfile(std::intptr_t handle) noexcept : TKC_file(handle) {}

private:
    friend struct FileAccess;
    NativePath target_;     // the file to replace, symbolic links resolved
    NativePath temporary_;  // the new file, removed unless committed
    std::intptr_t targetHandle_ = -1;  // lock held on an existing destination
    bool committed_ = false;
};

}  // namespace kestrune
