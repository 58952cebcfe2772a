// Benchmark helper for the HEX reader (run by benchmarks/hexread.sh):
//   hexbench make FILE SIZE   writes SIZE bytes of data as 16-byte records
//   hexbench load FILE SIZE   loads FILE into an image of SIZE bytes
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "globaldata.h"
#include "hexfileread.h"
#include "hexfilewrite.h"
#include "runerror.h"

namespace {

int32_t size = 0;

void make(const std::string &name) {
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) runerror::failcreate(name);
    hexfilewrite::hexwriter writer;
    hexfilewrite::inithexwriter(writer, fd);
    bytestring record(16);
    uint32_t seed = 1;
    for (int32_t address = 0; address < size; address += 16) {
        for (auto &b : record) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(seed >> 24);
        }
        if (!hexfilewrite::writedatarecord(writer, address, record)) runerror::fail("write failed");
    }
    if (!hexfilewrite::writeeofrecord(writer) || close(fd) != 0) runerror::fail("write failed");
}

void load(const std::string &name) {
    std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
    globaldata::memimage = image.data();
    globaldata::imagesize = size;
    hexfileread::loadhexfile(name);
    // Something of the image must be used, or the load proves nothing.
    uint32_t sum = 0;
    for (uint8_t b : image) sum += b;
    if (sum == 0) std::cout << "empty image\n";
}

void run(int argc, char **argv) {
    if (argc != 4) runerror::fail("usage: hexbench make|load FILE SIZE");
    std::string mode = argv[1];
    size = static_cast<int32_t>(std::strtol(argv[3], nullptr, 0));
    if (size <= 0 || size % 16 != 0) runerror::fail("SIZE must be a positive multiple of 16");
    if (mode == "make")
        make(argv[2]);
    else if (mode == "load")
        load(argv[2]);
    else
        runerror::fail("usage: hexbench make|load FILE SIZE");
}

}  // namespace

int main(int argc, char **argv) { return runerror::runguarded(run, argc, argv, std::cout); }
