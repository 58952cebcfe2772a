// The five exported functions. The backend is chosen once, here and nowhere
// else: the virtual bench when MPUSBAPI_SIM names a bench directory, libusb
// otherwise.
#include "mpusbapi.h"

#include <cstdlib>
#include <strings.h>

#include "backend.h"

namespace mpusbapi {

bool selectormatches(const char *vidpid) {
    return vidpid != nullptr && strcasecmp(vidpid, "vid_04d8&pid_000c") == 0;
}

namespace {
const backend &chosen() {
    static const backend &b = [] () -> const backend & {
        const char *sim = std::getenv("MPUSBAPI_SIM");
        return (sim && *sim) ? simbackend() : libusbbackend();
    }();
    return b;
}
}  // namespace

}  // namespace mpusbapi

extern "C" {

uint32_t _MPUSBGetDeviceCount(const char *vidpid) { return mpusbapi::chosen().getdevicecount(vidpid); }

int32_t _MPUSBOpen(uint32_t instance, const char *vidpid, const char *endpoint, uint32_t direction,
                   uint32_t) {
    return mpusbapi::chosen().open(instance, vidpid, endpoint, direction);
}

uint32_t _MPUSBWrite(int32_t handle, const void *data, uint32_t length, uint32_t *written,
                     uint32_t timeout_ms) {
    return mpusbapi::chosen().write(handle, data, length, written, timeout_ms);
}

uint32_t _MPUSBRead(int32_t handle, void *data, uint32_t length, uint32_t *received,
                    uint32_t timeout_ms) {
    return mpusbapi::chosen().read(handle, data, length, received, timeout_ms);
}

uint32_t _MPUSBClose(int32_t handle) { return mpusbapi::chosen().close(handle); }

}
