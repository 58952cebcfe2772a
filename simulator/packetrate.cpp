// Benchmark: packets per second through libmpusbapi.so on the virtual bench,
// one write and one read per packet, with the trace on and off. Prints
// figures; it is not a test.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mpusbapi.h"

namespace {

constexpr const char *selector = "vid_04d8&pid_000c";

std::vector<uint8_t> panelwrite(uint32_t address) {
    std::vector<uint8_t> p{0x53, 0x09, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x8C, 0x00, 0xA6, 0x86, 0x30, 0x3C, 0x00, 0x06,
                           0x0C, 0x40, 0x00, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x9C, 0x58,
                           static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address)};
    for (int i = 0; i < 32; ++i) p.push_back(static_cast<uint8_t>(i * 13));
    p.push_back(0x40);
    return p;
}

double rate(const char *dir, bool trace, const char *what) {
    std::ofstream(std::string(dir) + "/bench.ini")
        << "[bench]\ntrace = " << (trace ? 1 : 0) << "\n[programmer0]\npart = PIC18F452\n";
    std::filesystem::remove(std::string(dir) + "/trace.txt");
    int32_t out = _MPUSBOpen(0, selector, "\\MCHP_EP1", 0, 0), in = _MPUSBOpen(0, selector, "\\MCHP_EP1", 1, 0);
    if (out < 0 || in < 0) {
        std::fprintf(stderr, "cannot open the bench programmer\n");
        std::exit(1);
    }
    uint8_t reply[64];
    uint32_t n = 0;
    const uint8_t vppon[2] = {0x51, 0x00};
    _MPUSBWrite(out, vppon, 2, &n, 1000);
    _MPUSBRead(in, reply, 1, &n, 1000);

    const std::string kind = what;
    std::vector<uint8_t> packet;
    uint32_t replylength = 0;
    if (kind == "version") {
        packet = {0x50, 0x00};
        replylength = 8;
    } else if (kind == "readmore") {
        packet.assign(34, 0x19);
        packet[0] = 0x53;
        packet[1] = 32;
        replylength = 33;
    }
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    long packets = 0;
    double seconds = 0;
    do {
        for (int k = 0; k < 1000; ++k, ++packets) {
            if (kind == "panelwrite") {
                packet = panelwrite(static_cast<uint32_t>((packets % 1024) * 8));
                replylength = 1;
            }
            if (!_MPUSBWrite(out, packet.data(), static_cast<uint32_t>(packet.size()), &n, 1000) ||
                !_MPUSBRead(in, reply, replylength, &n, 1000) || n != replylength) {
                std::fprintf(stderr, "packet %ld failed\n", packets);
                std::exit(1);
            }
        }
        seconds = std::chrono::duration<double>(clock::now() - start).count();
    } while (seconds < 1.0);
    _MPUSBClose(out);
    _MPUSBClose(in);
    return packets / seconds;
}

}  // namespace

int main() {
    char templ[] = "/tmp/packetrateXXXXXX";
    if (!mkdtemp(templ)) return 1;
    setenv("MPUSBAPI_SIM", templ, 1);
    std::printf("packets per second through libmpusbapi.so on the virtual bench (one write + one read each)\n");
    std::printf("%-34s %12s %12s\n", "packet", "trace on", "trace off");
    const struct {
        const char *kind, *label;
    } rows[] = {{"version", "version query (2 -> 8 bytes)"},
                {"panelwrite", "4 x 8 panel write (61 -> 1 bytes)"},
                {"readmore", "readmore 32 (34 -> 33 bytes)"}};
    for (const auto &r : rows) {
        double on = rate(templ, true, r.kind);
        double off = rate(templ, false, r.kind);
        std::printf("%-34s %12.0f %12.0f\n", r.label, on, off);
    }
    std::filesystem::remove_all(templ);
    return 0;
}
