// Hostile input, each case with the clear outcome it must have: damaged and
// outsized HEX files, device tables and console input, and dump file names
// that cannot be created. The real programs run on a bench; besides their
// output and exit code, a run is checked for what reached the chip (a HEX
// file or table that ends the run erases and writes nothing), for the files
// it leaves, and, for outsized input, for memory that does not grow with it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "benchrun.h"
#include "hexrecord.h"
#include "runerror.h"

namespace {

namespace fs = std::filesystem;
using benchrun::outcome;

constexpr int nobody = 65534;

// --- what the programs write --------------------------------------------------

std::string report(const char *kind, const std::string &message, const std::string &module) {
    std::ostringstream s;
    runerror::writereport(s, runerror::runfailure(kind, message), module);
    return s.str();
}

const std::string opened = "1 devices\nInstance Index # 0\nfound only one device using it\n1 2 -1\n";

// flashwren up to the device table's line, on a bench with a PIC18F452.
std::string flashhead(const std::string &name = "PIC18F452") {
    return "initialising usb\n" + opened +
           "reading firmware revision\n"
           "firmware version:00.00.02 last break:00.00.01 required00.00.01\n"
           "bringing up vpp\nsuccess\nreading device id\n"
           "device found: id=0x0420 revision=0x04\n"
           "target device detected is a " +
           name + "\n";
}

// The rest of a flashwren run that programs a PIC18F452 (1024 groups).
const std::string flashrest = "success\n" + std::string(64, '*') + "\nsuccess\nsuccess\n";

// A flashwren run that ends after the device lines: Vpp off, then the report.
std::string flashends(const char *kind, const std::string &message) {
    return flashhead() + "success\n" + report(kind, message, "flashwren");
}

// The packets of a flashwren run that ends before the erase.
const std::vector<std::string> untouched = {
    "50 00", "51 00", "53 08 00 3F 0E 00 F8 6E 00 FF 0E 00 F7 6E 00 FE 0E 00 F6 6E 19 19", "51 01"};

const std::string menu =
    "0: exit\n1: bring up Vpp\n2: take down Vpp\n3: test comms\n4: read location\n5: read block\n"
    "6: dump hex file\n7: bulk erase\n8: write test 1\n9: read location v2\n10: write test 2\n";

// --- inputs -------------------------------------------------------------------

using testhex::record;

const std::string endrecord = ":00000001FF";
const std::string goodhex = record(0, 0, {1, 2, 3, 4}) + "\r\n" + endrecord + "\r\n";

// Bytes from a fixed seed, none of them a line end, and none the colon that
// starts a record unless `colons`.
std::string garbage(size_t n, bool colons, unsigned seed) {
    std::mt19937 random(seed);
    std::string s;
    while (s.size() < n) {
        char c = static_cast<char>(random());
        if (c == '\r' || c == '\n' || (c == ':' && !colons)) continue;
        s += c;
    }
    return s;
}

// Garbage lines that each begin with a colon: records of no hex digits.
std::string garbagerecords() {
    std::string s;
    for (unsigned i = 0; i < 64; ++i) s += ":" + garbage(40, true, i) + "\r\n";
    return s;
}

// A device table of `sections` other devices (about 60 bytes each) with the
// PIC18F452 at the end.
std::string hugetable(size_t sections) {
    std::string s;
    char buf[96];
    for (size_t i = 0; i < sections; ++i) {
        std::snprintf(buf, sizeof buf, "[%04zX]\nname=part %zu\npanelsize=8192\npanelcount=%zu\n", (i * 32) & 0xFFFF, i, i);
        if (((i * 32) & 0xFFFF) != 0x0420) s += buf;
    }
    return s + "[0420]\nname=PIC18F452\npanelsize=8192\npanelcount=4\nbytestowriteperpanel=8\nnewstyle=0\n";
}

const std::string table452 = "[0420]\nname=PIC18F452\npanelsize=8192\npanelcount=4\nbytestowriteperpanel=8\n";

// --- the cases ------------------------------------------------------------------

// One run being set up: the case's prepare step fills this in.
struct casecontext {
    fs::path work, bench, bin = PICWREN_BIN_DIR;
    std::vector<std::string> args;   // after the program's name
    std::string input;               // standard input
    fs::path inputfile;              // or standard input from this file
    bool asanotheruser = false;      // run as nobody (root reads every file)
    int heldfd = -1;                 // a lock held by this process during the run
};

struct hostilecase {
    using preparation = std::function<void(casecontext &)>;
    using output = std::function<std::string(const casecontext &)>;
    using filecheck = std::function<void(const casecontext &)>;
    hostilecase(std::string n, std::string p, preparation pr, output e, int x = 0, std::vector<std::string> pk = {},
                long m = 0, filecheck a = {})
        : name(std::move(n)), program(std::move(p)), prepare(std::move(pr)), expected(std::move(e)), exitcode(x),
          packets(std::move(pk)), memorykb(m), after(std::move(a)) {}
    std::string name;
    std::string program;
    preparation prepare;
    output expected;                   // standard output
    int exitcode;
    std::vector<std::string> packets;  // when not empty: exactly these reached the bench
    long memorykb;                     // when not 0: peak memory at most this above a small run's
    filecheck after;                   // checks on the files left
};

// The table beside a private copy of flashwren; the bench then describes its
// part by geometry, so that it does not read that table itself.
void privatetable(casecontext &c, const std::string &table) {
    c.bin = c.work / "bin";
    fs::create_directories(c.bin);
    for (const char *f : {"flashwren", "libmpusbapi.so"})
        fs::copy_file(fs::path(PICWREN_BIN_DIR) / f, c.bin / f);
    benchrun::writefile(c.bin / "picspecs.ini", table);
    benchrun::writefile(c.bench / "bench.ini",
                        "[bench]\ntrace = 1\n\n[programmer0]\ndeviceid = 0420\nname = PIC18F452\n"
                        "flashsize = 0x8000\npanelsize = 0x2000\nwritebuffer = 8\nerase = old\n");
    fs::remove(c.bench / "chip0.mem");
}

void hexfile(casecontext &c, const std::string &text) {
    benchrun::writefile(c.work / "in.hex", text);
    c.args = {"in.hex"};
}

std::vector<hostilecase> cases() {
    auto fixed = [](const std::string &text) { return [text](const casecontext &) { return text; }; };
    std::vector<hostilecase> v;

    // HEX files.
    v.push_back(hostilecase{"hex_binarygarbage", "flashwren", [](casecontext &c) { hexfile(c, garbage(1 << 16, false, 1)); },
                 fixed(flashends(runerror::kexception, "end of file without an end-of-file record")), 1, untouched});
    v.push_back(hostilecase{"hex_garbagerecords", "flashwren", [](casecontext &c) { hexfile(c, garbagerecords()); },
                 fixed(flashends(runerror::kexception, "checksum failure")), 1, untouched});
    v.push_back(hostilecase{"hex_nulbytesonly", "flashwren", [](casecontext &c) { hexfile(c, std::string(1 << 20, '\0')); },
                 fixed(flashends(runerror::kexception, "end of file without an end-of-file record")), 1, untouched});
    v.push_back(hostilecase{"hex_nulbyteinarecord", "flashwren",
                 [](casecontext &c) {
                     std::string r = record(0, 0, {1, 2, 3, 4});
                     r[5] = '\0';
                     hexfile(c, r + "\r\n" + endrecord + "\r\n");
                 },
                 fixed(flashends(runerror::kexception, "checksum failure")), 1, untouched});
    v.push_back(hostilecase{"hex_nullinesbetweenrecordsarepassedover", "flashwren",
                 [](casecontext &c) {
                     hexfile(c, std::string(100, '\0') + "\r\n" + record(0, 0, {1, 2}) + "\r\n" +
                                    std::string(3, '\0') + "\n" + endrecord + "\r\n");
                 },
                 fixed(flashhead() + flashrest), 0});
    v.push_back(hostilecase{"hex_hugelinebeforetherecords", "flashwren",
                 [](casecontext &c) { hexfile(c, std::string(32 << 20, 'x') + "\r\n" + goodhex); },
                 fixed(flashhead() + flashrest), 0, {}, 4096});
    v.push_back(hostilecase{"hex_hugerecordline", "flashwren",
                 [](casecontext &c) { hexfile(c, ":" + std::string(32 << 20, '0') + "\r\n" + endrecord + "\r\n"); },
                 fixed(flashends(runerror::kexception, "lengths don't match")), 1, untouched, 4096});
    v.push_back(hostilecase{"hex_hugelineonstandardinput", "flashwren",
                 [](casecontext &c) {
                     benchrun::writefile(c.work / "in.hex", std::string(32 << 20, ';') + "\n" + goodhex);
                     c.inputfile = c.work / "in.hex";
                 },
                 fixed(flashhead() + flashrest), 0, {}, 4096});
    v.push_back(hostilecase{"hex_afolder", "flashwren",
                 [](casecontext &c) {
                     fs::create_directory(c.work / "folder.hex");
                     c.args = {"folder.hex"};
                 },
                 fixed(flashends(runerror::kinouterror, "File access denied")), 1, untouched});
    v.push_back(hostilecase{"hex_unreadable", "flashwren",
                 [](casecontext &c) {
                     hexfile(c, goodhex);
                     chmod((c.work / "in.hex").c_str(), 0);
                     c.asanotheruser = true;
                 },
                 fixed(flashends(runerror::kinouterror, "File access denied")), 1, untouched});

    // Device tables.
    v.push_back(hostilecase{"table_binarygarbage", "flashwren",
                 [](casecontext &c) {
                     privatetable(c, garbage(1 << 16, true, 2));
                     hexfile(c, goodhex);
                 },
                 [](const casecontext &) {
                     return flashhead().substr(0, flashhead().find("target device")) + "success\n" +
                            report(runerror::kexception, "unrecognised device", "flashwren");
                 },
                 1, untouched});
    v.push_back(hostilecase{"table_huge", "flashwren",
                 [](casecontext &c) {
                     privatetable(c, hugetable(300000));
                     hexfile(c, goodhex);
                 },
                 fixed(flashhead() + flashrest), 0, {}, 4096});
    v.push_back(hostilecase{"table_unreadable", "flashwren",
                 [](casecontext &c) {
                     privatetable(c, table452);
                     chmod((c.bin / "picspecs.ini").c_str(), 0);
                     hexfile(c, goodhex);
                     c.asanotheruser = true;
                 },
                 [](const casecontext &) {
                     return flashhead().substr(0, flashhead().find("target device")) + "success\n" +
                            report(runerror::kexception, "unrecognised device", "flashwren");
                 },
                 1, untouched});
    v.push_back(hostilecase{"table_namerof5000characters", "flashwren",
                 [](casecontext &c) {
                     std::string name;
                     for (int i = 0; i < 5000; ++i) name += static_cast<char>('a' + i % 26);
                     privatetable(c, "[0420]\nname=" + name + "\npanelsize=8192\npanelcount=4\nbytestowriteperpanel=8\n");
                     hexfile(c, goodhex);
                 },
                 [](const casecontext &) {
                     std::string name;
                     for (int i = 0; i < 1023; ++i) name += static_cast<char>('a' + i % 26);
                     return flashhead(name) + flashrest;
                 },
                 0});

    // Console input.
    v.push_back(hostilecase{"console_megabytelinerestisdiscarded", "benchdial",
                 [](casecontext &c) { c.input = "3 " + std::string(1 << 20, 'x') + "\n0\n"; },
                 fixed(opened + menu + "success-picwren\n" + menu), 0});
    v.push_back(hostilecase{"console_megabytetoken", "benchdial",
                 [](casecontext &c) { c.input = std::string(1 << 20, '1') + "\n0\n"; },
                 fixed(opened + menu + report(runerror::kinouterror, "Invalid numeric input", "benchdial")), 1});
    v.push_back(hostilecase{"console_nulbytesareskipped", "benchdial",
                 [](casecontext &c) { c.input = std::string("\0\0\0 3\0\n\0\n0\n", 11); },
                 fixed(opened + menu + "success-picwren\n" + menu), 0});
    v.push_back(hostilecase{"console_endofinputinthemiddleofaline", "benchdial", [](casecontext &c) { c.input = "3"; },
                 fixed(opened + menu + "success-picwren\n" + menu), 0});
    v.push_back(hostilecase{"console_endofinputinthemiddleofthefilename", "benchdial",
                 [](casecontext &c) { c.input = "1\n6\ndump.h"; },
                 fixed(opened + menu + "success\n" + menu + "enter filename\n" + std::string(64, '*') + "\n" + menu),
                 0, {},
                 0,
                 [](const casecontext &c) {
                     EXPECT_EQ(fs::file_size(c.work / "dump.h"), 92190u);
                 }});
    v.push_back(hostilecase{"console_endofinputatthefilenameprompt", "benchdial", [](casecontext &c) { c.input = "6\n"; },
                 fixed(opened + menu + "enter filename\n" + report(runerror::kfcreateerror, "Cannot create file ", "benchdial")), 1});
    v.push_back(hostilecase{"console_megabytefilename", "benchdial",
                 [](casecontext &c) { c.input = "6\n" + std::string(1 << 20, 'n') + "\n0\n"; },
                 fixed(opened + menu + "enter filename\n" +
                       report(runerror::kfcreateerror, "Cannot create file " + std::string(65536, 'n'), "benchdial")),
                 1});

    // Dump file names.
    v.push_back(hostilecase{"dump_nameswithazerobyte", "benchdial",
                 [](casecontext &c) { c.input = std::string("6\ndu\0mp.hex\n0\n", 15); },
                 fixed(opened + menu + "enter filename\n" +
                       report(runerror::kfcreateerror, "Cannot create file du\\0mp.hex", "benchdial")),
                 1, {}, 0,
                 [](const casecontext &c) {
                     EXPECT_FALSE(fs::exists(c.work / "du"));
                 }});
    v.push_back(hostilecase{"dump_afolder", "benchdial",
                 [](casecontext &c) {
                     fs::create_directory(c.work / "dumps");
                     c.input = "6\ndumps\n0\n";
                 },
                 fixed(opened + menu + "enter filename\n" + report(runerror::kfcreateerror, "Cannot create file dumps", "benchdial")),
                 1, {}, 0,
                 [](const casecontext &c) {
                     EXPECT_TRUE(fs::is_directory(c.work / "dumps"));
                 }});
    v.push_back(hostilecase{"dump_lockedbyanotherprocess", "benchdial",
                 [](casecontext &c) {
                     benchrun::writefile(c.work / "held.hex", "kept");
                     c.heldfd = open((c.work / "held.hex").c_str(), O_RDWR | O_CLOEXEC);
                     flock(c.heldfd, LOCK_EX | LOCK_NB);
                     c.input = "1\n6\nheld.hex\n0\n";
                 },
                 fixed(opened + menu + "success\n" + menu + "enter filename\n" +
                       report(runerror::kfcreateerror, "Cannot create file held.hex", "benchdial")),
                 1, {"51 00"}, 0,
                 [](const casecontext &c) {
                     EXPECT_EQ(benchrun::readfile(c.work / "held.hex"), "kept");
                 }});
    v.push_back(hostilecase{"dump_devfull", "benchdial", [](casecontext &c) { c.input = "1\n6\n/dev/full\n0\n"; },
                 fixed(opened + menu + "success\n" + menu + "enter filename\nerror-writing aborted\n" + menu), 0});
    v.push_back(hostilecase{"dump_inamissingfolder", "benchdial", [](casecontext &c) { c.input = "6\nnofolder/dump.hex\n0\n"; },
                 fixed(opened + menu + "enter filename\n" +
                       report(runerror::kfcreateerror, "Cannot create file nofolder/dump.hex", "benchdial")),
                 1, {}, 0,
                 [](const casecontext &c) {
                     EXPECT_FALSE(fs::exists(c.work / "nofolder"));
                 }});
    return v;
}

// Peak memory of a small run of each program, to measure outsized runs against.
long smallrunkb(const std::string &program) {
    static std::map<std::string, long> cache;
    if (cache.count(program)) return cache[program];
    benchrun::scratch folder("hostile-small");
    benchrun::tool({"simbench", "init", (folder.path / "bench").string(), "PIC18F452"}, folder.path);
    benchrun::writefile(folder.path / "in.hex", goodhex);
    benchrun::runspec r;
    r.argv = {program, "in.hex"};
    r.dir = folder.path;
    r.bench = folder.path / "bench";
    return cache[program] = benchrun::run(r).maxrsskb;
}

void PrintTo(const hostilecase &c, std::ostream *os) { *os << c.name; }

class hostileinput : public testing::TestWithParam<hostilecase> {};

TEST_P(hostileinput, clearoutcome) {
    const hostilecase &hc = GetParam();
    benchrun::scratch folder("hostile");
    casecontext c;
    c.work = folder.path / "work";
    c.bench = folder.path / "bench";
    fs::create_directories(c.work);
    benchrun::tool({"simbench", "init", c.bench.string(), "PIC18F452"}, c.work);
    hc.prepare(c);

    benchrun::runspec r;
    r.argv = {(c.bin / hc.program).string()};
    r.argv.insert(r.argv.end(), c.args.begin(), c.args.end());
    r.dir = c.work;
    r.input = c.input;
    r.inputfile = c.inputfile;
    r.bench = c.bench;
    r.bin = c.bin;
    r.seconds = 120;
    if (c.asanotheruser) {
        if (geteuid() != 0) {
            // Not root: the owner is refused as well, no other user needed.
        } else {
            r.uid = nobody;
            for (const auto &p : fs::recursive_directory_iterator(folder.path)) {
                if (p.path().filename() == "in.hex" || p.path().filename() == "picspecs.ini") continue;
                fs::permissions(p.path(), fs::perms::all, fs::perm_options::add);
            }
            fs::permissions(folder.path, fs::perms::all, fs::perm_options::add);
        }
    }
    outcome o = benchrun::run(r);
    if (c.heldfd >= 0) close(c.heldfd);
    if (o.exitcode == 125) GTEST_SKIP() << "cannot run as another user here";

    EXPECT_FALSE(o.timedout) << "the run hung";
    EXPECT_EQ(o.exitcode, hc.exitcode);
    const std::string expected = hc.expected(c);
    EXPECT_TRUE(o.out == expected) << "standard output, " << o.out.size() << " bytes:\n"
                                   << o.out.substr(0, 2000) << "\n--- expected, " << expected.size() << " bytes:\n"
                                   << expected.substr(0, 2000);
    EXPECT_EQ(o.err, "");
    std::vector<benchrun::traceline> trace = benchrun::readtrace(c.bench);
    for (const auto &t : trace) EXPECT_NE(t.kind, "violation") << t.text;
    if (!hc.packets.empty()) {
        EXPECT_EQ(benchrun::packetsout(trace), hc.packets);
    }
    if (hc.memorykb > 0) {
        // Both peaks include the pages of this test process that the child
        // shares at its start; a program that held the outsized input, tens
        // of megabytes, would still show far above the bound.
        const long small = smallrunkb(hc.program);
        EXPECT_LE(o.maxrsskb, small + hc.memorykb) << "peak memory " << o.maxrsskb << " kB, a small run's " << small;
        std::cout << "[ figures  ] peak memory " << o.maxrsskb << " kB (a small run: " << small << " kB)\n";
    }
    if (hc.after) hc.after(c);
}

INSTANTIATE_TEST_SUITE_P(cases, hostileinput, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<hostilecase> &info) { return info.param.name; });

}  // namespace
