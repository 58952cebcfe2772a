// Helpers shared by the HEX file and gridseed tests: a scratch folder, whole
// files, records with their checksum, an image to load into, and running
// programs (srec_cat, gridseed) with their output captured.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "bytestring.h"
#include "globaldata.h"
#include "hexfileread.h"

#include "hexrecord.h"

namespace hextest {

// A fresh folder, removed with all it holds at the end of the test.
struct scratchdir {
    std::filesystem::path path;
    scratchdir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hextestXXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~scratchdir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

inline void writefile(const std::string &name, const std::string &content) {
    std::ofstream(name, std::ios::binary) << content;
}

inline std::string readfile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One record line (without line end) with its checksum computed:
// record(0x0010, 0, {1, 2}) is ":020010000102EB".
using testhex::record;

inline std::string upperaddress(uint16_t upper) {
    return record(0, 4, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)});
}

inline const std::string eofrecord = ":00000001FF";

// The program-memory image that loadhexfile fills, set up as the programming
// run does (all 0xFF), with the reader's and globaldata's state fresh.
struct image {
    std::vector<uint8_t> bytes;
    explicit image(size_t size) : bytes(size, 0xFF) {
        globaldata::reset();
        hexfileread::reset();
        globaldata::memimage = bytes.data();
        globaldata::imagesize = static_cast<int32_t>(size);
    }
    ~image() { globaldata::reset(); }
    image(const image &) = delete;
    image &operator=(const image &) = delete;
};

// Runs a shell command and gives its standard output; status gets the exit
// code (-1 when it did not end normally).
inline std::string commandoutput(const std::string &command, int &status) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        status = -1;
        return out;
    }
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int w = pclose(p);
    status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return out;
}

// The bytes srec_cat reads from a HEX file in [from, from + size), 0xFF where
// the file has none.
inline bytestring sreccatimage(const std::string &hexfile, uint32_t from, uint32_t size, int &status) {
    char range[64];
    std::snprintf(range, sizeof range, "0x%X 0x%X", from, from + size);
    std::string cmd = std::string(PICWREN_SRECCAT) + " '" + hexfile + "' -intel -crop " + range +
                      " -offset -" + std::to_string(from) + " -fill 0xFF 0 " + std::to_string(size) +
                      " -o - -binary 2>/dev/null";
    std::string out = commandoutput(cmd, status);
    return bytestring(out.begin(), out.end());
}

}  // namespace hextest
