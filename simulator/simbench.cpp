// simbench: sets up and inspects a virtual bench directory (bench.ini, the
// chips' memory, the trace) from the command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "benchconfig.h"
#include "benchhex.h"
#include "chipmemory.h"
#include "hexfilewrite.h"
#include "outputfile.h"
#include "parttable.h"
#include "picmodel.h"

namespace simbench {

namespace fs = std::filesystem;

const char *helptext = R"(usage: simbench COMMAND DIR [-i INSTANCE] [ARGUMENTS]

Sets up and inspects a virtual bench: the directory that MPUSBAPI_SIM names
for libmpusbapi.so. Commands that concern one programmer take -i INSTANCE
(default 0).

  init DIR PART             new bench: programmer 0 (firmware 00.00.02, last
                            break 00.00.01) with the part PART, named as in
                            picspecs.ini beside simbench (PIC18F452, 18f452) or
                            by its masked id (0420); program memory erased. An
                            existing bench in DIR is replaced.
  set DIR KEY=VALUE...      sets keys of bench.ini (see below); the whole file
                            is checked before it is written. A key of [bench]
                            goes there, any other to the programmer's section;
                            programmerN.KEY=VALUE names the section outright.
                            Changing the target gives a fresh, erased chip.
  fault DIR ORDINAL KIND [ERRNO]
                            adds a fault at the packet with that ordinal (1 =
                            the first packet after the programmer was opened).
                            KIND: writefail (errno 5 unless given), readfail
                            (errno 110 unless given), short, long, gone.
  fault DIR clear           removes all faults of the programmer.
  load DIR FILE.hex         puts the file's bytes into the chip directly:
                            program memory, ID locations 0x200000-0x200007,
                            configuration bytes 0x300000-0x30000D.
  erase DIR                 erases the chip from the bench side.
  vpp DIR on|off            switches the programming voltage from the bench side.
  show DIR                  part, Vpp, configuration bytes, ID locations and
                            which 16-byte lines of program memory hold data
                            (all programmers unless -i is given).
  export DIR FILE           program memory as Intel HEX: one 04 record, 16-byte
                            data records from address 0 to the end, the 01
                            record; lines end in CR LF.
  trace DIR [--clear]       prints the trace, or empties it.
  --help                    this text.

bench.ini keys
  [bench]
    count = N               device count reported (default: the programmers
                            that answer the probe)
    trace = 1|0             write the trace (default 1)
  [programmerN]             N: instance number
    present = 1|0           answers the presence probe (default 1)
    outpipe = 1|0           its OUT pipe can be opened (default 1)
    inpipe = 1|0            its IN pipe can be opened (default 1)
    firmware = 00.00.02     firmware version (default 00.00.02)
    lastbreak = 00.00.01    last break version (default 00.00.01)
    commstext = picwren     communications test text, up to 8 bytes, padded
                            with zero bytes; escapes \xNN, \0, \s (blank), \\
    part = PIC18F452        target from the device table; none = no chip
    revision = 04           revision bits of DEVID1, 00 to 1F (default 04)
    deviceid = 0420         explicit geometry, or overriding the part's:
    flashsize = 32768         masked id, program memory bytes, panel size
    panelsize = 8192          (default: the program memory), write buffer
    writebuffer = 8           per panel (8, 16, 32, 64), erase style old|new,
    erase = old               and a name for show
    name = my part
    configmask = FF x 14    implemented bits of each configuration byte
    faults = 3:writefail:5, 9:short, 12:gone

Files in DIR: bench.ini, chipN.mem (memory of programmer N's chip), trace.txt.
)";

struct usageerror : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct toolerror : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string tablepath() { return parttable::tablebesidemodule(); }

benchconfig::bench readbench(const std::string &dir) {
    benchconfig::bench b;
    std::string error;
    if (!benchconfig::loadbench(dir, tablepath(), b, error)) throw toolerror(error);
    return b;
}

const benchconfig::programmer &programmerin(const benchconfig::bench &b, uint32_t instance) {
    const benchconfig::programmer *p = benchconfig::findprogrammer(b, instance);
    if (!p) throw toolerror("no programmer " + std::to_string(instance) + " on this bench");
    return *p;
}

// The chip of a programmer, mapped; locked when `lock` (then refused while a
// program has the programmer open).
struct openedchip {
    chipmemory::chip chip;
    ~openedchip() { chipmemory::closechip(chip); }
};

void openbenchchip(const std::string &dir, const benchconfig::programmer &p, bool lock, openedchip &c) {
    std::string error;
    const uint32_t size = p.chip.attached ? p.chip.geometry.flashsize : 0;
    auto r = chipmemory::openchip(benchconfig::chippath(dir, p.instance), size, p.chip.configmask, lock, c.chip, error);
    if (r == chipmemory::openresult::busy)
        throw toolerror("programmer " + std::to_string(p.instance) + " is open in another process");
    if (r == chipmemory::openresult::failed) throw toolerror(error);
}

void writebench(const std::string &dir, const benchconfig::inifile &f) {
    benchconfig::bench check;
    std::string error;
    if (!benchconfig::parsebench(f, tablepath(), check, error)) throw toolerror(error);
    if (!benchconfig::writeinifile(benchconfig::inipath(dir), f, error)) throw toolerror(error);
}

benchconfig::inifile readini(const std::string &dir) {
    benchconfig::inifile f;
    std::string error;
    if (!benchconfig::readinifile(benchconfig::inipath(dir), f, error)) throw toolerror(error);
    return f;
}

std::string hex2(unsigned v) {
    char buf[8];
    snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

void init(const std::string &dir, const std::string &part) {
    parttable::partgeometry g;
    std::string error;
    if (!parttable::findpart(tablepath(), part, g, error)) throw toolerror(error);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) throw toolerror("cannot create directory " + dir);
    // Replace our own files only: DIR may hold other things.
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "bench.ini" || name == "bench.ini.new" || name == "trace.txt" ||
            (name.rfind("chip", 0) == 0 && name.size() > 8 && name.substr(name.size() - 4) == ".mem"))
            fs::remove(entry.path(), ec);
    }
    benchconfig::inifile f;
    benchconfig::setkey(f, benchconfig::benchsection, "trace", "1");
    const std::string s = benchconfig::sectionof(0);
    benchconfig::setkey(f, s, "firmware", "00.00.02");
    benchconfig::setkey(f, s, "lastbreak", "00.00.01");
    benchconfig::setkey(f, s, "commstext", benchconfig::defaultcommstext);
    benchconfig::setkey(f, s, "part", g.name);
    benchconfig::setkey(f, s, "revision", hex2(benchconfig::defaultrevision));
    writebench(dir, f);
    const benchconfig::bench b = readbench(dir);
    openedchip c;
    openbenchchip(dir, programmerin(b, 0), false, c);
    std::ofstream(benchconfig::tracepath(dir), std::ios::trunc);
    std::cout << "bench " << dir << ": programmer 0 with a " << g.name << ", program memory erased\n";
}

