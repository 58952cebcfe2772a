// Intel HEX in and out for the bench tool: reading any ordinary HEX file into
// address/byte pairs, and writing program memory in the project's dump form.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "bytestring.h"

namespace benchhex {

// Reads record types 00, 01, 02 and 04 (03 and 05 are skipped); checks every
// checksum. False with `error` naming the line on any fault.
bool readhexfile(const std::string &path, std::map<uint32_t, uint8_t> &bytes, std::string &error);

// One extended-linear-address record, 16-byte data records from address 0 up
// (a new 04 record at each 64 KB boundary), the end-of-file record; every line
// ends in CR LF.
bool writehexfile(const std::string &path, const uint8_t *memory, uint32_t size, std::string &error);

}  // namespace benchhex
