#include "outputfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runerror.h"

namespace outputfile {

int createoutputfile(const std::string &name) {
    // A name with a zero byte in it would reach the system cut short at that
    // byte: another file than the one named would be replaced. It is refused,
    // the zero bytes shown as \0 so that the message names what was typed.
    if (name.find('\0') != std::string::npos) {
        std::string shown;
        for (char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
        runerror::failcreate(shown);
    }
    // Not cut yet: a file that another process holds must stay as it is.
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) runerror::failcreate(name);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        runerror::failcreate(name);
    }
    // Only a regular file has a length to cut; a device or a pipe is written
    // as it is.
    struct stat st;
    if (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        runerror::failcreate(name);
    }
    return fd;
}

bool closeoutputfile(int fd) { return ::close(fd) == 0; }

void failwrite(const std::string &name, int err) {
    runerror::failio("Cannot write file " + name + ": " + std::strerror(err));
}

}  // namespace outputfile
