#include "chipmemory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace chipmemory {

namespace {
constexpr char magic[8] = "PWCHIP1";

bool fitsfile(const chip &c, const struct stat &st, uint32_t flashsize) {
    if (static_cast<size_t>(st.st_size) != headersize + flashsize) return false;
    const auto *s = static_cast<const chipstate *>(c.map);
    return std::memcmp(s->magic, magic, sizeof magic) == 0 && s->flashsize == flashsize;
}
}  // namespace

void clearbuffers(chipstate &s) {
    for (auto &b : s.buffers) {
        b.rowbase = 0;
        b.loaded = 0;
        std::memset(b.bytes, 0xFF, sizeof b.bytes);
    }
}

void resetregisters(chipstate &s) {
    s.wreg = 0;
    s.eecon1 = 0;
    s.multipanel = 0;
    s.tblptr = 0;
    s.erase4 = 0;
    s.erase5 = 0;
    clearbuffers(s);
}

void erasememory(chip &c, const std::array<uint8_t, 14> &configmask) {
    std::memset(c.flash, 0xFF, c.flashsize);
    std::memset(c.state->idlocs, 0xFF, idsize);
    std::memcpy(c.state->config, configmask.data(), configsize);
}

openresult openchip(const std::string &path, uint32_t flashsize, const std::array<uint8_t, 14> &configmask,
                    bool lock, chip &c, std::string &error) {
    c = chip{};
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return openresult::failed;
    }
    if (lock && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) return openresult::busy;
        error = "cannot lock " + path + ": " + std::strerror(e);
        return openresult::failed;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        error = "cannot stat " + path + ": " + std::strerror(errno);
        ::close(fd);
        return openresult::failed;
    }
    const size_t length = headersize + flashsize;
    bool fresh = false;
    if (static_cast<size_t>(st.st_size) != length) {
        if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(length)) != 0) {
            error = "cannot size " + path + ": " + std::strerror(errno);
            ::close(fd);
            return openresult::failed;
        }
        fresh = true;
    }
    void *map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        error = "cannot map " + path + ": " + std::strerror(errno);
        ::close(fd);
        return openresult::failed;
    }
    c.fd = fd;
    c.map = map;
    c.maplen = length;
    c.state = static_cast<chipstate *>(map);
    c.flash = static_cast<uint8_t *>(map) + headersize;
    c.flashsize = flashsize;
    if (!fresh) {
        st.st_size = static_cast<off_t>(length);
        fresh = !fitsfile(c, st, flashsize);
    }
    if (fresh) {
        std::memset(map, 0, headersize);
        std::memcpy(c.state->magic, magic, sizeof magic);
        c.state->flashsize = flashsize;
        c.state->vpp = 0;
        resetregisters(*c.state);
        erasememory(c, configmask);
        return openresult::created;
    }
    return openresult::opened;
}

void closechip(chip &c) {
    if (c.map) munmap(c.map, c.maplen);
    if (c.fd >= 0) ::close(c.fd);
    c = chip{};
}

}  // namespace chipmemory
