// The two ways the library serves its five functions: libusb (real hardware)
// and the virtual bench. Internal to libmpusbapi.so.
#pragma once
#include <cstdint>

namespace mpusbapi {

struct backend {
    uint32_t (*getdevicecount)(const char *vidpid);
    int32_t (*open)(uint32_t instance, const char *vidpid, const char *endpoint, uint32_t direction);
    uint32_t (*write)(int32_t handle, const void *data, uint32_t length, uint32_t *written,
                      uint32_t timeout_ms);
    uint32_t (*read)(int32_t handle, void *data, uint32_t length, uint32_t *received,
                     uint32_t timeout_ms);
    uint32_t (*close)(int32_t handle);
};

const backend &libusbbackend();  // mpusbapi/libusbbackend.cpp
const backend &simbackend();     // simulator/simbackend.cpp

// Closes every libusb handle and ends the libusb session, so that the next
// call starts afresh (tests). mpusbapi/libusbbackend.cpp
void libusbreset();

// True when the selector is "vid_04d8&pid_000c" in any case.
bool selectormatches(const char *vidpid);

}  // namespace mpusbapi
