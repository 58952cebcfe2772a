#include "programrun.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "bytestring.h"
#include "devicetable.h"
#include "globaldata.h"
#include "hexfileread.h"
#include "picprocs.h"
#include "runerror.h"
#include "versiongate.h"

namespace programrun {

std::vector<uint8_t> imagestore;

namespace {

constexpr int32_t deviceidaddress = 0x3FFFFE;  // DEVID1, then DEVID2

void say(const char *line) { std::cout << line << "\n"; }

// Armed once the programmer is open: when the run leaves, however it leaves,
// Vpp goes off and the programmer is closed. The error that ended the steps
// waits in `pending` and is raised again once that is done; if lowering Vpp
// fails, its own error is the one raised and the programmer stays open.
struct programmersession {
    std::exception_ptr pending;

    programmersession() = default;
    programmersession(const programmersession &) = delete;
    programmersession &operator=(const programmersession &) = delete;

    ~programmersession() noexcept(false) {
        if (std::uncaught_exceptions() > 0) {
            // Unwinding past us: the clean-up may not throw here.
            try {
                picprocs::setvpp(1);
                picprocs::closeprogrammer();
            } catch (...) {
            }
            return;
        }
        picprocs::setvpp(1);
        picprocs::closeprogrammer();
        if (pending) std::rethrow_exception(pending);
    }
};

// Reads the two id bytes and writes the device line; returns the masked id.
uint16_t readdeviceid() {
    bytestring id = picprocs::readblock(deviceidaddress, 2);
    if (id.size() != 2) runerror::fail(picprocs::usbfailed);
    const uint16_t deviceid = static_cast<uint16_t>((id[1] * 256 + id[0]) & 0xFFE0);
    const uint8_t revision = id[0] & 0x1F;
    char line[48];
    std::snprintf(line, sizeof line, "device found: id=0x%04X revision=0x%02X", deviceid, revision);
    say(line);
    return deviceid;
}

// The device table is open for the lookup and both entry checks, and released
// when this returns or one of them ends the run.
void lookupdevice(uint16_t deviceid) {
    const devicetable::inifile table = devicetable::openinifile(devicetable::tablepath());
    devicetable::lookup(table, deviceid);
    devicetable::checkentry();
    versiongate::checkwritesize();
}

void steps(int argc, char **argv) {
    say("reading firmware revision");
    versiongate::checkfirmware();
    say("bringing up vpp");
    picprocs::setvpp(0);
    say("reading device id");
    lookupdevice(readdeviceid());
    allocateimage();
    std::cout.flush();  // the device lines show before the run waits for its input
    hexfileread::loadhexfile(argc > 1 ? argv[1] : "");
    picprocs::bulkerase();
    writegroups();
    picprocs::writeconfig();
}

}  // namespace

void run(int argc, char **argv) {
    say("initialising usb");
    picprocs::openprogrammer();
    programmersession session;
    try {
        steps(argc, argv);
    } catch (...) {
        session.pending = std::current_exception();
    }
}

void allocateimage() {
    const globaldata::devicespecrecord &spec = globaldata::devicespec;
    const std::string problem = devicetable::entryproblem(spec);
    if (!problem.empty()) runerror::fail("device entry cannot be programmed: " + problem);
    const int32_t size = spec.panelsize * spec.panelcount;
    try {
        imagestore.assign(static_cast<std::size_t>(size), 0xFF);
    } catch (const std::bad_alloc &) {
        runerror::fail("not enough memory for a program image of " + std::to_string(size) + " bytes");
    }
    globaldata::imagesize = size;
    globaldata::memimage = imagestore.data();
}

bool groupholdsdata(int32_t offset) {
    const globaldata::devicespecrecord &spec = globaldata::devicespec;
    for (int32_t panel = 0; panel < spec.panelcount; ++panel) {
        const uint8_t *first = globaldata::memimage + int64_t{panel} * spec.panelsize + offset;
        if (std::any_of(first, first + spec.bytestowriteperpanel, [](uint8_t b) { return b != 0xFF; }))
            return true;
    }
    return false;
}

void writegroups() {
    const globaldata::devicespecrecord &spec = globaldata::devicespec;
    const int32_t groups = spec.bytestowriteperpanel > 0 ? spec.panelsize / spec.bytestowriteperpanel : 0;
    for (int32_t group = 0; group < groups; ++group) {
        const int32_t offset = group * spec.bytestowriteperpanel;
        if (groupholdsdata(offset)) picprocs::writechunked(offset, spec.panelcount, spec.bytestowriteperpanel);
        if (group % 16 == 15) std::cout << '*' << std::flush;
    }
    std::cout << "\n";
}

void reset() {
    imagestore.clear();
    imagestore.shrink_to_fit();
}

}  // namespace programrun
