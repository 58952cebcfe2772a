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

void appendrecord(std::string &out, uint16_t address, uint8_t type, const uint8_t *data, size_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    bytestring record{static_cast<uint8_t>(count), static_cast<uint8_t>(address >> 8),
                      static_cast<uint8_t>(address), type};
    record.insert(record.end(), data, data + count);
    uint8_t sum = 0;
    for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
    record.push_back(static_cast<uint8_t>(-sum));
    out += ':';
    for (uint8_t b : record) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    out += "\r\n";
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

bool writehexfile(const std::string &path, const uint8_t *memory, uint32_t size, std::string &error) {
    std::string text;
    text.reserve(size / 16 * 45 + 64);
    int32_t upper = -1;
    for (uint32_t a = 0; a < size; a += 16) {
        if (static_cast<int32_t>(a >> 16) != upper) {
            upper = static_cast<int32_t>(a >> 16);
            const uint8_t u[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            appendrecord(text, 0, 4, u, 2);
        }
        appendrecord(text, static_cast<uint16_t>(a), 0, memory + a, std::min<uint32_t>(16, size - a));
    }
    appendrecord(text, 0, 1, nullptr, 0);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace benchhex
