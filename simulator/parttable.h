// The parts a bench can carry: looked up by name or masked device id in the
// device table picspecs.ini, with a few built-in parts for when the table is
// not there.
#pragma once
#include <cstdint>
#include <string>

namespace parttable {

struct partgeometry {
    std::string name;           // "PIC18F452"
    uint16_t deviceid = 0;      // masked id: revision bits clear
    uint32_t flashsize = 0;     // program memory in bytes (panelsize x panelcount)
    uint32_t panelsize = 0;     // bytes per panel
    uint32_t writebuffer = 0;   // write buffer per panel in bytes
    bool newstyle = false;      // new-style bulk erase (0x0F0F, 0x8787)
};

// Finds a part by its name (case-insensitive, "PIC" may be left out) or by its
// masked id in hexadecimal ("0420", "0x0420"), in the table at `tablepath`;
// when that file does not exist, in the built-in parts. False with `error`
// set when the part is unknown or its entry is not a usable geometry.
bool findpart(const std::string &tablepath, const std::string &key, partgeometry &out,
              std::string &error);

// "picspecs.ini" in the folder of the executable or shared library that holds
// this code (beside simbench, or beside libmpusbapi.so).
std::string tablebesidemodule();

// Checks that a geometry can be simulated; the message says what is wrong.
bool checkgeometry(const partgeometry &g, std::string &error);

}  // namespace parttable
