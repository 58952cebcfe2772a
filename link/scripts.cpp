// The ICSP scripts that erase, write and read the target chip. Each builds one
// script packet, sends it and reports the outcome on the console; none of them
// ends the run.
#include <array>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>

#include "globaldata.h"
#include "packets.h"
#include "picprocs.h"
#include "usbprocs.h"

namespace picprocs {

namespace {

using namespace packets;

// What one packet can hold: 29 frame bytes + data in a panel write, 20 + count
// bytes in readblock, 2 + count bytes in readmore.
constexpr int32_t maxpaneldata = maxpacket - 29;
constexpr int32_t maxreadblock = maxpacket - 20;
constexpr int32_t maxreadmore = maxpacket - 2;

// Sends a finished script; the usbtransfer result, replylength as it left it.
int32_t sendscript(const script &s, std::array<uint8_t, maxpacket> &reply, int32_t &replylength) {
    replylength = replylengthof(s);
    return usbprocs::usbtransfer(s.bytes.data(), s.length, reply.data(), replylength,
                                 usbprocs::transfertimeout, usbprocs::transfertimeout);
}

void reportfailure() { std::cout << usbfailed << "\n"; }

// The line of a script that would not fit in one packet (a fault of ours, never
// sent): the builder refused a step.
bool overflowed(const script &s, const char *what) {
    if (!s.overflow) return false;
    std::cout << what << " does not fit in one packet\n";
    return true;
}

void reportsuccessorfailure(int32_t result) {
    if (result == 1)
        std::cout << "success\n";
    else
        reportfailure();
}

bool powerof2(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

std::string plural(int32_t count, const char *word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string hexaddress(int64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "%06llX",
                  static_cast<unsigned long long>(address & 0xFFFFFFFF));
    return text;
}

// The panel write op can express n = 1, 2, 4, 8 and b = 8, 16, 32, 64, and a
// packet holds 35 data bytes: n and b both powers of two, b at least 8 and
// n x b at most 35.
bool panelshapefits(int32_t n, int32_t b) {
    return powerof2(n) && powerof2(b) && b >= 8 && int64_t{n} * b <= maxpaneldata;
}

// Every panel's b bytes lie within memimage.
bool panelsinimage(int64_t address, int32_t n, int32_t b) {
    if (globaldata::memimage == nullptr) return false;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t start = address + int64_t{i} * globaldata::devicespec.panelsize;
        if (start < 0 || start + b > globaldata::imagesize) return false;
    }
    return true;
}

void refusewrite(int64_t address, int32_t n, int32_t b, const char *why) {
    std::cout << "cannot write " << plural(n, "panel") << " of " << plural(b, "byte") << " at "
              << hexaddress(address) << ": " << why << "\n";
}

// Loads the table pointer through six core instructions: MOVLW and MOVWF for
// TBLPTRU, TBLPTRH and TBLPTRL in turn.
void addpointerload(script &s, int32_t address) {
    const addressbytes a = splitaddress(address);
    addcore(s, movlw + a.upper);
    addcore(s, movwftblptru);
    addcore(s, movlw + a.high);
    addcore(s, movwftblptrh);
    addcore(s, movlw + a.low);
    addcore(s, movwftblptrl);
}

}  // namespace

void bulkerase() {
    // benchdial always erases the old way.
    const bool newstyle =
        variant == linkvariant::flashwren && globaldata::devicespec.newstyle;
    script s;
    beginscript(s);
    if (newstyle) {
        addpointerload(s, 0x3C0005);
        addword(s, tablewrite, 0x0F0F);      // erase word at 0x3C0005
        addpointerload(s, 0x3C0004);
        addword(s, tablewrite, 0x8787);      // erase word at 0x3C0004
        addcore(s, nop);
        addword(s, erasehold, 0x0000);       // data line held low until the erase is done
    } else {
        addpointerload(s, 0x3C0004);
        addword(s, tablewrite, 0x0080);      // erase word at 0x3C0004
        addcore(s, nop);
        addword(s, erasehold, 0x0000);       // data line held low until the erase is done
    }
    if (overflowed(s, "bulk erase")) return;
    std::array<uint8_t, maxpacket> reply{};
    int32_t replylength = 0;
    reportsuccessorfailure(sendscript(s, reply, replylength));
}

void writepanels(int32_t address, int32_t n, int32_t b, bool lastgroup) {
    if (!panelshapefits(n, b)) {
        std::cout << "cannot write " << plural(n, "panel") << " of " << plural(b, "byte")
                  << " in one packet\n";
        return;
    }
    if (!panelsinimage(address, n, b)) {
        refusewrite(address, n, b, "outside the memory image");
        return;
    }
    const bool newstyle = globaldata::devicespec.newstyle;
    const int32_t panelsize = globaldata::devicespec.panelsize;

    // Panel i's bytes, one after the other, from the same offset in the i-th
    // panelsize stretch of memimage.
    std::array<uint8_t, maxpaneldata> data{};
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = 0; j < b; ++j)
            data[static_cast<size_t>(i * b + j)] =
                globaldata::memimage[int64_t{address} + int64_t{i} * panelsize + j];

