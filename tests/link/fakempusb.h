// A scripted stand-in for the five library functions, linked into the link
// tests in place of libmpusbapi.so. The test sets up the attached devices and
// queues the exchanges it expects; the fake checks every packet against the
// queue (a hex dump of expected and actual on a mismatch), plays the scripted
// replies and failures, and records every call.
#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bytestring.h"

namespace fakempusb {

// One packet the link is expected to write and what the device does about it.
struct exchange {
    bytestring packet;             // the exact bytes expected on the OUT pipe
    uint32_t readlength = 0;       // the expected length passed to _MPUSBRead
    int writeerror = 0;            // nonzero: the write fails with this errno
    int readerror = 0;             // nonzero: the read fails with this errno
    bytestring reply;              // what the device sends (may be shorter or longer)
    std::optional<uint32_t> leftcount;  // a failed read's *received, when it writes one
};

enum class callkind { getdevicecount, open, write, read, close };

struct call {
    callkind kind = callkind::getdevicecount;
    std::string selector;          // getdevicecount, open
    uint32_t instance = 0;         // open
    bool endpointnull = false;     // open: a presence probe
    std::string endpoint;          // open
    uint32_t direction = 0;        // open
    uint32_t reserved = 0;         // open
    int32_t handle = 0;            // open: the handle returned; write, read, close: passed
    bytestring data;               // write: the packet
    uint32_t length = 0;           // write, read: the length argument
    uint32_t timeout = 0;          // write, read
};

// The device as the test scripts it.
struct setup {
    uint32_t devicecount = 0;              // what _MPUSBGetDeviceCount answers
    std::set<uint32_t> answering;          // instances that answer the probe and open pipes
    std::set<std::pair<uint32_t, uint32_t>> failingpipes;  // (instance, direction) opens that fail
};

// Back to no devices, an empty queue, no calls; handles count from `firsthandle`.
inline constexpr int32_t firsthandle = 10;
void reset(const setup &s = {});

void expect(const exchange &e);   // queues one exchange
const std::vector<call> &calls();  // every call so far, in order
std::vector<call> callsof(callkind kind);
size_t pending();                 // queued exchanges not yet used

// Marks the state of two open pipes of instance 0 without any recorded call:
// returns {outpipe, inpipe} handles that write and read accept.
std::pair<int32_t, int32_t> openpipes();

std::string hex(const bytestring &bytes);

}  // namespace fakempusb
