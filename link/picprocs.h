// Opening and closing the programmer, Vpp control and the ICSP scripts.
#pragma once
#include <cstdint>
#include <istream>

#include "bytestring.h"

namespace picprocs {

// The two programs differ in two ways, chosen once at start-up by main:
// benchdial's setvpp reports a failure instead of raising it, and benchdial's
// bulkerase always sends the old-style script.
enum class linkvariant { flashwren, benchdial };
extern linkvariant variant;  // set by main before openprogrammer

// Where openprogrammer reads the instance index when several programmers answer.
extern std::istream *consolein;  // std::cin unless a test sets it

// variant and consolein back to their start-up values (tests).
void reset();

// Counts, lists and selects the programmer and opens both pipes. Throws
// runerror::quietend after "no devices found".
void openprogrammer();
void closeprogrammer();

// 0 raises Vpp, 1 lowers it.
void setvpp(uint8_t argument);

// Scripts. None of them raises; each reports its failure on the console.
void bulkerase();
void writepanels(int32_t address, int32_t n, int32_t b, bool lastgroup);
void writechunked(int32_t address, int32_t n, int32_t b);
void writeconfig();
bytestring readblock(int32_t address, uint8_t count);
bytestring readmore(uint8_t count);

// The console line of a recoverable USB failure (24 characters: the words and
// a literal backslash-r-backslash-n).
inline constexpr const char *usbfailed = "USB Operation Failed\\r\\n";

}  // namespace picprocs
