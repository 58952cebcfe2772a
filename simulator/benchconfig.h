// The bench directory: bench.ini (which programmers are attached and how they
// behave), one chip memory file per programmer, and the trace.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "parttable.h"

namespace benchconfig {

// bench.ini as text: its sections and keys in file order, so that simbench
// can change one key and write the rest back as it was.
struct inisection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
};
struct inifile {
    std::vector<inisection> sections;
};

bool readinifile(const std::string &path, inifile &out, std::string &error);
// Written whole to a temporary file and renamed over the old one.
bool writeinifile(const std::string &path, const inifile &f, std::string &error);
const std::string *getkey(const inifile &f, const std::string &section, const std::string &key);
void setkey(inifile &f, const std::string &section, const std::string &key, const std::string &value);
void removekey(inifile &f, const std::string &section, const std::string &key);

enum class faultkind { writefail, readfail, shortreply, longreply, gone };

// A fault at the packet with this ordinal (1 = the first packet written after
// the programmer was opened).
struct fault {
    uint32_t ordinal = 0;
    faultkind kind = faultkind::writefail;
    int err = 0;  // errno of a failing write or read
};

struct target {
    bool attached = false;            // false: no chip on the programmer ("part = none")
    parttable::partgeometry geometry;
    uint8_t revision = 0;             // five revision bits in DEVID1
    std::array<uint8_t, 14> configmask{};  // implemented bits of each configuration byte
};

struct programmer {
    uint32_t instance = 0;
    bool present = true;   // answers the presence probe
    bool outpipe = true;   // its OUT pipe can be opened
    bool inpipe = true;    // its IN pipe can be opened
    std::array<uint8_t, 3> firmware{0, 0, 2};
    std::array<uint8_t, 3> lastbreak{0, 0, 1};
    std::array<uint8_t, 8> commstext{};
    target chip;
    std::vector<fault> faults;
};

struct bench {
    int64_t count = -1;    // device count reported; -1 = the present programmers
    bool trace = true;     // append packets and replies to the trace file
    std::vector<programmer> programmers;
};

inline constexpr const char *benchsection = "bench";
inline constexpr uint8_t defaultrevision = 0x04;
inline constexpr const char *defaultcommstext = "picwren";

std::string inipath(const std::string &dir);
std::string tracepath(const std::string &dir);
std::string chippath(const std::string &dir, uint32_t instance);
std::string sectionof(uint32_t instance);  // "programmer0"

// Reads bench.ini of `dir` into `out`; parts named by `part` are looked up in
// the device table at `tablepath`. False with a message on any bad value.
bool loadbench(const std::string &dir, const std::string &tablepath, bench &out, std::string &error);
bool parsebench(const inifile &f, const std::string &tablepath, bench &out, std::string &error);
const programmer *findprogrammer(const bench &b, uint32_t instance);

// "ORDINAL:KIND[:ERRNO]" with KIND writefail, readfail, short, long or gone.
bool parsefault(const std::string &text, fault &out, std::string &error);
std::string faulttext(const fault &f);
std::string kindname(faultkind k);

// "00.00.02": three bytes of one or two hex digits.
bool parseversion(const std::string &text, std::array<uint8_t, 3> &out);
std::string versiontext(const std::array<uint8_t, 3> &v);

// Text with \xNN, \0 and \\ escapes, up to 8 bytes, padded with zero bytes.
bool parsecommstext(const std::string &text, std::array<uint8_t, 8> &out);

}  // namespace benchconfig
