// Console integer input, shared by every prompt of the console programs.
#pragma once
#include <cstdint>
#include <istream>
#include <string>

namespace consoleinput {

// Reads one integer: blanks, control characters and empty lines before it are
// skipped; at end of input the value is 0. The token runs to the next blank or
// control character (at most 32 characters) and is either an optional sign and
// decimal digits within the signed 32-bit range, or "$" and hexadecimal digits
// taken as a 32-bit pattern (at most 8 significant). The rest of the line is
// read and discarded. Anything else raises "Invalid numeric input".
int32_t readinteger(std::istream &in);

// Reads one whole line (without its line end). False at end of input with
// nothing read. Of a line longer than 65536 characters (no file name is) only
// the first 65536 are kept; the rest is read and dropped, so that memory does
// not grow with the line.
bool readline(std::istream &in, std::string &line);

}  // namespace consoleinput
