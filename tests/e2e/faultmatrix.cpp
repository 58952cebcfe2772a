// The fault matrix: a USB fault of every kind the bench can serve, at every
// packet of a whole flashwren run and of a whole benchdial dump, one run
// each. The fault-free run gives the packets, their roles and the output;
// the expected outcome of each faulted run is derived from it by the failure
// rules of the programs:
// - flashwren: a failed version query, Vpp-on or device-id read ends the run
//   (Vpp-off still sent, report, exit 1, nothing erased or written); a failed
//   erase, group write or configuration write is reported and the run goes
//   on; a failed Vpp-off ends the run with exit 1;
// - benchdial's dump: a failed read prints its failure lines and "error-reading
//   aborted", the file keeps the records read so far, the menu goes on;
// - a failed library call prints "Error Code <errno>" first, except for a
//   device gone (errno 6), after which the link is closed and every later
//   exchange fails without a packet.
// Each run is checked for its exact output and exit code, the packets the
// bench saw (no protocol violation, Vpp-off where it must be, nothing after
// the device went), the chip's memory, and that it ended within its time
// limit without a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "benchrun.h"
#include "hexrecord.h"
#include "runerror.h"

namespace {

namespace fs = std::filesystem;
using benchrun::outcome;

constexpr const char *usbfailed = "USB Operation Failed\\r\\n";
constexpr int runseconds = 10;  // the bench answers faults at once

enum class faultkind { writefail, readfail, shortreply, longreply, gone };
const faultkind allkinds[] = {faultkind::writefail, faultkind::readfail, faultkind::shortreply,
                              faultkind::longreply, faultkind::gone};

std::string kindname(faultkind k) {
    switch (k) {
    case faultkind::writefail: return "writefail";
    case faultkind::readfail: return "readfail";
    case faultkind::shortreply: return "short";
    case faultkind::longreply: return "long";
    case faultkind::gone: return "gone";
    }
    return "";
}

// The line a failed library call leaves (the bench's default errnos).
std::string errorcodeline(faultkind k) {
    if (k == faultkind::writefail) return "Error Code 5\n";
    if (k == faultkind::readfail) return "Error Code 110\n";
    return "";
}

// replylength after a failed read of `expected` bytes: the received count for
// a reply that came, the expected count when nothing was received.
int replylengthafter(faultkind k, int expected) {
    if (k == faultkind::shortreply) return expected - 1;
    if (k == faultkind::longreply) return expected + 1;
    return expected;
}

std::string report(const std::string &module) {
    std::ostringstream s;
    runerror::writereport(s, runerror::runfailure(runerror::kexception, usbfailed), module);
    return s.str();
}

std::vector<uint8_t> parsebytes(const std::string &hex) {
    std::vector<uint8_t> bytes;
    std::istringstream in(hex);
    std::string b;
    while (in >> b) bytes.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return bytes;
}

enum class role { version, vppon, vppoff, read, erase, group, config, other };

// What a packet of the programs is, by its fixed layout.
role roleof(const std::vector<uint8_t> &p) {
    if (p.size() == 2 && p[0] == 0x50) return role::version;
    if (p.size() == 2 && p[0] == 0x51) return p[1] == 0 ? role::vppon : role::vppoff;
    if (p.size() < 3 || p[0] != 0x53) return role::other;
    const size_t n = p.size();
    if (p[n - 3] == 0x20 && p[n - 2] == 0 && p[n - 1] == 0) return role::erase;
    if (n == 30 && p[15] == 0x60) return role::config;
    if (n > 28 && (p[24] & 0xD0) == 0x50) return role::group;
    if (p[n - 1] == 0x19) return role::read;
    return role::other;
}

// One packet of the fault-free run.
struct packet {
    std::string hex;
    std::vector<uint8_t> bytes;
    role what = role::other;
};

std::vector<packet> packetsof(const std::vector<std::string> &out) {
    std::vector<packet> list;
    for (const auto &hex : out) {
        packet p{hex, parsebytes(hex)};
        p.what = roleof(p.bytes);
        list.push_back(p);
    }
    return list;
}

// The program's view of the link in a run with one fault: which packets were
// sent (in the trace), and which reached the chip.
struct linkmodel {
    linkmodel(uint32_t ordinal, faultkind k) : faultordinal(ordinal), kind(k) {}
    uint32_t faultordinal;
    faultkind kind;
    bool alive = true;
    uint32_t ordinal = 0;            // packets sent so far
    std::vector<std::string> sent;   // what the trace must show
    std::vector<size_t> delivered;   // indexes into the fault-free packets
    std::string out;                 // the console so far

