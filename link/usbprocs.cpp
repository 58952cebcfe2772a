// The USB link: every command packet goes out and every reply comes back
// through usbtransfer, the one place that calls _MPUSBWrite and _MPUSBRead.
#include "usbprocs.h"

#include <cerrno>
#include <iostream>

#include "mpusbapi.h"
#include "packets.h"

namespace usbprocs {

int32_t outpipe = -1;
int32_t inpipe = -1;

namespace {

// The last-error code that says the handle is no longer valid (device gone).
constexpr int invalidhandle = 6;
static_assert(ENXIO == invalidhandle, "the library reports an invalid handle as ENXIO");

}  // namespace

int32_t usbtransfer(const uint8_t *packet, int32_t packetlength, uint8_t *reply,
                    int32_t &replylength, uint32_t writetimeout, uint32_t readtimeout) {
    const int32_t expected = replylength;
    if (outpipe == -1 || inpipe == -1) return 0;
    // Every packet and every reply fits in one 64-byte USB packet, and the
    // caller's reply buffer is 64 bytes: anything else is never put on the wire.
    if (packetlength < 0 || packetlength > packets::maxpacket || expected < 0 ||
        expected > packets::maxpacket)
        return 0;

    uint32_t written = 0;  // not examined
    if (_MPUSBWrite(outpipe, packet, static_cast<uint32_t>(packetlength), &written,
                    writetimeout) == 0) {
        usberror();
        return 0;
    }

    // The library reports the number of bytes received through a count of its
    // own; after a failed read replylength holds whatever it left there.
    uint32_t received = static_cast<uint32_t>(replylength);
    if (_MPUSBRead(inpipe, reply, static_cast<uint32_t>(expected), &received, readtimeout) == 0) {
        replylength = static_cast<int32_t>(received);
        usberror();
        return 0;
    }
    replylength = static_cast<int32_t>(received);

    if (received == static_cast<uint32_t>(expected)) return 1;
    if (received < static_cast<uint32_t>(expected)) return 2;
    return 0;  // more than expected
}

void usberror() {
    const int code = errno;
    if (code == invalidhandle) {
        _MPUSBClose(outpipe);
        _MPUSBClose(inpipe);
        outpipe = -1;
        inpipe = -1;
        return;
    }
    std::cout << "Error Code " << code << "\n";
}

void reset() {
    outpipe = -1;
    inpipe = -1;
}

}  // namespace usbprocs