bool istargetkey(const std::string &key) {
    static const char *keys[] = {"part", "deviceid", "flashsize", "panelsize", "writebuffer", "erase", "configmask"};
    for (const char *k : keys)
        if (strcasecmp(key.c_str(), k) == 0) return true;
    return false;
}

void set(const std::string &dir, uint32_t instance, const std::vector<std::string> &assignments) {
    if (assignments.empty()) throw usageerror("set needs KEY=VALUE");
    benchconfig::inifile f = readini(dir);
    std::vector<uint32_t> newtargets;
    for (const std::string &a : assignments) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) throw usageerror("not KEY=VALUE: " + a);
        std::string key = a.substr(0, eq);
        const std::string value = a.substr(eq + 1);
        std::string section = benchconfig::sectionof(instance);
        uint32_t target = instance;
        const size_t dot = key.find('.');
        if (dot != std::string::npos) {
            section = key.substr(0, dot);
            key = key.substr(dot + 1);
            if (strncasecmp(section.c_str(), "programmer", 10) == 0)
                target = static_cast<uint32_t>(std::strtoul(section.c_str() + 10, nullptr, 10));
        } else if (strcasecmp(key.c_str(), "count") == 0 || strcasecmp(key.c_str(), "trace") == 0) {
            section = benchconfig::benchsection;
        }
        if (value.empty()) benchconfig::removekey(f, section, key);
        else benchconfig::setkey(f, section, key, value);
        if (istargetkey(key)) newtargets.push_back(target);
    }
    writebench(dir, f);
    std::error_code ec;
    for (uint32_t t : newtargets) fs::remove(benchconfig::chippath(dir, t), ec);
}

