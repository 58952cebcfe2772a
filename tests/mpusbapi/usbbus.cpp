#include "usbbus.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace usbbus {

namespace {

// Descriptors as the kernel shows them in sysfs: the device descriptor, then
// the active configuration with everything in it, little-endian throughout.
std::string descriptors(uint16_t vendor, uint16_t product) {
    const uint8_t bytes[] = {
        // device: USB 2.0, class per interface, control packets of 64,
        // vendor, product, release 0.01, no strings, one configuration
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40,
        uint8_t(vendor), uint8_t(vendor >> 8), uint8_t(product), uint8_t(product >> 8),
        0x01, 0x00, 0x00, 0x00, 0x00, 0x01,
        // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
        0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
        // interface 0: two endpoints, vendor class
        0x09, 0x04, 0x00, 0x00, 0x02, 0xff, 0x00, 0x00, 0x00,
        // endpoint 0x01: bulk OUT, 64-byte packets
        0x07, 0x05, 0x01, 0x02, 0x40, 0x00, 0x00,
        // endpoint 0x81: bulk IN, 64-byte packets
        0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,
    };
    std::string hex;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
    }
    return hex;
}

}  // namespace

bus::bus() : testbed(umockdev_testbed_new()) {}

bus::~bus() {
    // The testbed's worker thread, which calls the handlers, ends with it.
    g_object_unref(testbed);
    for (auto &d : devices) {
        fakeprogrammer::detach(*d);
    }
}

bool mocked() { return umockdev_in_mock_environment(); }

fakeprogrammer::device &plug(bus &b, unsigned busnumber, unsigned port, uint16_t vendor,
                             uint16_t product) {
    if (busnumber < 1 || busnumber >= 128) {
        throw std::invalid_argument("bus number out of range");
    }
    unsigned devnum = ++b.lastdevnum[busnumber];
    if (devnum == 1) {
        devnum = ++b.lastdevnum[busnumber];  // 1 is the root hub's
    }
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/%03u/%03u", busnumber, devnum);
    std::string name = std::to_string(busnumber) + "-" + std::to_string(port);
    std::string path = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(busnumber) + "/" + name;
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", vendor, product);

    std::string description = "P: " + path + "\n" +
                              "N: " + node + "\n" +
                              "E: SUBSYSTEM=usb\n"
                              "E: DEVTYPE=usb_device\n"
                              "E: DEVNAME=/dev/" + node + "\n" +
                              "E: BUSNUM=" + std::string(node + 8, 3) + "\n" +
                              "E: DEVNUM=" + std::string(node + 12, 3) + "\n" +
                              ids +
                              "A: busnum=" + std::to_string(busnumber) + "\n" +
                              "A: devnum=" + std::to_string(devnum) + "\n" +
                              "A: dev=189:" + std::to_string((busnumber - 1) * 128 + devnum - 1) + "\n" +
                              "A: speed=12\n"
                              "A: bConfigurationValue=1\n"
                              "A: bNumConfigurations=1\n"
                              "A: bNumInterfaces= 1\n"
                              "H: descriptors=" + descriptors(vendor, product) + "\n";

    auto d = std::make_unique<fakeprogrammer::device>();
    d->syspath = "/sys" + path;
    d->devnode = "/dev/" + std::string(node);
    fakeprogrammer::attach(*d);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(b.testbed, d->devnode.c_str(), d->handler, &error) ||
        !umockdev_testbed_add_from_string(b.testbed, description.c_str(), &error)) {
        std::string message = error != nullptr ? error->message : "?";
        g_clear_error(&error);
        fakeprogrammer::detach(*d);
        throw std::runtime_error("cannot plug a device into the testbed: " + message);
    }
    b.devices.push_back(std::move(d));
    return *b.devices.back();
}

void unplug(bus &b, fakeprogrammer::device &d) {
    fakeprogrammer::unplug(d);
    // Without the uevent libusb would go on listing the device.
    umockdev_testbed_uevent(b.testbed, d.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(b.testbed, d.syspath.c_str());
}

}  // namespace usbbus
