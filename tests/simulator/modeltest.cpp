// The firmware and chip model against the PIC18 programming scheme, driven
// packet by packet through firmware::handlepacket.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>

#include "benchconfig.h"
#include "chipmemory.h"
#include "firmware.h"
#include "scriptbuild.h"

namespace {

using scriptbuild::packet;
using bytes = std::vector<uint8_t>;

benchconfig::programmer makeprogrammer(const char *name, uint16_t id, uint32_t flash, uint32_t panel,
                                       uint32_t buffer, bool newstyle) {
    benchconfig::programmer p;
    p.chip.attached = true;
    p.chip.geometry = {name, id, flash, panel, buffer, newstyle};
    p.chip.revision = 0x07;
    p.chip.configmask.fill(0xFF);
    return p;
}

const benchconfig::programmer pic18f452 = makeprogrammer("PIC18F452", 0x0420, 32768, 8192, 8, false);
const benchconfig::programmer pic18f2520 = makeprogrammer("PIC18F2520", 0x1100, 32768, 32768, 32, true);
const benchconfig::programmer pic18f2620 = makeprogrammer("PIC18F2620", 0x0C80, 65536, 65536, 64, true);

class model : public ::testing::Test {
  protected:
    std::string dir;
    chipmemory::chip chip;
    benchconfig::programmer prog;

    void SetUp() override {
        char templ[] = "/tmp/simmodelXXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override {
        chipmemory::closechip(chip);
        std::filesystem::remove_all(dir);
    }
    void attach(const benchconfig::programmer &p) {
        prog = p;
        std::string error;
        ASSERT_EQ(chipmemory::openchip(dir + "/chip0.mem", p.chip.geometry.flashsize, p.chip.configmask, false, chip,
                                       error),
                  chipmemory::openresult::created)
            << error;
    }
    firmware::outcome send(const bytes &b) { return firmware::handlepacket(prog, chip, b.data(), b.size()); }
    bytes run(const packet &p) {
        firmware::outcome o = send(p.bytes);
        EXPECT_TRUE(o.replied) << o.violation;
        EXPECT_EQ(o.reply.size(), p.replylength());
        return o.reply;
    }
    // Reads count bytes from address a as the host does: one block read, then more.
    bytes readmem(uint32_t a, size_t count) {
        bytes out;
        size_t first = std::min<size_t>(count, 32);
        bytes r = run(scriptbuild::readblock(a, static_cast<int>(first)));
        out.insert(out.end(), r.begin() + 1, r.end());
        while (out.size() < count) {
            size_t n = std::min<size_t>(count - out.size(), 32);
            r = run(scriptbuild::readmore(static_cast<int>(n)));
            out.insert(out.end(), r.begin() + 1, r.end());
        }
        return out;
    }
    static bytes pattern(size_t n, uint8_t start) {
        bytes b(n);
        std::iota(b.begin(), b.end(), start);
        return b;
    }
};

TEST_F(model, versioncommandsandreplylengths) {
    attach(pic18f452);
    prog.firmware = {0x01, 0x02, 0x03};
    prog.lastbreak = {0x00, 0x00, 0x01};
    benchconfig::parsecommstext("ab", prog.commstext);
    firmware::outcome o = send({0x50, 0x00});
    ASSERT_TRUE(o.replied);
    EXPECT_EQ(o.reply, (bytes{0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x00, 0x00}));
    o = send({0x52, 0x33});
    ASSERT_TRUE(o.replied);
    EXPECT_EQ(o.reply, (bytes{'a', 'b', 0, 0, 0, 0, 0, 0}));
    o = send({0x51, 0x00});
    ASSERT_TRUE(o.replied);
    EXPECT_EQ(o.reply.size(), 1u);
    EXPECT_EQ(chip.state->vpp, 1);
    send({0x51, 0x01});
    EXPECT_EQ(chip.state->vpp, 0);
    // A script without reads has a one-byte reply; with three reads four bytes.
    EXPECT_EQ(run(packet{}.core(0)).size(), 1u);
    EXPECT_EQ(run(scriptbuild::readblock(0, 3)).size(), 4u);
}

TEST_F(model, deviceidandrevision) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    bytes id = run(scriptbuild::readblock(0x3FFFFE, 2));
    EXPECT_EQ(id, (bytes{0x00, 0x27, 0x04}));  // DEVID1 = id bits 7-5 | revision, DEVID2
    attach(pic18f2620);
    send(scriptbuild::vpp(true));
    EXPECT_EQ(run(scriptbuild::readblock(0x3FFFFE, 2)), (bytes{0x00, 0x87, 0x0C}));
}

