#include "hexdump.h"

#include <iostream>
#include <string>

#include "bytestring.h"
#include "consoleinput.h"
#include "hexfilewrite.h"
#include "outputfile.h"
#include "picprocs.h"

namespace hexdump {

namespace {

// The dump's output file, closed however the dump ends.
struct dumpfile {
    int fd;
    explicit dumpfile(const std::string &name) : fd(outputfile::createoutputfile(name)) {}
    dumpfile(const dumpfile &) = delete;
    dumpfile &operator=(const dumpfile &) = delete;
    ~dumpfile() {
        if (fd >= 0) outputfile::closeoutputfile(fd);
    }
    // Closes now; false when the close reported an error.
    bool close() {
        bool closed = outputfile::closeoutputfile(fd);
        fd = -1;
        return closed;
    }
};

// The dump loop proper; false when it stopped early (its line is written).
bool writedump(hexfilewrite::hexwriter &writer) {
    for (int i = 0; i < reads; ++i) {
        // One script sets the table pointer to 0; every later read goes on
        // from where the previous one left it.
        bytestring block = i == 0 ? picprocs::readblock(0, readsize) : picprocs::readmore(readsize);
        // A read gives exactly the bytes asked for, or none after its own
        // failure lines.
        if (block.size() != readsize) {
            std::cout << "error-reading aborted\n";
            return false;
        }
        int32_t address = i * readsize;
        bytestring first(block.begin(), block.begin() + recordsize);
        bytestring second(block.begin() + recordsize, block.end());
        if (!hexfilewrite::writedatarecord(writer, address, first) ||
            !hexfilewrite::writedatarecord(writer, address + recordsize, second)) {
            std::cout << "error-writing aborted\n";
            return false;
        }
        if (i % readspermark == readspermark - 1) std::cout << "*" << std::flush;
    }
    std::cout << "\n";
    return true;
}

}  // namespace

void dumphexfile() {
    std::cout << "enter filename\n";
    std::string name;
    consoleinput::readline(std::cin, name);
    dumpfile file(name);
    hexfilewrite::hexwriter writer;
    hexfilewrite::inithexwriter(writer, file.fd);
    if (!writedump(writer)) return;
    // The file is only whole once its end record and the close went through.
    bool written = hexfilewrite::writeeofrecord(writer);
    if (!file.close() || !written) std::cout << "error-writing aborted\n";
}

}  // namespace hexdump
