// The USB link: the two pipe handles and the one exchange through which every
// command packet travels.
#pragma once
#include <cstdint>

namespace usbprocs {

extern int32_t outpipe;  // endpoint 1 OUT; set by openprogrammer, -1 = invalid
extern int32_t inpipe;   // endpoint 1 IN; set by openprogrammer, -1 = invalid

inline constexpr uint32_t transfertimeout = 1000;  // ms, for every write and read

// One packet written, one reply read. replylength: on entry the exact number of
// reply bytes expected, on return the number received (unchanged when nothing
// was read). Result 1 = exactly the expected length, 2 = shorter, 0 = failure.
int32_t usbtransfer(const uint8_t *packet, int32_t packetlength, uint8_t *reply,
                    int32_t &replylength, uint32_t writetimeout, uint32_t readtimeout);

// After a failed library write or read: errno 6 closes both pipes silently,
// any other code writes "Error Code <n>".
void usberror();

// Both handles back to -1 without closing anything (tests).
void reset();

}  // namespace usbprocs
