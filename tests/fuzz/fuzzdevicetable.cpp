// The device-table lookup on arbitrary picspecs.ini text. For a few device ids
// (one taken from the input, the first section the table names, and a fixed
// one) the lookup on the whole table and on the table read for that section
// alone must agree: the same line or "unrecognised device", the same entry.
// Nothing may crash, and the name printed is never longer than 1023
// characters.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "devicetable.h"
#include "fuzzinputfile.h"
#include "globaldata.h"
#include "runerror.h"

namespace {

using fuzzinput::inputfile;
using fuzzinput::writewhole;

struct result {
    std::string out;
    std::string error;
    globaldata::devicespecrecord spec;
};

result lookedup(const devicetable::inifile &table, uint16_t id) {
    result r;
    globaldata::reset();
    std::ostringstream out;
    std::streambuf *saved = std::cout.rdbuf(out.rdbuf());
    try {
        devicetable::lookup(table, id);
    } catch (const runerror::runfailure &e) {
        r.error = e.what();
    }
    std::cout.rdbuf(saved);
    r.out = out.str();
    r.spec = globaldata::devicespec;
    return r;
}

bool same(const result &a, const result &b) {
    return a.out == b.out && a.error == b.error && a.spec.panelsize == b.spec.panelsize &&
           a.spec.panelcount == b.spec.panelcount && a.spec.bytestowriteperpanel == b.spec.bytestowriteperpanel &&
           a.spec.newstyle == b.spec.newstyle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    writewhole(data, size);
    const devicetable::inifile whole = devicetable::openinifile(inputfile().path);
    uint16_t ids[3] = {0x0420, 0, 0};
    if (size >= 2) ids[1] = static_cast<uint16_t>((data[0] << 8 | data[1]) & 0xFFE0);
    if (!whole.lines.empty()) {
        std::optional<int32_t> id = devicetable::parseinteger("$" + whole.lines[0].section);
        if (id && whole.lines[0].section.size() == 4) ids[2] = static_cast<uint16_t>(*id & 0xFFE0);
    }
    for (uint16_t id : ids) {
        const result all = lookedup(whole, id);
        const result one = lookedup(devicetable::openinifile(inputfile().path, devicetable::sectionname(id)), id);
        if (!same(all, one)) {
            std::fprintf(stderr, "lookups of %04X differ:\n%s|%s\n%s|%s\n", id, all.out.c_str(), all.error.c_str(),
                         one.out.c_str(), one.error.c_str());
            std::abort();
        }
        if (all.error.empty() && all.out.size() > std::strlen("target device detected is a ") + 1023 + 1) std::abort();
        if (!all.error.empty() && all.error != "unrecognised device") std::abort();
    }
    return 0;
}
