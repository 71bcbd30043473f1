#include "KCfiles.h"

namespace kestrune {

const char* FileFaultText(FileFault fault) noexcept {
    switch (fault) {
        case FileFault::None: return "no error";
        case FileFault::NotFound: return "no such file or directory";
        case FileFault::PermissionDenied: return "permission denied";
        case FileFault::IsDirectory: return "it is a directory";
        case FileFault::NotRegularFile: return "not a regular file";
        case FileFault::Locked: return "in use by another process";
        case FileFault::SameFile: return "source and destination are the same file";
        case FileFault::InvalidName: return "invalid file name";
        case FileFault::ReadError: return "read error";
        case FileFault::WriteError: return "write error";
        case FileFault::NoSpace: return "no space left on the device";
        case FileFault::OperationFailed: return "the operation failed";
        case FileFault::Other: break;
    }
    return "system error";
}

}  // namespace kestrune
