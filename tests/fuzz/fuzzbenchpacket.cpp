// The virtual bench's packet interpreter on arbitrary packets of up to 64
// bytes (and a few longer, which it must refuse). An input is a run of
// packets, each a length byte and that many bytes, played on a fresh chip of
// one of three parts (old-style, new-style, 64-byte write buffers) picked by
// the first byte. For every packet:
// - a refused packet gets no reply but a named violation, and leaves the chip
//   file exactly as it was (a configwrite refused at its step may follow
//   steps that already ran);
// - an answered packet gets exactly the reply a correct host expects;
// - without Vpp nothing but raising Vpp changes the chip;
// - the chip file keeps its layout: marker, size, a 22-bit table pointer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchconfig.h"
#include "chipmemory.h"
#include "firmware.h"

namespace {

struct bench {
    benchconfig::programmer programmer;
    chipmemory::chip chip;
    std::vector<uint8_t> pristine;  // the whole file of an erased chip, Vpp off
    std::string path;
};

[[noreturn]] void failed(const char *what, const std::string &detail = "") {
    std::fprintf(stderr, "bench packet fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

bench makebench(const char *part) {
    bench b;
    benchconfig::inifile f;
    benchconfig::setkey(f, "programmer0", "part", part);
    benchconfig::bench parsed;
    std::string error;
    // No table at this path: the parts come from the built-in list.
    if (!benchconfig::parsebench(f, "/nonexistent/picspecs.ini", parsed, error) || parsed.programmers.empty())
        failed("bench setup:", error);
    b.programmer = parsed.programmers[0];

    const char *folder = std::getenv("TMPDIR");
    b.path = std::string(folder && *folder ? folder : "/tmp") + "/fuzzbenchXXXXXX";
    int fd = mkstemp(b.path.data());
    if (fd < 0) failed("mkstemp");
    close(fd);
    unlink(b.path.c_str());
    if (chipmemory::openchip(b.path, b.programmer.chip.geometry.flashsize, b.programmer.chip.configmask, false,
                             b.chip, error) != chipmemory::openresult::created)
        failed("chip setup:", error);
    unlink(b.path.c_str());  // the mapping stays; nothing is left behind
    const auto *map = static_cast<const uint8_t *>(b.chip.map);
    b.pristine.assign(map, map + b.chip.maplen);
    return b;
}

std::vector<bench> &benches() {
    static std::vector<bench> all = [] {
        std::vector<bench> v;
        for (const char *part : {"PIC18F452", "PIC18F4550", "PIC18F4620"}) v.push_back(makebench(part));
        return v;
    }();
    return all;
}

std::string hexdump(const uint8_t *p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X ", p[i]);
        s += buf;
    }
    return s;
}

void checklayout(const bench &b, const uint8_t *packet, size_t length) {
    const chipmemory::chipstate &s = *b.chip.state;
    if (std::memcmp(s.magic, "PWCHIP1", 8) != 0 || s.flashsize != b.chip.flashsize)
        failed("chip file header damaged by", hexdump(packet, length));
    if (s.tblptr > 0x3FFFFF) failed("table pointer beyond 22 bits after", hexdump(packet, length));
    if (s.vpp > 1 || s.multipanel > 1) failed("flag out of range after", hexdump(packet, length));
    for (const auto &w : s.buffers)
        if (w.loaded > 1) failed("write buffer flag out of range after", hexdump(packet, length));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    bench &b = benches()[data[0] % benches().size()];
    auto *map = static_cast<uint8_t *>(b.chip.map);
    std::memcpy(map, b.pristine.data(), b.pristine.size());

    std::vector<uint8_t> before(b.chip.maplen);
    size_t at = 1;
    while (at < size) {
        // 0 to 67 bytes: every length a packet may have, and a few too long.
        size_t length = data[at++] % 68;
        if (length > size - at) length = size - at;
        const uint8_t *packet = data + at;
        at += length;

        std::memcpy(before.data(), map, b.chip.maplen);
        const bool vppwason = b.chip.state->vpp != 0;
        firmware::outcome out = firmware::handlepacket(b.programmer, b.chip, packet, length);
        const bool changed = std::memcmp(before.data(), map, b.chip.maplen) != 0;

        if (!out.replied) {
            if (out.violation.empty()) failed("refused without a violation:", hexdump(packet, length));
            if (!out.reply.empty()) failed("refused with a reply:", hexdump(packet, length));
            if (changed && out.violation.find("configwrite") == std::string::npos)
                failed("refused packet changed the chip:", hexdump(packet, length) + "(" + out.violation + ")");
        } else {
            if (!out.violation.empty()) failed("answered with a violation:", hexdump(packet, length));
            const size_t expected = firmware::expectedreply(packet, length);
            if (expected == 0 || out.reply.size() != expected || expected > firmware::maxpacket)
                failed("reply of the wrong length to", hexdump(packet, length));
        }
        const bool raisesvpp = length == 2 && packet[0] == 0x51 && packet[1] == 0x00;
        if (!vppwason && changed && !raisesvpp)
            failed("chip changed without Vpp by", hexdump(packet, length));
        checklayout(b, packet, length);
    }
    return 0;
}
