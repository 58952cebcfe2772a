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
// - A data record goes into the image only when it fits whole; each of its
//   bytes that falls in 0x300000..0x30000D sets that configuration byte.
// - CR, LF and CR LF end a line; only 1000 characters after the colon count.
// - A record with a character that is no hex digit fails the checksum test.
// - A file that ends without an end-of-file record, and an extended-address
//   record of fewer than 2 data bytes, end the run: nothing is guessed.
void loadhexfile(const std::string &filename);

void reset();

}  // namespace hexfileread