void fault(const std::string &dir, uint32_t instance, const std::vector<std::string> &args) {
    benchconfig::inifile f = readini(dir);
    const std::string section = benchconfig::sectionof(instance);
    if (args.size() == 1 && args[0] == "clear") {
        benchconfig::removekey(f, section, "faults");
    } else {
        if (args.size() < 2 || args.size() > 3) throw usageerror("fault needs ORDINAL KIND [ERRNO]");
        std::string text = args[0] + ":" + args[1] + (args.size() == 3 ? ":" + args[2] : "");
        benchconfig::fault parsed;
        std::string error;
        if (!benchconfig::parsefault(text, parsed, error)) throw toolerror(error);
        const std::string *old = benchconfig::getkey(f, section, "faults");
        std::string list = old && !old->empty() ? *old + ", " : "";
        benchconfig::setkey(f, section, "faults", list + benchconfig::faulttext(parsed));
    }
    if (!benchconfig::findprogrammer(readbench(dir), instance))
        throw toolerror("no programmer " + std::to_string(instance) + " on this bench");
    writebench(dir, f);
}

void load(const std::string &dir, uint32_t instance, const std::string &file) {
    const benchconfig::bench b = readbench(dir);
    const benchconfig::programmer &p = programmerin(b, instance);
    if (!p.chip.attached) throw toolerror("programmer " + std::to_string(instance) + " has no chip");
    std::map<uint32_t, uint8_t> bytes;
    std::string error;
    if (!benchhex::readhexfile(file, bytes, error)) throw toolerror(error);
    openedchip c;
    openbenchchip(dir, p, true, c);
    auto where = [&](uint32_t a) -> uint8_t * {
        if (a < c.chip.flashsize) return &c.chip.flash[a];
        if (a >= chipmemory::idaddress && a < chipmemory::idaddress + chipmemory::idsize)
            return &c.chip.state->idlocs[a - chipmemory::idaddress];
        if (a >= chipmemory::configaddress && a < chipmemory::configaddress + chipmemory::configsize)
            return &c.chip.state->config[a - chipmemory::configaddress];
        return nullptr;
    };
    for (const auto &[a, v] : bytes)
        if (!where(a)) {
            char buf[128];
            snprintf(buf, sizeof buf, "%s: address %06X is not in the chip's memory; nothing loaded", file.c_str(), a);
            throw toolerror(buf);
        }
    for (const auto &[a, v] : bytes) {
        uint8_t value = v;
        if (a >= chipmemory::configaddress) value &= p.chip.configmask[a - chipmemory::configaddress];
        *where(a) = value;
    }
}

void erase(const std::string &dir, uint32_t instance) {
    const benchconfig::bench b = readbench(dir);
    const benchconfig::programmer &p = programmerin(b, instance);
    openedchip c;
    openbenchchip(dir, p, true, c);
    chipmemory::erasememory(c.chip, p.chip.configmask);
    chipmemory::clearbuffers(*c.chip.state);
}

void vpp(const std::string &dir, uint32_t instance, const std::string &state) {
    if (state != "on" && state != "off") throw usageerror("vpp takes on or off");
    const benchconfig::bench b = readbench(dir);
    const benchconfig::programmer &p = programmerin(b, instance);
    openedchip c;
    openbenchchip(dir, p, true, c);
    picmodel::setvpp(picmodel::target{&c.chip, &p.chip, nullptr}, state == "on");
}

std::string bytesline(const uint8_t *b, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (i ? " " : "") + hex2(b[i]);
    return s;
}

void showone(const std::string &dir, const benchconfig::programmer &p) {
    openedchip c;
    openbenchchip(dir, p, false, c);
    const auto &g = p.chip.geometry;
    std::cout << "programmer " << p.instance << "\n";
    std::cout << "firmware " << benchconfig::versiontext(p.firmware) << " lastbreak "
              << benchconfig::versiontext(p.lastbreak) << "\n";
    if (!p.chip.attached) {
        std::cout << "part none\n";
    } else {
        char buf[160];
        std::cout << "part " << (g.name.empty() ? "-" : g.name) << "\n";
        snprintf(buf, sizeof buf, "deviceid %04X revision %02X\n", g.deviceid, p.chip.revision);
        std::cout << buf;
        std::cout << "programmemory " << g.flashsize << " panels " << g.flashsize / g.panelsize << "x" << g.panelsize
                  << " writebuffer " << g.writebuffer << " erase " << (g.newstyle ? "new" : "old") << "\n";
    }
    std::cout << "vpp " << (c.chip.state->vpp ? "on" : "off") << "\n";
    if (!p.chip.attached) return;
    std::cout << "config " << bytesline(c.chip.state->config, chipmemory::configsize) << "\n";
    std::cout << "idlocations " << bytesline(c.chip.state->idlocs, chipmemory::idsize) << "\n";
    // Runs of 16-byte lines that hold anything but 0xFF.
    std::string ranges;
    int64_t start = -1;
    for (uint32_t a = 0; a <= c.chip.flashsize; a += 16) {
        bool data = false;
        for (uint32_t i = a; i < a + 16 && i < c.chip.flashsize; ++i)
            if (c.chip.flash[i] != 0xFF) data = true;
        if (data && start < 0) start = a;
        if (!data && start >= 0) {
            char buf[32];
            snprintf(buf, sizeof buf, " %06X-%06X", static_cast<unsigned>(start), std::min(a, c.chip.flashsize) - 1);
            ranges += buf;
            start = -1;
        }
    }
    std::cout << "data" << (ranges.empty() ? " none" : ranges) << "\n";
}

