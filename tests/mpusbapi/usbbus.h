// A umockdev testbed with fake programmers (or other devices) plugged in at
// chosen places: bus number and port.
#pragma once
#include <umockdev.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "fakeprogrammer.h"

namespace usbbus {

struct bus {
    UMockdevTestbed *testbed = nullptr;
    std::vector<std::unique_ptr<fakeprogrammer::device>> devices;
    unsigned lastdevnum[128] = {};  // device numbers given out per bus

    bus();
    bus(const bus &) = delete;
    bus &operator=(const bus &) = delete;
    ~bus();
};

// True when the process runs under umockdev's preload (umockdev-wrapper).
// Valid only once a testbed exists.
bool mocked();

// A device at port `port` of bus `busnumber` (root hub port, sysfs name
// "B-P"): a full-speed device with one configuration, whose interface 0 has
// the bulk endpoints 0x01 and 0x81.
fakeprogrammer::device &plug(bus &b, unsigned busnumber, unsigned port,
                             uint16_t vendor = 0x04d8, uint16_t product = 0x000c);

// The device is pulled out: its requests fail and it leaves the device list.
void unplug(bus &b, fakeprogrammer::device &d);

}  // namespace usbbus