TEST_F(model, freshchipiserasedandunimplementedmemoryreadszero) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    EXPECT_EQ(readmem(0, 40), bytes(40, 0xFF));
    EXPECT_EQ(readmem(0x7FF0, 16), bytes(16, 0xFF));
    EXPECT_EQ(readmem(0x8000, 8), bytes(8, 0x00));     // past program memory
    EXPECT_EQ(readmem(0x200000, 8), bytes(8, 0xFF));   // ID locations
    EXPECT_EQ(readmem(0x200008, 4), bytes(4, 0x00));
    EXPECT_EQ(readmem(0x300000, 14), bytes(14, 0xFF)); // configuration
    EXPECT_EQ(readmem(0x30000E, 2), bytes(2, 0x00));
    EXPECT_EQ(readmem(0x3C0004, 3), bytes(3, 0x00));
}

TEST_F(model, tablepointerwrapsandreadmorecontinues) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    chip.flash[0] = 0x11;
    chip.flash[1] = 0x22;
    chip.flash[0x123] = 0x33;
    bytes r = run(scriptbuild::readblock(0x3FFFFF, 2));  // DEVID2, then address 0
    EXPECT_EQ(r, (bytes{0x00, 0x04, 0x11}));
    EXPECT_EQ(run(scriptbuild::readmore(1)), (bytes{0x00, 0x22}));
    // An address over 22 bits (a location typed at the console) keeps its low
    // 22 bits, whether loaded by MOVWF or by settableptr.
    EXPECT_EQ(run(scriptbuild::readblock(0xC00123, 1)), (bytes{0x00, 0x33}));
    packet p;
    firmware::outcome o = send(p.settableptr(0xC00123).read().bytes);
    ASSERT_TRUE(o.replied) << o.violation;
    EXPECT_EQ(o.reply, (bytes{0x00, 0x33}));
}

TEST_F(model, oldstyleeraseandmultipanelplacement) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    std::fill(chip.flash, chip.flash + 32768, 0x00);
    run(scriptbuild::oldstyleerase());
    EXPECT_EQ(readmem(0x1230, 16), bytes(16, 0xFF));
    for (uint32_t a = 0; a < 32768; ++a) ASSERT_EQ(chip.flash[a], 0xFF) << a;
    // Four panels of 8 bytes at 0x10: panel i lands at 0x10 + i * 0x2000.
    const bytes data = pattern(32, 0x40);
    run(scriptbuild::panelwrite(false, 0x58, 0x10, data));
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(readmem(0x10 + i * 0x2000, 8), bytes(data.begin() + i * 8, data.begin() + i * 8 + 8)) << i;
    EXPECT_EQ(readmem(0x08, 8), bytes(8, 0xFF));
    EXPECT_EQ(readmem(0x18, 8), bytes(8, 0xFF));
    // Two panels of 8 bytes: op 0x54; the other panels keep what they had.
    const bytes two = pattern(16, 0x80);
    run(scriptbuild::panelwrite(false, 0x54, 0x100, two));
    EXPECT_EQ(readmem(0x100, 8), bytes(two.begin(), two.begin() + 8));
    EXPECT_EQ(readmem(0x2100, 8), bytes(two.begin() + 8, two.end()));
    EXPECT_EQ(readmem(0x4100, 8), bytes(8, 0xFF));
}

TEST_F(model, withoutmultipanelenableonlythelastpanelisprogrammed) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    // The new-style frame puts a NOP where the enable would be.
    const bytes data = pattern(32, 1);
    run(scriptbuild::panelwrite(true, 0x58, 0x20, data));
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(readmem(0x20 + i * 0x2000, 8), bytes(8, 0xFF)) << i;
    EXPECT_EQ(readmem(0x6020, 8), bytes(data.begin() + 24, data.end()));
}

