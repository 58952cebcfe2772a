// Reading Intel HEX for the bench tool: any ordinary HEX file into
// address/byte pairs, whatever toolchain wrote it.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "bytestring.h"

namespace benchhex {

// Reads record types 00, 01, 02 and 04 (03 and 05 are skipped); checks every
// checksum. False with `error` naming the line on any fault.
bool readhexfile(const std::string &path, std::map<uint32_t, uint8_t> &bytes, std::string &error);

}  // namespace benchhex