void show(const std::string &dir, int64_t instance) {
    const benchconfig::bench b = readbench(dir);
    bool first = true;
    for (const auto &p : b.programmers) {
        if (instance >= 0 && p.instance != instance) continue;
        if (!first) std::cout << "\n";
        first = false;
        showone(dir, p);
    }
    if (instance >= 0 && first) throw toolerror("no programmer " + std::to_string(instance) + " on this bench");
}

void exporthex(const std::string &dir, uint32_t instance, const std::string &file) {
    const benchconfig::bench b = readbench(dir);
    const benchconfig::programmer &p = programmerin(b, instance);
    if (!p.chip.attached) throw toolerror("programmer " + std::to_string(instance) + " has no chip");
    openedchip c;
    openbenchchip(dir, p, false, c);
    // The form of the console's dump: one 04 record before the first data
    // record (and at each 64 KB boundary), 16-byte records, the 01 record.
    const int fd = outputfile::createoutputfile(file);
    hexfilewrite::hexwriter writer;
    hexfilewrite::inithexwriter(writer, fd);
    bool written = true;
    for (uint32_t a = 0; a < c.chip.flashsize && written; a += 16) {
        const uint32_t n = std::min<uint32_t>(16, c.chip.flashsize - a);
        written = hexfilewrite::writedatarecord(writer, static_cast<int32_t>(a),
                                                bytestring(c.chip.flash + a, c.chip.flash + a + n));
    }
    written = written && hexfilewrite::writeeofrecord(writer);
    const int err = writer.error;
    if (!outputfile::closeoutputfile(fd) || !written)
        throw toolerror("cannot write " + file + ": " + std::strerror(err ? err : EIO));
}

void trace(const std::string &dir, const std::vector<std::string> &args) {
    if (!fs::is_directory(dir)) throw toolerror("no bench at " + dir);
    const std::string path = benchconfig::tracepath(dir);
    if (args.size() == 1 && args[0] == "--clear") {
        if (truncate(path.c_str(), 0) != 0 && errno != ENOENT) throw toolerror("cannot clear " + path);
        return;
    }
    if (!args.empty()) throw usageerror("trace takes only --clear");
    std::ifstream in(path, std::ios::binary);
    std::cout << in.rdbuf();
}

int run(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) throw usageerror("no command");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << helptext;
        return 0;
    }
    const std::string command = args[0];
    if (args.size() < 2) throw usageerror(command + " needs the bench directory");
    const std::string dir = args[1];
    int64_t instance = -1;
    std::vector<std::string> rest;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "-i" || args[i] == "--instance") {
            if (i + 1 >= args.size()) throw usageerror(args[i] + " needs a number");
            const std::string &n = args[++i];
            if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos || n.size() > 9)
                throw usageerror("not an instance number: " + n);
            instance = std::stoll(n);
        } else {
            rest.push_back(args[i]);
        }
    }
    const uint32_t one = instance < 0 ? 0 : static_cast<uint32_t>(instance);
    auto needs = [&](size_t n) {
        if (rest.size() != n) throw usageerror(command + ": wrong number of arguments");
    };
    if (command == "init") {
        needs(1);
        init(dir, rest[0]);
    } else if (command == "set") {
        set(dir, one, rest);
    } else if (command == "fault") {
        fault(dir, one, rest);
    } else if (command == "load") {
        needs(1);
        load(dir, one, rest[0]);
    } else if (command == "erase") {
        needs(0);
        erase(dir, one);
    } else if (command == "vpp") {
        needs(1);
        vpp(dir, one, rest[0]);
    } else if (command == "show") {
        needs(0);
        show(dir, instance);
    } else if (command == "export") {
        needs(1);
        exporthex(dir, one, rest[0]);
    } else if (command == "trace") {
        trace(dir, rest);
    } else {
        throw usageerror("unknown command " + command);
    }
    return 0;
}

}  // namespace simbench

int main(int argc, char **argv) {
    try {
        return simbench::run(argc, argv);
    } catch (const simbench::usageerror &e) {
        std::cerr << "simbench: " << e.what() << "\n(simbench --help shows the commands)\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "simbench: " << e.what() << "\n";
        return 1;
    }
}
