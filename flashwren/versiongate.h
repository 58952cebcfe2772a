// The firmware version gate: which programmer firmware flashwren works with.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace versiongate {

// A version, byte 0 the most significant; shown as "00.00.01".
using fwversion = std::array<uint8_t, 3>;

inline constexpr fwversion requiredversion{0x00, 0x00, 0x01};   // what this tool speaks
inline constexpr fwversion widewriteversion{0x00, 0x00, 0x02};  // first to take writes over 32 bytes

extern fwversion firmwareversion;  // the firmware's own version; set by checkfirmware

std::string versiontext(const fwversion &version);

// Above 0 when a is the newer version, below 0 when it is the older, 0 when equal.
int compareversion(const fwversion &a, const fwversion &b);

// Asks the programmer for its versions, writes the version line, stores
// firmwareversion and ends the run when the firmware does not fit.
void checkfirmware();

// The part of checkfirmware after the query, on the 8-byte reply.
void judgefirmware(const uint8_t *reply);

// Ends the run when the device takes more than 32 bytes per panel in one write
// and the firmware is older than widewriteversion.
void checkwritesize();

void reset();

}  // namespace versiongate
