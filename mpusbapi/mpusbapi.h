/* mpusbapi: the general-purpose USB library through which the programs reach
 * the programmer (vendor 0x04D8, product 0x000C). Our own implementation: real
 * hardware through libusb-1.0, or the virtual bench when the environment
 * variable MPUSBAPI_SIM names a bench directory.
 *
 * After a failed _MPUSBWrite or _MPUSBRead, errno tells why: ENXIO (6) the
 * handle is no longer valid (device gone, or not open), ETIMEDOUT (110) a
 * time-out, EPIPE (32) a stall, EIO (5) any other transfer error. */
#ifndef MPUSBAPI_H
#define MPUSBAPI_H

#include <stdint.h>

#if defined(MPUSBAPI_BUILD)
#define MPUSBAPI_EXPORT __attribute__((visibility("default")))
#else
#define MPUSBAPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Number of attached devices that match the selector "vid_04d8&pid_000c"
 * (case-insensitive); any other selector matches nothing. */
MPUSBAPI_EXPORT uint32_t _MPUSBGetDeviceCount(const char *vidpid);

/* Opens instance number `instance` of the matching devices. With a null
 * endpoint name this is a presence probe. "\\MCHP_EP1" names endpoint 1:
 * direction 0 the bulk OUT pipe, direction 1 the bulk IN pipe. -1 on failure. */
MPUSBAPI_EXPORT int32_t _MPUSBOpen(uint32_t instance, const char *vidpid, const char *endpoint,
                   uint32_t direction, uint32_t reserved);

/* Writes one packet. Nonzero on success. */
MPUSBAPI_EXPORT uint32_t _MPUSBWrite(int32_t handle, const void *data, uint32_t length,
                     uint32_t *written, uint32_t timeout_ms);

/* Reads one reply of up to 64 bytes; copies at most `length` bytes to data and
 * reports the real count in *received, so a longer reply shows. Nonzero on
 * success. */
MPUSBAPI_EXPORT uint32_t _MPUSBRead(int32_t handle, void *data, uint32_t length,
                    uint32_t *received, uint32_t timeout_ms);

/* Closes a handle; closing -1 or a closed handle is harmless. */
MPUSBAPI_EXPORT uint32_t _MPUSBClose(int32_t handle);

#ifdef __cplusplus
}
#endif

#endif
