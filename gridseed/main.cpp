// gridseed: writes testpattern.hex, 32 KB of the Fibonacci sequence modulo 256
// at addresses 0x0000..0x7FFF, into the current directory.
#include <cerrno>
#include <cstdint>
#include <iostream>

#include "bytestring.h"
#include "hexfilewrite.h"
#include "outputfile.h"
#include "runerror.h"

namespace {

const char *const filename = "testpattern.hex";
constexpr int recordcount = 2048;
constexpr int recordsize = 16;

// Closes the file on every way out; a close that reports an error after all
// was written is a failed write.
struct openfile {
    int fd;
    explicit openfile(int f) : fd(f) {}
    openfile(const openfile &) = delete;
    openfile &operator=(const openfile &) = delete;
    ~openfile() {
        if (fd >= 0) outputfile::closeoutputfile(fd);
    }
    void close() {
        int f = fd;
        fd = -1;
        if (!outputfile::closeoutputfile(f)) outputfile::failwrite(filename, errno);
    }
};

void run(int, char **) {
    uint8_t current = 1;
    uint8_t following = 1;
    bytestring record(recordsize);

    openfile file(outputfile::createoutputfile(filename));
    hexfilewrite::hexwriter writer;
    hexfilewrite::inithexwriter(writer, file.fd);
    for (int i = 0; i < recordcount; ++i) {
        for (uint8_t &b : record) {
            b = current;
            uint8_t next = static_cast<uint8_t>(current + following);
            current = following;
            following = next;
        }
        if (!hexfilewrite::writedatarecord(writer, i * recordsize, record))
            outputfile::failwrite(filename, writer.error);
    }
    if (!hexfilewrite::writeeofrecord(writer)) outputfile::failwrite(filename, writer.error);
    file.close();
}

}  // namespace

// No console: the report of an error that ends the run goes to standard error
// under the title of the message box it stands for.
int main(int argc, char **argv) {
    return runerror::runguarded(run, argc, argv, std::cerr, "Application Error");
}
