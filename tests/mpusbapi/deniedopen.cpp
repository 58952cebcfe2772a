#include "deniedopen.h"

#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>

namespace deniedopen {

namespace {

std::mutex lock;
char denied[256];  // set by deny(), emptied by allowall()

bool refused(const char *path) {
    std::lock_guard guard(lock);
    return path != nullptr && denied[0] != '\0' && std::strcmp(path, denied) == 0;
}

template <typename function>
function next(const char *name) {
    return reinterpret_cast<function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void deny(const std::string &path) {
    std::lock_guard guard(lock);
    std::strncpy(denied, path.c_str(), sizeof denied - 1);
}

void allowall() {
    std::lock_guard guard(lock);
    denied[0] = '\0';
}

}  // namespace deniedopen

// libusb opens device nodes through open(), or __open_2() where it was built
// with fortified sources.
extern "C" __attribute__((visibility("default"))) int open(const char *path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = mode_t(va_arg(rest, int));
        va_end(rest);
    }
    if (deniedopen::refused(path)) {
        errno = EACCES;
        return -1;
    }
    static auto real = deniedopen::next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}

extern "C" __attribute__((visibility("default"))) int __open_2(const char *path, int flags) {
    if (deniedopen::refused(path)) {
        errno = EACCES;
        return -1;
    }
    static auto real = deniedopen::next<int (*)(const char *, int)>("__open_2");
    return real(path, flags);
}
