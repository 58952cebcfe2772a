// Reading an Intel HEX file into memimage and configbytes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "bytestring.h"

namespace hexfileread {

extern uint16_t extendedaddress;  // set by each extended-linear-address record

bytestring hextobytes(std::string_view text);

// Loads the file (standard input for an empty name) into globaldata::memimage
// (imagesize bytes, set up by the caller) and globaldata::configbytes. Every
// failure raises an error that ends the run.
void loadhexfile(const std::string &filename);

void reset();

}  // namespace hexfileread
