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
