// Command packets and the ICSP script builder.
#include "packets.h"

#include <cmath>
#include <cstring>

namespace packets {

addressbytes splitaddress(int32_t address) {
    // C++ integer division truncates toward zero; the cast keeps the low 8 bits.
    return {static_cast<uint8_t>(address / 65536), static_cast<uint8_t>(address / 256),
            static_cast<uint8_t>(address)};
}

uint8_t panelwriteop(int32_t n, int32_t b, bool lastgroup) {
    if (n < 1 || b < 1) return 0;  // no op for these; writepanels refuses them first
    const long logn = std::lround(std::log2(static_cast<double>(n)));
    const long logb = std::lround(std::log2(static_cast<double>(b) / 8.0));
    const long op = 0x50 + 4 * logn + logb + (lastgroup ? 0 : 0x20);
    return static_cast<uint8_t>(op);
}

namespace {

// Reserves room for one step of `size` bytes and counts it; false (and the
// script marked overflowed, nothing added) when the step would pass 64 bytes.
bool takestep(script &s, int32_t size) {
    if (size < 1 || s.length + size > maxpacket) {
        s.overflow = true;
        return false;
    }
    ++s.steps;
    s.bytes[1] = static_cast<uint8_t>(s.steps);
    return true;
}

void put(script &s, uint8_t byte) { s.bytes[static_cast<size_t>(s.length++)] = byte; }

void putaddress(script &s, int32_t address) {
    const addressbytes a = splitaddress(address);
    put(s, a.upper);
    put(s, a.high);
    put(s, a.low);
}

}  // namespace

void beginscript(script &s) {
    s = script{};
    s.bytes[0] = scriptpacket;
    s.bytes[1] = 0;  // step count, kept up to date by every step
}

void addword(script &s, uint8_t op, uint16_t word) {
    if (!takestep(s, 3)) return;
    put(s, op);
    put(s, static_cast<uint8_t>(word & 0xFF));  // low byte first
    put(s, static_cast<uint8_t>(word >> 8));
}

void addcore(script &s, uint16_t instruction) { addword(s, coreinstruction, instruction); }

void addread(script &s) {
    if (!takestep(s, 1)) return;
    put(s, tablereadpostinc);
    ++s.reads;
}

void addsettableptr(script &s, int32_t address) {
    if (!takestep(s, 4)) return;
    put(s, settableptr);
    putaddress(s, address);
}

void addprogramhold(script &s) {
    if (!takestep(s, 1)) return;
    put(s, programhold);
}

void addpanelwrite(script &s, uint8_t op, int32_t address, const uint8_t *data, int32_t count) {
    if (count < 0 || count > maxpacket || !takestep(s, 4 + count)) {
        s.overflow = true;
        return;
    }
    put(s, op);
    putaddress(s, address);
    if (count > 0)
        std::memcpy(&s.bytes[static_cast<size_t>(s.length)], data, static_cast<size_t>(count));
    s.length += count;
}

void addconfigwrite(script &s, const uint8_t *fourteen) {
    if (!takestep(s, 15)) return;
    put(s, configwrite);
    std::memcpy(&s.bytes[static_cast<size_t>(s.length)], fourteen, 14);
    s.length += 14;
}

int32_t replylengthof(const script &s) { return 1 + s.reads; }

}  // namespace packets