TEST_F(model, newstyleeraseandsinglepanelwrite) {
    attach(pic18f2520);
    send(scriptbuild::vpp(true));
    std::fill(chip.flash, chip.flash + 32768, 0x5A);
    run(scriptbuild::newstyleerase());
    for (uint32_t a = 0; a < 32768; ++a) ASSERT_EQ(chip.flash[a], 0xFF) << a;
    const bytes data = pattern(32, 0x10);
    run(scriptbuild::panelwrite(true, 0x52, 0x7FE0, data));
    EXPECT_EQ(readmem(0x7FE0, 32), data);
}

TEST_F(model, sixtyfourbyterowtakestwochunksandprogramsonlyonthelast) {
    attach(pic18f2620);
    send(scriptbuild::vpp(true));
    const bytes data = pattern(64, 0x20);
    run(scriptbuild::panelwrite(true, 0x72, 0x80, bytes(data.begin(), data.begin() + 32)));
    EXPECT_EQ(readmem(0x80, 32), bytes(32, 0xFF));  // only loaded so far
    run(scriptbuild::panelwrite(true, 0x52, 0xA0, bytes(data.begin() + 32, data.end())));
    EXPECT_EQ(readmem(0x80, 64), data);
}

TEST_F(model, eachpartanswersonlytoitsownerasestyle) {
    struct row {
        const benchconfig::programmer *part;
        bool newscript;
        bool erases;
    } rows[] = {{&pic18f452, false, true}, {&pic18f452, true, false},
                {&pic18f2520, true, true}, {&pic18f2520, false, false}};
    for (const row &r : rows) {
        chipmemory::closechip(chip);
        std::filesystem::remove(dir + "/chip0.mem");
        attach(*r.part);
        send(scriptbuild::vpp(true));
        chip.flash[5] = 0x00;
        chip.state->config[1] = 0x00;
        firmware::outcome o = send((r.newscript ? scriptbuild::newstyleerase() : scriptbuild::oldstyleerase()).bytes);
        ASSERT_TRUE(o.replied);
        EXPECT_EQ(chip.flash[5], r.erases ? 0xFF : 0x00) << r.part->chip.geometry.name << " new " << r.newscript;
        EXPECT_EQ(chip.state->config[1], r.erases ? 0xFF : 0x00);
        EXPECT_EQ(o.notes.empty(), r.erases);  // an ignored erase says why in the trace
    }
}

TEST_F(model, programmingwithouteraseandsthebits) {
    attach(pic18f2520);
    send(scriptbuild::vpp(true));
    bytes first(32, 0xF0), second(32, 0x3C);
    run(scriptbuild::panelwrite(true, 0x52, 0x40, first));
    run(scriptbuild::panelwrite(true, 0x52, 0x40, second));
    EXPECT_EQ(readmem(0x40, 32), bytes(32, 0x30));
    run(scriptbuild::newstyleerase());
    run(scriptbuild::panelwrite(true, 0x52, 0x40, second));
    EXPECT_EQ(readmem(0x40, 32), second);
}

TEST_F(model, configurationwriteandmask) {
    benchconfig::programmer p = pic18f452;
    p.chip.configmask = {0x00, 0x27, 0x0F, 0x0F, 0x00, 0x01, 0x85, 0x00, 0x0F, 0xC0, 0x0F, 0xE0, 0x0F, 0x40};
    attach(p);
    send(scriptbuild::vpp(true));
    EXPECT_EQ(readmem(0x300000, 14), bytes(p.chip.configmask.begin(), p.chip.configmask.end()));
    const bytes values = pattern(14, 0xF1);
    run(scriptbuild::configwrite(values));
    bytes expected(14);
    for (size_t k = 0; k < 14; ++k) expected[k] = values[k] & p.chip.configmask[k];
    EXPECT_EQ(readmem(0x300000, 14), expected);
    // Configuration cells are rewritten, not ANDed: bits come back.
    run(scriptbuild::configwrite(bytes(14, 0xFF)));
    EXPECT_EQ(readmem(0x300000, 14), bytes(p.chip.configmask.begin(), p.chip.configmask.end()));
    // Program memory is untouched by it.
    EXPECT_EQ(readmem(0, 16), bytes(16, 0xFF));
}