    // One exchange of the fault-free packet `index`: true when it succeeded.
    bool transfer(const std::vector<packet> &packets, size_t index) {
        return transferhex(packets[index].hex, index);
    }
    bool transferhex(const std::string &hex, size_t index) {
        if (!alive) return false;
        ++ordinal;
        sent.push_back(hex);
        if (ordinal != faultordinal) {
            delivered.push_back(index);
            return true;
        }
        out += errorcodeline(kind);
        if (kind == faultkind::gone) alive = false;
        if (kind != faultkind::writefail && kind != faultkind::gone) delivered.push_back(index);
        return false;
    }
};

std::string lineof(const std::vector<std::string> &lines, const std::string &prefix) {
    for (const auto &l : lines)
        if (l.rfind(prefix, 0) == 0) return l;
    return "(no line " + prefix + ")";
}

// --- the parts on the bench --------------------------------------------------

struct benchpart {
    const char *name;
    const char *part;
    int32_t panelsize, panelcount, groupbytes;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> data;  // the HEX file's bytes
};

std::vector<uint8_t> run(uint8_t first, size_t n) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(first + 7 * i));
    return v;
}

// Small files: a few groups, in the first, a middle and the last panel, and
// groups on both sides of a progress mark.
const benchpart parts[] = {
    {"oldstyle452", "PIC18F452", 8192, 4, 8, {{0x0000, run(0x11, 8)}, {0x2088, run(0x21, 2)}, {0x61F8, run(0x31, 1)}}},
    {"newstyle4550", "PIC18F4550", 32768, 1, 32, {{0x0000, run(0x41, 32)}, {0x01E0, run(0x51, 4)}, {0x7FE0, run(0x61, 3)}}},
    {"wide4620", "PIC18F4620", 65536, 1, 64, {{0x0040, run(0x71, 64)}, {0xFFE0, run(0x81, 5)}}},
};

// A record line with its line end.
std::string hexrecord(uint16_t address, uint8_t type, const std::vector<uint8_t> &data) {
    return testhex::record(address, type, data) + "\r\n";
}

