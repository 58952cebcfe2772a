// The device table picspecs.ini beside the program: which PIC18 parts
// flashwren can program, and the shape of their program memory.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "globaldata.h"

namespace devicetable {

// One name=value line of the table, as the ini reader gave it (blanks around
// name and value already stripped), in file order.
struct iniline {
    std::string section;
    std::string key;
    std::string value;
};

// An opened table. The lines are held for as long as the value lives and are
// released when it goes out of scope, however the scope is left.
struct inifile {
    std::string path;
    std::vector<iniline> lines;
};

// The table's place: the folder of the program's real file (symbolic links
// resolved), then "/picspecs.ini". The current folder plays no part.
std::string tablepath();

// Reads the table. A file that is missing or cannot be read gives an empty
// table, exactly as one without the device would.
inifile openinifile(const std::string &path);

// Lookups. Section and key names match without regard to case. When a key is
// given more than once for a section (also in two sections of the same name),
// the first line that gives it wins.
std::optional<std::string> findvalue(const inifile &table, std::string_view section, std::string_view key);
std::string readstring(const inifile &table, std::string_view section, std::string_view key,
                       const std::string &defaultvalue);
int32_t readinteger(const inifile &table, std::string_view section, std::string_view key, int32_t defaultvalue);
// An integer: 0 is false, any other number true; anything else the default.
bool readbool(const inifile &table, std::string_view section, std::string_view key, bool defaultvalue);

// The table's integer syntax: an optional sign, then decimal digits within the
// signed 32-bit range, or "$", "0x" or "0X" and hexadecimal digits (at most 8
// significant) taken as a 32-bit pattern. Leading blanks are skipped; anything
// else, trailing characters included, is no number.
std::optional<int32_t> parseinteger(std::string_view text);

// The section of a masked device id: four upper-case hexadecimal digits.
std::string sectionname(uint16_t maskedid);

inline constexpr std::size_t maxnamelength = 1023;

// Looks the device up: ends the run with "unrecognised device" when it has no
// name in the table, writes "target device detected is a <name>" and fills
// globaldata::devicespec.
void lookup(const inifile &table, uint16_t maskedid);

// Why the scripts cannot program a device of this entry correctly, or empty
// when they can: the panels must exist and fit a signed 32-bit image, and a
// write group must be what one panel-write packet expresses (8, 16 or 32
// bytes into 1, 2 or 4 panels, at most 32 bytes in all) or whole 32-byte
// chunks of a single panel.
std::string entryproblem(const globaldata::devicespecrecord &spec);

// Ends the run when globaldata::devicespec is not programmable.
void checkentry();

}  // namespace devicetable
