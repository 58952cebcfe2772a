// Opening and closing the programmer, and Vpp control.
#include "picprocs.h"

#include <array>
#include <iostream>

#include "consoleinput.h"
#include "mpusbapi.h"
#include "packets.h"
#include "runerror.h"
#include "usbprocs.h"

namespace picprocs {

linkvariant variant = linkvariant::flashwren;
std::istream *consolein = &std::cin;

namespace {

constexpr const char *selector = "vid_04d8&pid_000c";
constexpr const char *endpoint = "\\MCHP_EP1";  // one backslash
constexpr uint32_t writepipe = 0;               // host to programmer
constexpr uint32_t readpipe = 1;                // programmer to host
constexpr uint32_t instancelimit = 127;         // instances 0 to 126 are probed

}  // namespace

void reset() {
    variant = linkvariant::flashwren;
    consolein = &std::cin;
}

void openprogrammer() {
    const uint32_t count = _MPUSBGetDeviceCount(selector);
    std::cout << count << " devices\n";

    // Probe until as many devices answered as were counted.
    uint32_t found = 0;
    uint32_t chosen = 0;
    for (uint32_t i = 0; i < instancelimit; ++i) {
        const int32_t probe = _MPUSBOpen(i, selector, nullptr, readpipe, 0);
        if (probe != -1) {
            std::cout << "Instance Index # " << i << "\n";
            chosen = i;
            _MPUSBClose(probe);
            ++found;
        }
        if (found == count) break;
    }

    if (found == 0) {
        std::cout << "no devices found\n";
        std::cout.flush();
        throw runerror::quietend{};
    }
    if (found == 1) {
        std::cout << "found only one device using it\n";
    } else {
        std::cout << "found multiple devices\n"
                  << "Enter a valid instance index to open a USB connection: \n";
        std::cout.flush();
        // Whatever number is typed is used as it is.
        chosen = static_cast<uint32_t>(consoleinput::readinteger(*consolein));
    }

    usbprocs::outpipe = _MPUSBOpen(chosen, selector, endpoint, writepipe, 0);
    usbprocs::inpipe = _MPUSBOpen(chosen, selector, endpoint, readpipe, 0);
    std::cout << usbprocs::outpipe << " " << usbprocs::inpipe << " " << -1 << "\n";
    if (usbprocs::outpipe == -1 || usbprocs::inpipe == -1)
        std::cout << "Failed to open data pipes.\\r\\n\n";
}

void closeprogrammer() {
    _MPUSBClose(usbprocs::outpipe);
    _MPUSBClose(usbprocs::inpipe);
    usbprocs::outpipe = -1;
    usbprocs::inpipe = -1;
}

void setvpp(uint8_t argument) {
    std::array<uint8_t, packets::maxpacket> packet{};
    std::array<uint8_t, packets::maxpacket> reply{};
    packet[0] = packets::vppcontrol;
    packet[1] = argument;  // 0 raises Vpp, 1 lowers it
    int32_t replylength = 1;  // the reply byte itself is not examined
    if (usbprocs::usbtransfer(packet.data(), 2, reply.data(), replylength,
                              usbprocs::transfertimeout, usbprocs::transfertimeout) == 1) {
        std::cout << "success\n";
        return;
    }
    // flashwren cannot go on without Vpp and ends the run; on benchdial's
    // bench console the menu goes on.
    if (variant == linkvariant::flashwren) runerror::fail(usbfailed);
    std::cout << usbfailed << "\n";
}

}  // namespace picprocs