std::string hexfile(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> &data, bool withconfig) {
    std::string text;
    uint32_t upper = 0xFFFFFFFF;
    auto place = [&](uint32_t address) {
        if (address >> 16 != upper) {
            upper = address >> 16;
            text += hexrecord(0, 4, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
        }
    };
    for (const auto &[address, bytes] : data) {
        place(address);
        text += hexrecord(static_cast<uint16_t>(address), 0, bytes);
    }
    if (withconfig) {
        place(0x300000);
        text += hexrecord(0, 0, {0x00, 0x22, 0x0E, 0x0E, 0x00, 0x01, 0x81, 0x00, 0x0F, 0xC0, 0x0F, 0xE0, 0x0F, 0x40});
    }
    return text + ":00000001FF\r\n";
}

// A bench made once per part: the chip holds an earlier program, so that an
// erase or a write shows in its memory.
struct template_ {
    std::unique_ptr<benchrun::scratch> folder;
    fs::path bench, work;
    benchrun::chipcontent erased, before;
};

template_ maketemplate(const char *part, const std::string &earlier) {
    template_ t;
    t.folder = std::make_unique<benchrun::scratch>("faultmatrix");
    t.bench = t.folder->path / "template";
    t.work = t.folder->path / "work";
    fs::create_directories(t.work);
    benchrun::tool({"simbench", "init", t.bench.string(), part}, t.work);
    t.erased = benchrun::readchip(t.bench);
    benchrun::writefile(t.work / "earlier.hex", earlier);
    benchrun::tool({"simbench", "load", t.bench.string(), (t.work / "earlier.hex").string()}, t.work);
    t.before = benchrun::readchip(t.bench);
    return t;
}

// The result of one run on a copy of the template with the given faults.
struct benchresult {
    outcome o;
    std::vector<benchrun::traceline> trace;
    benchrun::chipcontent chip;
    std::string dumpfile;
    bool dumpexists = false;
};

benchresult runonbench(const template_ &t, const std::string &faults, const std::vector<std::string> &argv,
                       const std::string &input, const std::string &tag) {
    benchresult r;
    const fs::path bench = t.folder->path / ("bench-" + tag);
    const fs::path work = t.folder->path / ("work-" + tag);
    benchrun::copybench(t.bench, bench, faults);
    fs::create_directories(work);
    for (const auto &f : fs::directory_iterator(t.work)) fs::copy_file(f.path(), work / f.path().filename());
    benchrun::runspec spec;
    spec.argv = argv;
    spec.dir = work;
    spec.input = input;
    spec.bench = bench;
    spec.seconds = runseconds;
    r.o = benchrun::run(spec);
    r.trace = benchrun::readtrace(bench);
    r.chip = benchrun::readchip(bench);
    r.dumpexists = fs::exists(work / "dump.hex");
    if (r.dumpexists) r.dumpfile = benchrun::readfile(work / "dump.hex");
    std::error_code ec;
    fs::remove_all(bench, ec);
    fs::remove_all(work, ec);
    return r;
}

// Checks common to every run: ended in time without a crash, nothing on
// standard error, no protocol violation, the fault served where it was set.
void checkrun(const benchresult &r, uint32_t faultordinal) {
    EXPECT_FALSE(r.o.timedout) << "the run hung";
    EXPECT_TRUE(r.o.exitcode == 0 || r.o.exitcode == 1) << "exit " << r.o.exitcode << " (crash?)";
    EXPECT_EQ(r.o.err, "");
    int faults = 0;
    for (const auto &t : r.trace) {
        EXPECT_NE(t.kind, "violation") << "packet " << t.ordinal << ": " << t.text;
        if (t.kind == "fault") {
            ++faults;
            EXPECT_EQ(t.ordinal, faultordinal);
        }
    }
    if (faultordinal > 0) {
        EXPECT_EQ(faults, 1) << "the fault was not served";
    }
}

// --- flashwren -------------------------------------------------------------

struct flashbaseline {
    template_ bench;
    std::string out;
    std::vector<std::string> outlines;
    std::vector<packet> packets;
    benchrun::chipcontent written;  // the chip after the fault-free run
};

const flashbaseline &flashbaselineof(const benchpart &p) {
    static std::map<std::string, std::unique_ptr<flashbaseline>> cache;
    auto &slot = cache[p.name];
    if (slot) return *slot;
    slot = std::make_unique<flashbaseline>();
    flashbaseline &b = *slot;
    // The earlier program: bits cleared all over the first groups, in the
    // configuration and the ID locations.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> earlier = {
        {0x0000, std::vector<uint8_t>(96, 0x0A)}, {0x01E0, run(0x01, 16)}, {0x200000, run(0x02, 8)}};
    b.bench = maketemplate(p.part, hexfile(earlier, true));
    benchrun::writefile(b.bench.work / "small.hex", hexfile(p.data, true));
    benchresult r = runonbench(b.bench, "", {"flashwren", "small.hex"}, "", "baseline");
    EXPECT_EQ(r.o.exitcode, 0) << r.o.out << r.o.err;
    checkrun(r, 0);
    b.out = r.o.out;
    b.outlines = benchrun::lines(r.o.out);
    b.packets = packetsof(benchrun::packetsout(r.trace));
    b.written = r.chip;
    return b;
}

struct flashexpectation {
    std::string out;
    int exitcode = 0;
    std::vector<std::string> sent;
    benchrun::chipcontent chip;
};

