#include "globaldata.h"

namespace globaldata {

devicespecrecord devicespec;
uint8_t *memimage = nullptr;
int32_t imagesize = 0;
std::array<uint8_t, 14> configbytes = [] {
    std::array<uint8_t, 14> a;
    a.fill(0xFF);
    return a;
}();

void reset() {
    devicespec = devicespecrecord{};
    memimage = nullptr;
    imagesize = 0;
    configbytes.fill(0xFF);
}

}  // namespace globaldata
