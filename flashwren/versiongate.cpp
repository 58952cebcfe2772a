#include "versiongate.h"

#include <cstdio>
#include <iostream>

#include "globaldata.h"
#include "packets.h"
#include "picprocs.h"
#include "runerror.h"
#include "usbprocs.h"

namespace versiongate {

fwversion firmwareversion{};

std::string versiontext(const fwversion &version) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X.%02X.%02X", version[0], version[1], version[2]);
    return text;
}

int compareversion(const fwversion &a, const fwversion &b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return int{a[i]} - int{b[i]};
    return 0;
}

void checkfirmware() {
    // versionquery: the letter, and a second byte that carries no value.
    uint8_t packet[packets::maxpacket] = {packets::versionquery, 0x00};
    uint8_t reply[packets::maxpacket] = {};
    int32_t replylength = 8;
    if (usbprocs::usbtransfer(packet, 2, reply, replylength, usbprocs::transfertimeout,
                              usbprocs::transfertimeout) != 1)
        runerror::fail(picprocs::usbfailed);
    judgefirmware(reply);
}

void judgefirmware(const uint8_t *reply) {
    const fwversion lastbreak{reply[0], reply[1], reply[2]};
    const fwversion firmware{reply[3], reply[4], reply[5]};
    std::cout << "firmware version:" << versiontext(firmware) << " last break:" << versiontext(lastbreak)
              << " required" << versiontext(requiredversion) << "\n";
    firmwareversion = firmware;
    if (compareversion(requiredversion, firmware) > 0) runerror::fail("version too low");
    if (compareversion(requiredversion, lastbreak) < 0) runerror::fail("version too high");
}

void checkwritesize() {
    if (globaldata::devicespec.bytestowriteperpanel > 32 && compareversion(widewriteversion, firmwareversion) > 0)
        runerror::fail("pics with a write size over 32 bytes need at least firmware version 0.00.02");
}

void reset() { firmwareversion = fwversion{}; }

}  // namespace versiongate