// The outcome of a flashwren run on `p` with one fault (ordinal 0: none).
flashexpectation expectflash(const benchpart &p, const flashbaseline &b, uint32_t ordinal, faultkind kind) {
    linkmodel link(ordinal, kind);
    flashexpectation e;
    std::string &out = link.out;
    const std::string fail = std::string(usbfailed) + "\n";

    // The open dialog and everything up to the first packet.
    for (const auto &l : b.outlines) {
        out += l + "\n";
        if (l == "reading firmware revision") break;
    }
    size_t next = 0;  // the next fault-free packet
    auto ends = [&](bool lowervpp) {
        // Clean-up: Vpp off (its success line), then the report.
        if (lowervpp && link.transferhex("51 01", SIZE_MAX)) out += "success\n";
        out += report("flashwren");
        e.exitcode = 1;
    };
    auto finish = [&]() {
        e.out = out;
        e.sent = link.sent;
        // The chip: erased when the erase arrived, then the bytes of every
        // group whose closing write arrived ANDed in (a chunk that only loads
        // the write buffers, op 7x, is programmed by the group's closing
        // write, op 5x, or not at all), the configuration replaced when it
        // arrived.
        bool erased = false, configured = false;
        std::vector<bool> written(b.written.flash.size(), false);
        std::vector<uint32_t> loaded;  // chunk bytes waiting in the write buffers
        int64_t loadedgroup = -1;
        for (size_t i : link.delivered) {
            if (i == SIZE_MAX) continue;
            const packet &pk = b.packets[i];
            if (pk.what == role::erase) erased = true;
            if (pk.what == role::config) configured = true;
            if (pk.what != role::group) continue;
            const uint8_t op = pk.bytes[24];
            const uint32_t n = 1u << ((op >> 2) & 3), bytes = 8u << (op & 3);
            const uint32_t address = uint32_t{pk.bytes[25]} << 16 | pk.bytes[26] << 8 | pk.bytes[27];
            const int64_t group = address / p.groupbytes;
            if (group != loadedgroup) loaded.clear();  // a new group's chunks take the buffers over
            loadedgroup = group;
            for (uint32_t panel = 0; panel < n; ++panel)
                for (uint32_t j = 0; j < bytes; ++j) loaded.push_back(address + panel * p.panelsize + j);
            if ((op & 0xF0) == 0x50) {
                for (uint32_t a : loaded) written[a] = true;
                loaded.clear();
            }
        }
        const benchrun::chipcontent &base = erased ? b.bench.erased : b.bench.before;
        e.chip = base;
        for (size_t a = 0; a < e.chip.flash.size(); ++a)
            if (written[a]) e.chip.flash[a] = static_cast<char>(base.flash[a] & b.written.flash[a]);
        if (configured) e.chip.config = b.written.config;
        return e;
    };

    // Version query, Vpp on, device id: a failure ends the run.
    if (!link.transfer(b.packets, next++)) return ends(true), finish();
    out += lineof(b.outlines, "firmware version:") + "\nbringing up vpp\n";
    if (!link.transfer(b.packets, next++)) return ends(true), finish();
    out += "success\nreading device id\n";
    if (!link.transfer(b.packets, next++)) {
        out += fail + std::to_string(replylengthafter(kind, 3)) + "\n";
        return ends(true), finish();
    }
    out += lineof(b.outlines, "device found: ") + "\n" + lineof(b.outlines, "target device detected is a ") + "\n";

    // Erase, groups with their marks, configuration: reported, the run goes on.
    out += link.transfer(b.packets, next++) ? "success\n" : fail;
    const int32_t groups = p.panelsize / p.groupbytes;
    for (int32_t g = 0; g < groups; ++g) {
        while (next < b.packets.size() && b.packets[next].what == role::group) {
            const auto &bytes = b.packets[next].bytes;
            const uint32_t address = uint32_t{bytes[25]} << 16 | bytes[26] << 8 | bytes[27];
            if (static_cast<int32_t>(address / p.groupbytes) != g) break;
            if (!link.transfer(b.packets, next)) out += fail;
            ++next;
        }
        if (g % 16 == 15) out += "*";
    }
    out += "\n";
    out += link.transfer(b.packets, next++) ? "success\n" : fail;

    // Vpp off: a failure ends the run.
    if (link.transfer(b.packets, next++)) out += "success\n";
    else ends(false);
    return finish();
}

struct flashcase {
    const benchpart *part;
    faultkind kind;
};

void PrintTo(const flashcase &c, std::ostream *os) { *os << c.part->name << " " << kindname(c.kind); }

class flashwrenfaults : public testing::TestWithParam<flashcase> {};

