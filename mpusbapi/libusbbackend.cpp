// libusb-1.0 backend: real programmers on the USB bus.
//
// Instances are the attached devices that match the selector, ordered by bus
// number and then by port path, so that an instance number names the same
// programmer for as long as nothing is plugged or unplugged. All handles of
// one programmer share a single libusb device handle; its pipes also share
// the claim of interface 0, which is released, and the device closed, when
// the last handle of that programmer closes.
//
// Single-threaded, like the programs that call it: no locks.
#include <libusb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>
#include <tuple>
#include <vector>

#include "backend.h"

#ifndef MPUSBAPI_RULESFILE
#define MPUSBAPI_RULESFILE "/usr/local/lib/udev/rules.d/70-picwren.rules"
#endif

namespace mpusbapi {

namespace {

constexpr uint16_t vendorid = 0x04d8;
constexpr uint16_t productid = 0x000c;
constexpr int interfacenumber = 0;
constexpr unsigned char outendpoint = 0x01;  // endpoint 1, host to device
constexpr unsigned char inendpoint = 0x81;   // endpoint 1, device to host
constexpr size_t packetsize = 64;            // one full-speed bulk packet
constexpr const char *endpointname = "\\MCHP_EP1";

// One open programmer. The first pipe claims the interface; the last handle
// to let go of it releases the claim and closes the device.
struct openeddevice {
    libusb_device_handle *handle = nullptr;
    bool claimed = false;

    explicit openeddevice(libusb_device_handle *h) : handle(h) {}
    openeddevice(const openeddevice &) = delete;
    openeddevice &operator=(const openeddevice &) = delete;
    ~openeddevice() {
        if (claimed) {
            // Fails harmlessly when the device has gone.
            libusb_release_interface(handle, interfacenumber);
        }
        libusb_close(handle);
    }
};

enum class pipekind { presence, out, in };

struct pipehandle {
    std::shared_ptr<openeddevice> device;  // empty while the handle is free
    pipekind kind = pipekind::presence;
};

libusb_context *context = nullptr;  // set by session(), ended by libusbreset()
std::vector<pipehandle> pipes;      // indexed by handle; set by openpipe(), closepipe()

libusb_context *session() {
    if (context == nullptr) {
        libusb_context *started = nullptr;
        if (libusb_init(&started) != LIBUSB_SUCCESS) {
            return nullptr;  // no USB support here: no devices either
        }
        context = started;
    }
    return context;
}

// The attached devices, freed on every way out.
struct devicelist {
    libusb_device **list = nullptr;
    ssize_t size = 0;

