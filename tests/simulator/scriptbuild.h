// Building packets for the tests, step by step as the host's scripts do.
#pragma once
#include <cstdint>
#include <vector>

namespace scriptbuild {

struct packet {
    std::vector<uint8_t> bytes{0x53, 0};
    int reads = 0;

    packet &core(uint16_t word) { return op(0x00).word(word); }
    packet &tablewrite(uint16_t w) { return op(0x0C).word(w); }
    packet &tablewritepostinc(uint16_t w) { return op(0x0D).word(w); }
    packet &tablewritestart(uint16_t w) { return op(0x0F).word(w); }
    packet &read() { ++reads; return op(0x19); }
    packet &reads_(int n) { for (int i = 0; i < n; ++i) read(); return *this; }
    packet &erasehold() { return op(0x20).word(0); }
    packet &settableptr(uint32_t a) { return op(0x30).address(a); }
    packet &programhold() { return op(0x40); }
    // The table pointer through core instructions, as the host's block read does.
    packet &pointer(uint32_t a) {
        return core(static_cast<uint16_t>(0x0E00 | ((a >> 16) & 0xFF))).core(0x6EF8)
            .core(static_cast<uint16_t>(0x0E00 | ((a >> 8) & 0xFF))).core(0x6EF7)
            .core(static_cast<uint16_t>(0x0E00 | (a & 0xFF))).core(0x6EF6);
    }
    packet &panelwrite(uint8_t opbyte, uint32_t a, const std::vector<uint8_t> &data) {
        op(opbyte).address(a);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    packet &configwrite(const std::vector<uint8_t> &fourteen) {
        op(0x60);
        bytes.insert(bytes.end(), fourteen.begin(), fourteen.end());
        return *this;
    }
    size_t replylength() const { return 1 + static_cast<size_t>(reads); }

  private:
    packet &op(uint8_t o) {
        bytes.push_back(o);
        ++bytes[1];
        return *this;
    }
    packet &word(uint16_t w) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
        return *this;
    }
    packet &address(uint32_t a) {
        bytes.push_back(static_cast<uint8_t>(a >> 16));
        bytes.push_back(static_cast<uint8_t>(a >> 8));
        bytes.push_back(static_cast<uint8_t>(a));
        return *this;
    }
};

// The scripts of the host, as fixed byte sequences.
inline packet oldstyleerase() {
    packet p;
    return p.pointer(0x3C0004).tablewrite(0x0080).core(0x0000).erasehold();
}
inline packet newstyleerase() {
    packet p;
    return p.pointer(0x3C0005).tablewrite(0x0F0F).pointer(0x3C0004).tablewrite(0x8787).core(0x0000).erasehold();
}
// writepanels: n panels of b bytes at `a`, data panel after panel.
inline packet panelwrite(bool newstyle, uint8_t opbyte, uint32_t a, const std::vector<uint8_t> &data) {
    packet p;
    p.core(0x8EA6).core(0x8CA6).core(0x86A6).settableptr(0x3C0006);
    if (newstyle) p.core(0x0000);
    else p.tablewrite(0x0040);
    return p.core(0x8EA6).core(0x9CA6).panelwrite(opbyte, a, data).programhold();
}
inline packet configwrite(const std::vector<uint8_t> &fourteen) {
    packet p;
    return p.core(0x8EA6).core(0x8CA6).core(0x86A6).settableptr(0x300000).configwrite(fourteen);
}
inline packet readblock(uint32_t a, int count) {
    packet p;
    return p.pointer(a).reads_(count);
}
inline packet readmore(int count) {
    packet p;
    return p.reads_(count);
}
inline std::vector<uint8_t> vpp(bool on) { return {0x51, static_cast<uint8_t>(on ? 0 : 1)}; }

}  // namespace scriptbuild