TEST_P(flashwrenfaults, everypacket) {
    const benchpart &p = *GetParam().part;
    const faultkind kind = GetParam().kind;
    const flashbaseline &b = flashbaselineof(p);
    ASSERT_FALSE(HasFailure()) << "the fault-free run failed";

    // The model reproduces the fault-free run before it is trusted with faults.
    flashexpectation clean = expectflash(p, b, 0, kind);
    ASSERT_EQ(clean.out, b.out);
    ASSERT_EQ(clean.sent.size(), b.packets.size());
    ASSERT_TRUE(clean.chip == b.written) << "the chip model disagrees with the fault-free run";
    ASSERT_GE(b.packets.size(), 8u);

    int runs = 0;
    for (uint32_t ordinal = 1; ordinal <= b.packets.size(); ++ordinal) {
        SCOPED_TRACE("fault " + std::to_string(ordinal) + ":" + kindname(kind) + " at packet " + b.packets[ordinal - 1].hex);
        const std::string faults = std::to_string(ordinal) + ":" + kindname(kind);
        benchresult r = runonbench(b.bench, faults, {"flashwren", "small.hex"}, "", faults.substr(0, faults.find(':')));
        flashexpectation e = expectflash(p, b, ordinal, kind);
        checkrun(r, ordinal);
        EXPECT_EQ(r.o.out, e.out);
        EXPECT_EQ(r.o.exitcode, e.exitcode);
        EXPECT_EQ(benchrun::packetsout(r.trace), e.sent);
        EXPECT_TRUE(r.chip.flash == e.chip.flash) << "program memory";
        EXPECT_EQ(r.chip.config, e.chip.config) << "configuration bytes";
        EXPECT_EQ(r.chip.idlocs, e.chip.idlocs) << "ID locations";
        ++runs;
        if (HasFailure()) break;  // one faulty ordinal shows the fault; the rest would repeat it
    }
    std::cout << "[ figures  ] " << runs << " runs of flashwren, each with one fault '" << kindname(kind)
              << "', each checked for output, exit code, packets, chip memory and time\n";
}

std::vector<flashcase> flashcases() {
    std::vector<flashcase> v;
    for (const auto &p : parts)
        for (faultkind k : allkinds) v.push_back({&p, k});
    return v;
}

INSTANTIATE_TEST_SUITE_P(matrix, flashwrenfaults, testing::ValuesIn(flashcases()),
                         [](const testing::TestParamInfo<flashcase> &info) {
                             return std::string(info.param.part->name) + "_" + kindname(info.param.kind);
                         });

// --- benchdial's dump --------------------------------------------------------

// Vpp on, dump to dump.hex, Vpp off, exit.
constexpr const char *dumpinput = "1\n6\ndump.hex\n2\n0\n";
constexpr int dumpreads = 1024;

struct dumpbaseline {
    template_ bench;
    std::string out;
    std::vector<std::string> outlines;
    std::vector<packet> packets;
    std::string file;
};

const dumpbaseline &dumpbaselineof() {
    static std::unique_ptr<dumpbaseline> slot;
    if (slot) return *slot;
    slot = std::make_unique<dumpbaseline>();
    dumpbaseline &b = *slot;
    b.bench = maketemplate("PIC18F452", hexfile({{0x0000, run(0x10, 64)}, {0x4D0, run(0x90, 48)}, {0x7FF0, run(0x20, 16)}}, false));
    benchresult r = runonbench(b.bench, "", {"benchdial"}, dumpinput, "baseline");
    EXPECT_EQ(r.o.exitcode, 0) << r.o.out << r.o.err;
    checkrun(r, 0);
    b.out = r.o.out;
    b.outlines = benchrun::lines(r.o.out);
    b.packets = packetsof(benchrun::packetsout(r.trace));
    b.file = r.dumpfile;
    return b;
}

struct dumpexpectation {
    std::string out;
    std::vector<std::string> sent;
    std::string file;
};

dumpexpectation expectdump(const dumpbaseline &b, uint32_t ordinal, faultkind kind) {
    linkmodel link(ordinal, kind);
    std::string &out = link.out;
    const std::string fail = std::string(usbfailed) + "\n";
    std::string menu;
    size_t firstmenu = 0;
    while (firstmenu < b.outlines.size() && b.outlines[firstmenu] != "0: exit") out += b.outlines[firstmenu++] + "\n";
    for (size_t i = firstmenu; i < firstmenu + 11 && i < b.outlines.size(); ++i) menu += b.outlines[i] + "\n";

    dumpexpectation e;
    size_t next = 0;
    out += menu;
    out += link.transfer(b.packets, next++) ? "success\n" : fail;
    out += menu + "enter filename\n";
    int complete = 0;  // reads that came back whole
    for (; complete < dumpreads; ++complete) {
        if (!link.transfer(b.packets, next++)) {
            out += fail + std::to_string(replylengthafter(kind, 33)) + "\nerror-reading aborted\n";
            next = 1 + dumpreads;
            break;
        }
        if (complete % 16 == 15) out += "*";
    }
    if (complete == dumpreads) out += "\n";
    out += menu;
    out += link.transfer(b.packets, next++) ? "success\n" : fail;
    out += menu;
    e.out = out;
    e.sent = link.sent;
    // The file: everything up to the records of the failed read; the
    // address record comes with the first data record.
    if (complete == dumpreads) {
        e.file = b.file;
    } else if (complete > 0) {
        size_t at = 0;
        for (int line = 0; line < 1 + 2 * complete; ++line) at = b.file.find("\r\n", at) + 2;
        e.file = b.file.substr(0, at);
    }
    return e;
}