    devicelist() {
        if (libusb_context *c = session()) {
            size = libusb_get_device_list(c, &list);
            if (size < 0) {
                list = nullptr;
                size = 0;
            }
        }
    }
    devicelist(const devicelist &) = delete;
    devicelist &operator=(const devicelist &) = delete;
    ~devicelist() {
        if (list != nullptr) {
            libusb_free_device_list(list, 1);
        }
    }
};

bool isprogrammer(libusb_device *device) {
    libusb_device_descriptor descriptor{};
    return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
           descriptor.idVendor == vendorid && descriptor.idProduct == productid;
}

// The matching devices in instance order: bus number, then port path.
std::vector<libusb_device *> instances(const devicelist &attached) {
    struct place {
        uint8_t bus;
        std::vector<uint8_t> ports;
        libusb_device *device;
    };
    std::vector<place> found;
    for (ssize_t i = 0; i < attached.size; ++i) {
        libusb_device *device = attached.list[i];
        if (!isprogrammer(device)) {
            continue;
        }
        std::array<uint8_t, 8> ports{};  // USB allows at most 7 tiers of hubs
        int depth = libusb_get_port_numbers(device, ports.data(), int(ports.size()));
        found.push_back({libusb_get_bus_number(device),
                         std::vector<uint8_t>(ports.begin(), ports.begin() + std::max(depth, 0)),
                         device});
    }
    std::stable_sort(found.begin(), found.end(), [](const place &a, const place &b) {
        return std::tie(a.bus, a.ports) < std::tie(b.bus, b.ports);
    });
    std::vector<libusb_device *> ordered;
    for (const place &p : found) {
        ordered.push_back(p.device);
    }
    return ordered;
}

// The open programmer behind an existing handle, if any handle has it open.
std::shared_ptr<openeddevice> alreadyopen(libusb_device *device) {
    for (const pipehandle &p : pipes) {
        if (p.device && libusb_get_device(p.device->handle) == device) {
            return p.device;
        }
    }
    return nullptr;
}

void permissionhint() {
    std::fprintf(stderr,
                 "libmpusbapi: no permission to open the programmer (USB 04d8:000c); install "
                 "the udev rules file %s and plug the programmer in again\n",
                 MPUSBAPI_RULESFILE);
}

std::shared_ptr<openeddevice> opendevice(libusb_device *device, bool probe) {
    libusb_device_handle *handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result != LIBUSB_SUCCESS) {
        if (result == LIBUSB_ERROR_ACCESS && probe) {
            permissionhint();
        }
        return nullptr;
    }
    return std::make_shared<openeddevice>(handle);
}

bool claim(openeddevice &device) {
    // A kernel driver bound to the interface lets go first, and gets it back
    // when the claim is released.
    libusb_set_auto_detach_kernel_driver(device.handle, 1);
    if (libusb_claim_interface(device.handle, interfacenumber) != LIBUSB_SUCCESS) {
        return false;
    }
    device.claimed = true;
    return true;
}

// Handle numbers count up and are never given out twice, so that closing a
// handle a second time cannot close somebody else's pipe.
int32_t addpipe(std::shared_ptr<openeddevice> device, pipekind kind) {
    if (pipes.size() >= size_t(INT32_MAX)) {
        return -1;
    }
    pipes.push_back({std::move(device), kind});
    return int32_t(pipes.size() - 1);
}

pipehandle *openhandle(int32_t handle) {
    if (handle < 0 || size_t(handle) >= pipes.size() || !pipes[size_t(handle)].device) {
        return nullptr;
    }
    return &pipes[size_t(handle)];
}

int errnofor(int result) {
    switch (result) {
    case LIBUSB_ERROR_NO_DEVICE:
        return ENXIO;
    case LIBUSB_ERROR_TIMEOUT:
        return ETIMEDOUT;
    case LIBUSB_ERROR_PIPE:
        return EPIPE;
    default:
        return EIO;
    }
}

// One bulk transfer; a stalled endpoint is cleared so that the next packet
// gets through. libusb reads a time-out of 0 as "wait for ever": the shortest
// real one stands in for it, so that every call stays bounded.
int bulktransfer(pipehandle &p, unsigned char endpoint, unsigned char *data, int length, int *done,
                 uint32_t timeout_ms) {
    int result = libusb_bulk_transfer(p.device->handle, endpoint, data, length, done,
                                      timeout_ms == 0 ? 1u : timeout_ms);
    if (result == LIBUSB_ERROR_PIPE) {
        libusb_clear_halt(p.device->handle, endpoint);
    }
    return result;
}

uint32_t countdevices(const char *vidpid) {
    if (!selectormatches(vidpid)) {
        return 0;
    }
    devicelist attached;
    return uint32_t(instances(attached).size());
}

int32_t openpipe(uint32_t instance, const char *vidpid, const char *endpoint, uint32_t direction) {
    if (!selectormatches(vidpid)) {
        return -1;
    }
    pipekind kind = pipekind::presence;
    if (endpoint != nullptr) {
        if (strcasecmp(endpoint, endpointname) != 0 || direction > 1) {
            return -1;
        }
        kind = direction == 0 ? pipekind::out : pipekind::in;
    }
    devicelist attached;
    std::vector<libusb_device *> found = instances(attached);
    if (instance >= found.size()) {
        return -1;
    }
    std::shared_ptr<openeddevice> device = alreadyopen(found[instance]);
    if (!device) {
        device = opendevice(found[instance], kind == pipekind::presence);
        if (!device) {
            return -1;
        }
    }
    if (kind != pipekind::presence && !device->claimed && !claim(*device)) {
        return -1;
    }
    return addpipe(std::move(device), kind);
}

uint32_t writepipe(int32_t handle, const void *data, uint32_t length, uint32_t *written,
                   uint32_t timeout_ms) {
    pipehandle *p = openhandle(handle);
    if (p == nullptr) {
        errno = ENXIO;
        return 0;
    }
    if (p->kind != pipekind::out || (data == nullptr && length > 0) || length > INT_MAX) {
        errno = EIO;
        return 0;
    }
    // libusb takes a non-const buffer for both directions; an OUT transfer
    // only reads it.
    auto *bytes = static_cast<unsigned char *>(const_cast<void *>(data));
    int sent = 0;
    int result = bulktransfer(*p, outendpoint, bytes, int(length), &sent, timeout_ms);
    if (written != nullptr) {
        *written = uint32_t(sent);
    }
    if (result != LIBUSB_SUCCESS) {
        errno = errnofor(result);
        return 0;
    }
    return 1;
}

uint32_t readpipe(int32_t handle, void *data, uint32_t length, uint32_t *received,
                  uint32_t timeout_ms) {
    pipehandle *p = openhandle(handle);
    if (p == nullptr) {
        errno = ENXIO;
        return 0;
    }
    if (p->kind != pipekind::in || (data == nullptr && length > 0)) {
        errno = EIO;
        return 0;
    }
    // Always room for a whole packet, so that a reply longer than the caller
    // asked for arrives whole and its real length shows.
    std::array<unsigned char, packetsize> packet{};
    int got = 0;
    int result = bulktransfer(*p, inendpoint, packet.data(), int(packet.size()), &got, timeout_ms);
    if (result != LIBUSB_SUCCESS) {
        errno = errnofor(result);
        return 0;
    }
    size_t copied = std::min(size_t(got), size_t(length));
    if (copied > 0) {
        std::memcpy(data, packet.data(), copied);
    }
    if (received != nullptr) {
        *received = uint32_t(got);
    }
    return 1;
}

uint32_t closepipe(int32_t handle) {
    pipehandle *p = openhandle(handle);
    if (p == nullptr) {
        return 0;
    }
    p->device.reset();
    return 1;
}

const backend thebackend{countdevices, openpipe, writepipe, readpipe, closepipe};

}  // namespace

const backend &libusbbackend() { return thebackend; }

void libusbreset() {
    pipes.clear();
    if (context != nullptr) {
        libusb_exit(context);
        context = nullptr;
    }
}

}  // namespace mpusbapi
