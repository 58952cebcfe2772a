// One Intel HEX record line for test inputs, checksum computed, without its
// line end: testhex::record(0x0010, 0, {1, 2}) is ":020010000102EB".
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testhex {

inline std::string record(uint16_t address, uint8_t type, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> r{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address & 0xFF), type};
    r.insert(r.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : r) sum = static_cast<uint8_t>(sum + b);
    r.push_back(static_cast<uint8_t>(0x100 - sum));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : r) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line;
}

}  // namespace testhex
