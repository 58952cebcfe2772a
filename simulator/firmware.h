// The programmer's firmware: takes one command packet ("P", "Q", "R", "S"),
// does all it asks of the target, and gives the reply of exactly the length
// the host expects. A packet outside the protocol gets no reply at all: the
// outcome names the violation instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "benchconfig.h"
#include "bytestring.h"
#include "chipmemory.h"

namespace firmware {

inline constexpr size_t maxpacket = 64;

struct outcome {
    bool replied = false;            // false: protocol violation, no reply
    bytestring reply;
    std::string violation;           // why there is no reply
    std::vector<std::string> notes;  // what the chip ignored, for the trace
};

// The reply length a correct host expects for this packet (0 when the packet
// is not one of the protocol's).
size_t expectedreply(const uint8_t *packet, size_t length);

// Runs one packet on the programmer `p` with its chip `c`. A script is checked
// whole before any step runs, so a malformed script changes nothing; only the
// table pointer of a configwrite is checked when that step is reached.
outcome handlepacket(const benchconfig::programmer &p, chipmemory::chip &c, const uint8_t *packet,
                     size_t length);

}  // namespace firmware