TEST_F(model, eecon1decideswhataprogrammingwritereaches) {
    attach(pic18f2520);
    send(scriptbuild::vpp(true));
    // A panel write with CFGS still set (no BCF EECON1, CFGS) programs nothing.
    packet p;
    p.core(0x8EA6).core(0x8CA6).panelwrite(0x50, 0x00, bytes(8, 0x00)).programhold();
    firmware::outcome o = send(p.bytes);
    ASSERT_TRUE(o.replied);
    EXPECT_EQ(readmem(0, 8), bytes(8, 0xFF));
    EXPECT_FALSE(o.notes.empty());
    // A configuration write without CFGS programs nothing either.
    packet c;
    c.core(0x9CA6).settableptr(0x300000).configwrite(bytes(14, 0x00));
    o = send(c.bytes);
    ASSERT_TRUE(o.replied);
    EXPECT_EQ(readmem(0x300000, 14), bytes(14, 0xFF));
    EXPECT_FALSE(o.notes.empty());
}

// The console's first write test: multi-panel writes off, four word writes,
// the last of which starts programming.
TEST_F(model, wordwritesprogramonepanelrow) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    const bytes writetest1{0x53, 0x0D, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x8C, 0x00, 0xA6, 0x86, 0x30, 0x3C, 0x00,
                           0x06, 0x0C, 0x00, 0x00, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x9C, 0x30, 0x00, 0x00, 0x00,
                           0x0D, 0x01, 0x01, 0x0D, 0x02, 0x03, 0x0D, 0x05, 0x08, 0x0F, 0x0D, 0x15, 0x40};
    ASSERT_EQ(writetest1.size(), 41u);
    firmware::outcome o = send(writetest1);
    ASSERT_TRUE(o.replied) << o.violation;
    EXPECT_EQ(o.reply.size(), 1u);
    EXPECT_EQ(readmem(0, 16), (bytes{0x01, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0D, 0x15, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(chip.state->multipanel, 0);
}

TEST_F(model, idlocationsthroughtablewrites) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    packet p;
    p.core(0x8EA6).core(0x9CA6).settableptr(0x200000).tablewritepostinc(0x2211).tablewritepostinc(0x4433)
        .tablewritepostinc(0x6655).tablewritestart(0x8877).programhold();
    run(p);
    EXPECT_EQ(readmem(0x200000, 8), (bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    run(scriptbuild::oldstyleerase());
    EXPECT_EQ(readmem(0x200000, 8), bytes(8, 0xFF));
}

TEST_F(model, withoutvppthechipreadszeroandignoreswrites) {
    attach(pic18f2520);
    EXPECT_EQ(chip.state->vpp, 0);
    EXPECT_EQ(run(scriptbuild::readblock(0x3FFFFE, 2)), (bytes{0, 0, 0}));
    EXPECT_EQ(run(scriptbuild::readblock(0, 4)), (bytes{0, 0, 0, 0, 0}));
    run(scriptbuild::panelwrite(true, 0x52, 0, bytes(32, 0x00)));
    chip.flash[100] = 0x12;
    run(scriptbuild::newstyleerase());
    run(scriptbuild::configwrite(bytes(14, 0)));
    EXPECT_EQ(chip.flash[0], 0xFF);
    EXPECT_EQ(chip.flash[100], 0x12);
    EXPECT_EQ(chip.state->config[0], 0xFF);
    send(scriptbuild::vpp(true));
    EXPECT_EQ(readmem(0, 1), bytes{0xFF});
    send(scriptbuild::vpp(false));
    EXPECT_EQ(run(scriptbuild::readblock(100, 1)), (bytes{0, 0}));
}

TEST_F(model, nochipattachedreadszero) {
    benchconfig::programmer p;  // part = none
    prog = p;
    std::string error;
    ASSERT_NE(chipmemory::openchip(dir + "/chip0.mem", 0, p.chip.configmask, false, chip, error),
              chipmemory::openresult::failed);
    send(scriptbuild::vpp(true));
    EXPECT_EQ(run(scriptbuild::readblock(0x3FFFFE, 2)), (bytes{0, 0, 0}));
}

// One case per kind of protocol violation: no reply, nothing done to the chip.
TEST_F(model, violationsgetnoreplyandchangenothing) {
    attach(pic18f2520);
    send(scriptbuild::vpp(true));
    run(scriptbuild::readblock(0x001234, 0));
    auto erasethenbad = [](bytes tail) {
        bytes b = scriptbuild::newstyleerase().bytes;
        b[1] = static_cast<uint8_t>(b[1] + 1);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    struct row {
        const char *kind;
        bytes packet;
        const char *says;
    } rows[] = {
        {"longer than 64", bytes(65, 0x19), "longer than 64"},
        {"empty packet", {}, "empty"},
        {"unknown command", {0x54, 0x00}, "unknown command 54"},
        {"P not 2 bytes", {0x50}, "not 2"},
        {"R not 2 bytes", {0x52, 0x00, 0x00}, "not 2"},
        {"Vpp argument", {0x51, 0x02}, "Vpp argument 02"},
        {"script without count", {0x53}, "without a step count"},
        {"too few steps", {0x53, 0x03, 0x19, 0x19}, "ends after 2 steps"},
        {"bytes after the last step", {0x53, 0x01, 0x19, 0x19}, "1 bytes after"},
        {"step cut short", {0x53, 0x01, 0x00, 0x00}, "needs 2 operand bytes"},
        {"unknown op byte", erasethenbad({0x10}), "unknown op byte 10"},
        {"unknown instruction", erasethenbad({0x00, 0xA6, 0x84}), "instruction 84A6"},
        {"erasehold word", {0x53, 0x01, 0x20, 0x01, 0x00}, "erasehold word 0001"},
        {"configwrite elsewhere", packet{}.core(0x8EA6).core(0x8CA6).settableptr(0x300001).configwrite(bytes(14, 0)).bytes,
         "not 300000"},
    };
    chip.flash[0] = 0x00;
    for (const row &r : rows) {
        firmware::outcome o = send(r.packet);
        EXPECT_FALSE(o.replied) << r.kind;
        EXPECT_TRUE(o.reply.empty()) << r.kind;
        EXPECT_NE(o.violation.find(r.says), std::string::npos) << r.kind << ": " << o.violation;
        EXPECT_EQ(firmware::expectedreply(r.packet.data(), r.packet.size()),
                  std::string(r.kind) == "configwrite elsewhere" ? 1u : 0u)
            << r.kind;
    }
    // The bad scripts that began with an erase never ran it, nor moved the
    // table pointer; only the configwrite case ran up to its bad step.
    EXPECT_EQ(chip.flash[0], 0x00);
    EXPECT_EQ(chip.state->tblptr, 0x300001u);
}

TEST_F(model, everyproperpackethasitsexpectedreplylength) {
    attach(pic18f452);
    send(scriptbuild::vpp(true));
    const bytes packets[] = {
        {0x50, 0x00}, {0x51, 0x00}, {0x52, 0x00}, scriptbuild::oldstyleerase().bytes, scriptbuild::newstyleerase().bytes,
        scriptbuild::panelwrite(false, 0x52, 0, bytes(32, 1)).bytes, scriptbuild::configwrite(bytes(14, 1)).bytes,
        scriptbuild::readblock(0, 44).bytes, scriptbuild::readmore(62).bytes,
    };
    for (const bytes &p : packets) {
        EXPECT_LE(p.size(), 64u);
        firmware::outcome o = send(p);
        ASSERT_TRUE(o.replied) << o.violation;
        EXPECT_EQ(o.reply.size(), firmware::expectedreply(p.data(), p.size()));
    }
    EXPECT_EQ(firmware::expectedreply(packets[8].data(), packets[8].size()), 63u);
}

}  // namespace
