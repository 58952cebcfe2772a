// A counted string of bytes (0 to 255 each, zero bytes allowed): read results,
// HEX record data and hex text conversions.
#pragma once
#include <cstdint>
#include <vector>

using bytestring = std::vector<uint8_t>;
