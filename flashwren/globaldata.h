// Process-wide programming data of flashwren.
#pragma once
#include <array>
#include <cstdint>

namespace globaldata {

struct devicespecrecord {
    int32_t panelsize = 0;             // bytes of program memory in one panel
    int32_t panelcount = 0;            // number of panels
    int32_t bytestowriteperpanel = 0;  // bytes written into each panel by one write group
    bool newstyle = false;             // newer bulk-erase and panel-write scripts
};

extern devicespecrecord devicespec;            // set by the device table lookup
extern uint8_t *memimage;                      // allocated by the programming run
extern int32_t imagesize;                      // set by the programming run
// 0x300000..0x30000D, set by loadhexfile; a byte that the HEX file does not
// define stays 0xFF, the erased state, so writing it changes nothing.
extern std::array<uint8_t, 14> configbytes;

// Back to the state at program start (tests).
void reset();

}  // namespace globaldata
