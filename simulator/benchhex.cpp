#include "benchhex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace benchhex {

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool readhexfile(const std::string &path, std::map<uint32_t, uint8_t> &bytes, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    uint32_t base = 0;
    unsigned lineno = 0;
    bool ended = false;
    while (std::getline(in, line)) {
        ++lineno;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty()) continue;
        const std::string where = path + " line " + std::to_string(lineno) + ": ";
        if (ended) {
            error = where + "record after the end-of-file record";
            return false;
        }
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) {
            error = where + "not a HEX record";
            return false;
        }
        bytestring r;
        for (size_t i = 1; i < line.size(); i += 2) {
            int hi = nibble(line[i]), lo = nibble(line[i + 1]);
            if (hi < 0 || lo < 0) {
                error = where + "not a HEX record";
                return false;
            }
            r.push_back(static_cast<uint8_t>(hi * 16 + lo));
        }
        if (r.size() != r[0] + 5u) {
            error = where + "record length does not match its count";
            return false;
        }
        uint8_t sum = 0;
        for (uint8_t b : r) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) {
            error = where + "checksum failure";
            return false;
        }
        const uint32_t address = (uint32_t{r[1]} << 8) | r[2];
        const uint8_t type = r[3];
        const uint8_t *data = r.data() + 4;
        switch (type) {
        case 0:
            for (uint32_t i = 0; i < r[0]; ++i) bytes[base + address + i] = data[i];
            break;
        case 1: ended = true; break;
        case 2:
            if (r[0] != 2) { error = where + "bad extended segment address"; return false; }
            base = ((uint32_t{data[0]} << 8) | data[1]) << 4;
            break;
        case 4:
            if (r[0] != 2) { error = where + "bad extended linear address"; return false; }
            base = ((uint32_t{data[0]} << 8) | data[1]) << 16;
            break;
        case 3: case 5: break;
        default:
            error = where + "unknown record type";
            return false;
        }
    }
    return true;
}

}  // namespace benchhex