    script s;
    beginscript(s);
    addcore(s, bsfeepgd);
    addcore(s, bsfcfgs);
    addcore(s, bsfbit3);
    addsettableptr(s, 0x3C0006);
    if (newstyle)
        addcore(s, nop);                     // in place of the multi-panel enable
    else
        addword(s, tablewrite, 0x0040);      // multi-panel write enable on
    addcore(s, bsfeepgd);
    addcore(s, bcfcfgs);
    addpanelwrite(s, panelwriteop(n, b, lastgroup), address, data.data(), n * b);
    addprogramhold(s);
    if (overflowed(s, "panel write")) return;

    std::array<uint8_t, maxpacket> reply{};
    int32_t replylength = 0;
    if (sendscript(s, reply, replylength) != 1) reportfailure();
}

void writechunked(int32_t address, int32_t n, int32_t b) {
    if (b <= 32) {
        writepanels(address, n, b, true);
        return;
    }
    // Larger groups go as single-panel 32-byte chunks of panel 0's stretch;
    // only the last one closes the group.
    const int32_t g = b / 32;
    for (int32_t k = 0; k < g; ++k) {
        const int64_t chunk = int64_t{address} + int64_t{32} * k;
        if (chunk > std::numeric_limits<int32_t>::max()) {
            refusewrite(chunk, 1, 32, "outside the memory image");
            continue;
        }
        writepanels(static_cast<int32_t>(chunk), 1, 32, k == g - 1);
    }
}

void writeconfig() {
    script s;
    beginscript(s);
    addcore(s, bsfeepgd);
    addcore(s, bsfcfgs);
    addcore(s, bsfbit3);
    addsettableptr(s, 0x300000);
    addconfigwrite(s, globaldata::configbytes.data());  // 0x300000 to 0x30000D
    if (overflowed(s, "configuration write")) return;
    std::array<uint8_t, maxpacket> reply{};
    int32_t replylength = 0;
    reportsuccessorfailure(sendscript(s, reply, replylength));
}

namespace {

// Sends a read script of `count` reads: exactly count bytes, or empty on failure.
bytestring finishread(const script &s, uint8_t count) {
    if (overflowed(s, "read")) return {};
    std::array<uint8_t, maxpacket> reply{};
    int32_t replylength = 0;
    if (sendscript(s, reply, replylength) != 1) {
        reportfailure();
        std::cout << replylength << "\n";
        return {};
    }
    return bytestring(reply.begin() + 1, reply.begin() + 1 + count);  // byte 0 unused
}

bool readfits(uint8_t count, int32_t limit) {
    if (count <= limit) return true;
    std::cout << "cannot read " << plural(count, "byte") << " in one packet\n";
    return false;
}

}  // namespace

bytestring readblock(int32_t address, uint8_t count) {
    if (!readfits(count, maxreadblock)) return {};
    script s;
    beginscript(s);
    addpointerload(s, address);
    for (int i = 0; i < count; ++i) addread(s);
    return finishread(s, count);
}

bytestring readmore(uint8_t count) {
    if (!readfits(count, maxreadmore)) return {};
    // No address: reads on from where the previous read left the table pointer.
    script s;
    beginscript(s);
    for (int i = 0; i < count; ++i) addread(s);
    return finishread(s, count);
}

}  // namespace picprocs
