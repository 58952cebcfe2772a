// The file a fuzz target hands its input to: made and at once unlinked, so
// that nothing is left behind however the fuzzer ends; it is reached through
// this process's descriptor.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzzinput {

struct scratchfile {
    int fd = -1;
    std::string path;  // /proc/self/fd/N
};

inline const scratchfile &inputfile() {
    static const scratchfile file = [] {
        const char *folder = std::getenv("TMPDIR");
        std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/fuzzinputXXXXXX";
        scratchfile f;
        f.fd = mkstemp(pattern.data());
        if (f.fd < 0) std::abort();
        unlink(pattern.c_str());
        f.path = "/proc/self/fd/" + std::to_string(f.fd);
        return f;
    }();
    return file;
}

// Replaces the file's content with the input.
inline void writewhole(const uint8_t *data, size_t size) {
    const int fd = inputfile().fd;
    if (ftruncate(fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
}

}  // namespace fuzzinput