// Every read of the dump is faulted in the normal build. The sanitizer build,
// ten times slower here, takes the reads whose code differs (the first, the
// ones around the progress marks of the first 48) and a spread of the rest,
// every 13th, which walks across the mark positions, and the last.
bool dumpordinalrun(uint32_t ordinal) {
#ifdef FAULTMATRIX_SAMPLED
    const uint32_t read = ordinal - 2;
    return read < 48 || read % 13 == 0 || read == dumpreads - 1;
#else
    (void)ordinal;
    return true;
#endif
}

struct dumpcase {
    faultkind kind;
    int shard;  // the reads are shared out among shards so that they run side by side
};
constexpr int dumpshards = 4;

void PrintTo(const dumpcase &c, std::ostream *os) { *os << kindname(c.kind) << " shard " << c.shard; }

class benchdialdumpfaults : public testing::TestWithParam<dumpcase> {};

TEST_P(benchdialdumpfaults, everyread) {
    const faultkind kind = GetParam().kind;
    const dumpbaseline &b = dumpbaselineof();
    ASSERT_FALSE(HasFailure()) << "the fault-free run failed";
    ASSERT_EQ(b.packets.size(), size_t{dumpreads + 2});

    dumpexpectation clean = expectdump(b, 0, kind);
    ASSERT_EQ(clean.out, b.out);
    ASSERT_EQ(clean.file, b.file);
    ASSERT_EQ(b.file.size(), 92190u);

    int runs = 0;
    for (uint32_t ordinal = 2 + GetParam().shard; ordinal <= 1 + dumpreads; ordinal += dumpshards) {
        if (!dumpordinalrun(ordinal)) continue;
        ASSERT_EQ(b.packets[ordinal - 1].what, role::read);
        SCOPED_TRACE("fault " + std::to_string(ordinal) + ":" + kindname(kind) + " at read " +
                     std::to_string(ordinal - 2));
        const std::string faults = std::to_string(ordinal) + ":" + kindname(kind);
        benchresult r = runonbench(b.bench, faults, {"benchdial"}, dumpinput, std::to_string(ordinal));
        dumpexpectation e = expectdump(b, ordinal, kind);
        checkrun(r, ordinal);
        EXPECT_EQ(r.o.exitcode, 0);
        EXPECT_EQ(r.o.out, e.out);
        EXPECT_EQ(benchrun::packetsout(r.trace), e.sent);
        EXPECT_TRUE(r.dumpexists);
        EXPECT_TRUE(r.dumpfile == e.file) << "dump.hex: " << r.dumpfile.size() << " bytes, expected " << e.file.size();
        EXPECT_TRUE(r.chip == b.bench.before) << "a dump changed the chip";
        ++runs;
        if (HasFailure()) break;
    }
    std::cout << "[ figures  ] " << runs << " runs of benchdial's dump, each with one fault '" << kindname(kind)
              << "', each checked for output, exit code, packets, file, chip memory and time\n";
}

std::vector<dumpcase> dumpcases() {
    std::vector<dumpcase> v;
    for (faultkind k : allkinds)
        for (int s = 0; s < dumpshards; ++s) v.push_back({k, s});
    return v;
}

INSTANTIATE_TEST_SUITE_P(matrix, benchdialdumpfaults, testing::ValuesIn(dumpcases()),
                         [](const testing::TestParamInfo<dumpcase> &info) {
                             return kindname(info.param.kind) + "_shard" + std::to_string(info.param.shard);
                         });

}  // namespace
