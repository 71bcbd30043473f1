// Faults of other file systems for the tool's tests, loaded with LD_PRELOAD:
//   KESTRUNE_FAULT_FLOCK=<errno>  flock fails with that error, as on NFS
//                                  (EBADF for an exclusive lock on a read-only open)
//   KESTRUNE_FAULT_TMPFILE=1      the file system cannot make unnamed files
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace {

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool RefuseUnnamed(int flags) { return (flags & O_TMPFILE) == O_TMPFILE && std::getenv("KESTRUNE_FAULT_TMPFILE") != nullptr; }

mode_t ModeOf(int flags, std::va_list args) { return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0; }

// openat and openat64 alike: refuse an unnamed file where asked, else pass on.
int OpenAt(const char* symbol, int directory, const char* path, int flags, mode_t mode) {
    if (RefuseUnnamed(flags)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    using Open = int (*)(int, const char*, int, ...);
    return Next<Open>(symbol)(directory, path, flags, mode);
}

}  // namespace

extern "C" int flock(int fd, int operation) {
    if (const char* error = std::getenv("KESTRUNE_FAULT_FLOCK")) {
        errno = std::atoi(error);
        return -1;
    }
    static const auto next = Next<int (*)(int, int)>("flock");
    return next(fd, operation);
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat", directory, path, flags, mode);
}

extern "C" int openat64(int directory, const char* path, int flags, ...) {
    std::va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat64", directory, path, flags, mode);
}
