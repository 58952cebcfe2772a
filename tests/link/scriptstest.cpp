// The erase, write and read scripts, byte for byte, and the values refused
// before anything is sent.
#include <vector>

#include "linkfixture.h"

namespace {

using picprocs::linkvariant;

// A 32 KB image in which the same offset differs from panel to panel.
class scriptfixture : public linkfixture {
protected:
    void SetUp() override {
        linkfixture::SetUp();
        image.resize(0x8000);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 13 + (i >> 13) * 0x41);
        globaldata::memimage = image.data();
        globaldata::imagesize = static_cast<int32_t>(image.size());
        globaldata::devicespec.panelsize = 0x2000;
        globaldata::devicespec.panelcount = 4;
        openlink();
    }
    // memimage[from .. to-1]
    bytestring slice(int from, int to) const {
        return bytestring(image.begin() + from, image.begin() + to);
    }
    bytestring image;
};

// ---- bulkerase

const bytestring newerase = bytes({
    0x53, 0x10,
    0x00, 0x3C, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0x00, 0x0E, 0x00, 0xF7, 0x6E,
    0x00, 0x05, 0x0E, 0x00, 0xF6, 0x6E, 0x0C, 0x0F, 0x0F,
    0x00, 0x3C, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0x00, 0x0E, 0x00, 0xF7, 0x6E,
    0x00, 0x04, 0x0E, 0x00, 0xF6, 0x6E, 0x0C, 0x87, 0x87,
    0x00, 0x00, 0x00, 0x20, 0x00, 0x00});

const bytestring olderase = bytes({
    0x53, 0x09,
    0x00, 0x3C, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0x00, 0x0E, 0x00, 0xF7, 0x6E,
    0x00, 0x04, 0x0E, 0x00, 0xF6, 0x6E, 0x0C, 0x80, 0x00,
    0x00, 0x00, 0x00, 0x20, 0x00, 0x00});

struct erasecase {
    linkvariant variant;
    bool newstyle;
    const bytestring *packet;
};

void PrintTo(const erasecase &c, std::ostream *os) {
    *os << (c.variant == linkvariant::flashwren ? "flashwren" : "benchdial")
        << (c.newstyle ? " newstyle" : " oldstyle");
}

class bulkerase : public scriptfixture, public testing::WithParamInterface<erasecase> {};

TEST_P(bulkerase, sendsthescriptofthestyle) {
    picprocs::variant = GetParam().variant;
    globaldata::devicespec.newstyle = GetParam().newstyle;
    fakempusb::expect(answered(*GetParam().packet, 1, 1));
    picprocs::bulkerase();
    EXPECT_EQ(output(), "success\n");
}

INSTANTIATE_TEST_SUITE_P(table, bulkerase,
                         testing::Values(erasecase{linkvariant::flashwren, true, &newerase},
                                         erasecase{linkvariant::flashwren, false, &olderase},
                                         erasecase{linkvariant::benchdial, true, &olderase},
                                         erasecase{linkvariant::benchdial, false, &olderase}));

TEST_F(scriptfixture, bulkerasefailurewritesthefailureline) {
    EXPECT_EQ(newerase.size(), 50u);
    EXPECT_EQ(olderase.size(), 29u);
    fakempusb::expect(answered(olderase, 1, 0));
    picprocs::bulkerase();
    EXPECT_EQ(output(), failedline);
}

// ---- writepanels and writechunked

// The nine-step panel write frame around the data.
bytestring panelpacket(bool newstyle, uint8_t op, bytestring address, const bytestring &data) {
    bytestring p = bytes({0x53, 0x09, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x8C, 0x00, 0xA6, 0x86,
                          0x30, 0x3C, 0x00, 0x06});
    const bytestring style = newstyle ? bytes({0x00, 0x00, 0x00}) : bytes({0x0C, 0x40, 0x00});
    p.insert(p.end(), style.begin(), style.end());
    const bytestring tail = bytes({0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x9C, op});
    p.insert(p.end(), tail.begin(), tail.end());
    p.insert(p.end(), address.begin(), address.end());
    p.insert(p.end(), data.begin(), data.end());
    p.push_back(0x40);
    return p;
}

struct chunk {
    uint8_t op;
    bytestring address;          // as sent: upper, high, low
    std::vector<int> sources;    // memimage index of each panel's first byte
    int b;                       // bytes per panel
};

struct writecase {
    const char *name;
    int32_t address, n, b;
    bool newstyle;
    std::vector<chunk> packets;
};

void PrintTo(const writecase &c, std::ostream *os) { *os << c.name; }

class writechunked : public scriptfixture, public testing::WithParamInterface<writecase> {};

TEST_P(writechunked, packetsfromtheimage) {
    const writecase &c = GetParam();
    globaldata::devicespec.newstyle = c.newstyle;
    for (const chunk &k : c.packets) {
        bytestring data;
        for (int source : k.sources)
            data.insert(data.end(), image.begin() + source, image.begin() + source + k.b);
        const bytestring p = panelpacket(c.newstyle, k.op, k.address, data);
        EXPECT_EQ(p.size(), 29u + data.size());
        fakempusb::expect(answered(p, 1, 1));
    }
    picprocs::writechunked(c.address, c.n, c.b);
    EXPECT_EQ(output(), "");  // success is silent
}

INSTANTIATE_TEST_SUITE_P(
    table, writechunked,
    testing::Values(
        writecase{"onepanel32", 0x40, 1, 32, false, {{0x52, bytes({0, 0, 0x40}), {0x40}, 32}}},
        writecase{"fourpanels8", 0x10, 4, 8, false,
                  {{0x58, bytes({0, 0, 0x10}), {0x10, 0x2010, 0x4010, 0x6010}, 8}}},
        writecase{"twopanels16newstyle", 0x1FF0, 2, 16, true,
                  {{0x55, bytes({0, 0x1F, 0xF0}), {0x1FF0, 0x3FF0}, 16}}},
        writecase{"onepanel8", 0x7FF8, 1, 8, false, {{0x50, bytes({0, 0x7F, 0xF8}), {0x7FF8}, 8}}},
        writecase{"sixtyfourignorespanels", 0x80, 4, 64, false,
                  {{0x72, bytes({0, 0, 0x80}), {0x80}, 32},
                   {0x52, bytes({0, 0, 0xA0}), {0xA0}, 32}}},
        writecase{"onetwentyeight", 0x100, 1, 128, true,
                  {{0x72, bytes({0, 0x01, 0x00}), {0x100}, 32},
                   {0x72, bytes({0, 0x01, 0x20}), {0x120}, 32},
                   {0x72, bytes({0, 0x01, 0x40}), {0x140}, 32},
                   {0x52, bytes({0, 0x01, 0x60}), {0x160}, 32}}}),
    [](const testing::TestParamInfo<writecase> &info) { return info.param.name; });

TEST_F(scriptfixture, writepanelsmoretofollowuses7x) {
    bytestring data = slice(0x20, 0x28);
    const bytestring second = slice(0x2020, 0x2028);
    data.insert(data.end(), second.begin(), second.end());
    fakempusb::expect(answered(panelpacket(false, 0x74, bytes({0, 0, 0x20}), data), 1, 1));
    picprocs::writepanels(0x20, 2, 8, false);
    EXPECT_EQ(output(), "");
}

// A failed chunk is reported and the rest of the group still goes out.
TEST_F(scriptfixture, failedchunkisreportedandthenextissent) {
    fakempusb::exchange first =
        answered(panelpacket(false, 0x72, bytes({0, 0, 0x80}), slice(0x80, 0xA0)), 1, 1);
    first.writeerror = 110;
    fakempusb::expect(first);
    fakempusb::expect(
        answered(panelpacket(false, 0x52, bytes({0, 0, 0xA0}), slice(0xA0, 0xC0)), 1, 2));
    picprocs::writechunked(0x80, 1, 64);
    EXPECT_EQ(output(), "Error Code 110\n" + failedline + failedline);
}

// ---- writeconfig

TEST_F(scriptfixture, writeconfigsendsthefourteenbytes) {
    for (size_t i = 0; i < 14; ++i) globaldata::configbytes[i] = static_cast<uint8_t>(0x01 + i);
    const bytestring p = bytes({0x53, 0x05, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x8C, 0x00, 0xA6,
                                0x86, 0x30, 0x30, 0x00, 0x00, 0x60, 0x01, 0x02, 0x03, 0x04,
                                0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E});
    EXPECT_EQ(p.size(), 30u);
    fakempusb::expect(answered(p, 1, 1));
    picprocs::writeconfig();
    EXPECT_EQ(output(), "success\n");
}

TEST_F(scriptfixture, writeconfigwritesallzeroestoo) {
    globaldata::configbytes.fill(0);
    bytestring p = bytes({0x53, 0x05, 0x00, 0xA6, 0x8E, 0x00, 0xA6, 0x8C, 0x00, 0xA6, 0x86,
                          0x30, 0x30, 0x00, 0x00, 0x60});
    p.resize(30, 0x00);
    fakempusb::expect(answered(p, 1, 3));
    picprocs::writeconfig();
    EXPECT_EQ(output(), failedline);  // a 3-byte reply is a failure
}

// ---- readblock and readmore

TEST_F(scriptfixture, readblockreadsthedeviceid) {
    fakempusb::exchange e;
    e.packet = bytes({0x53, 0x08, 0x00, 0x3F, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0xFF, 0x0E,
                      0x00, 0xF7, 0x6E, 0x00, 0xFE, 0x0E, 0x00, 0xF6, 0x6E, 0x19, 0x19});
    e.readlength = 3;
    e.reply = bytes({0x99, 0x47, 0x12});
    fakempusb::expect(e);
    EXPECT_EQ(picprocs::readblock(0x3FFFFE, 2), bytes({0x47, 0x12}));
    EXPECT_EQ(output(), "");
}

TEST_F(scriptfixture, readmorereadsthirtytwo) {
    bytestring p = bytes({0x53, 0x20});
    p.resize(34, 0x19);
    fakempusb::exchange e = answered(p, 33, 33);
    fakempusb::expect(e);
    const bytestring got = picprocs::readmore(32);
    EXPECT_EQ(got, bytestring(e.reply.begin() + 1, e.reply.end()));
}

// The largest reads fill the packet exactly.
TEST_F(scriptfixture, largestreadsfillonepacket) {
    bytestring block = bytes({0x53, 44 + 6, 0x00, 0x00, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0x12,
                              0x0E, 0x00, 0xF7, 0x6E, 0x00, 0x34, 0x0E, 0x00, 0xF6, 0x6E});
    block.resize(64, 0x19);
    fakempusb::expect(answered(block, 45, 45));
    bytestring more = bytes({0x53, 62});
    more.resize(64, 0x19);
    fakempusb::expect(answered(more, 63, 63));
    EXPECT_EQ(picprocs::readblock(0x1234, 44).size(), 44u);
    EXPECT_EQ(picprocs::readmore(62).size(), 62u);
    EXPECT_EQ(output(), "");
}

TEST_F(scriptfixture, readofnothingisemptyaftertheexchange) {
    fakempusb::expect(answered(bytes({0x53, 0x06, 0x00, 0x00, 0x0E, 0x00, 0xF8, 0x6E, 0x00,
                                      0x00, 0x0E, 0x00, 0xF7, 0x6E, 0x00, 0x00, 0x0E, 0x00,
                                      0xF6, 0x6E}),
                               1, 1));
    EXPECT_TRUE(picprocs::readblock(0, 0).empty());
    EXPECT_EQ(output(), "");
}

// A failed read gives an empty result, the failure line and replylength.
struct readfailure {
    const char *name;
    bool linkopen;
    size_t replysize;
    int writeerror, readerror;
    std::optional<uint32_t> leftcount;
    const char *output;
};

void PrintTo(const readfailure &c, std::ostream *os) { *os << c.name; }

class failedreads : public scriptfixture, public testing::WithParamInterface<readfailure> {};

TEST_P(failedreads, emptyresultandtwolines) {
    const readfailure &c = GetParam();
    if (!c.linkopen) usbprocs::reset();
    const bytestring p = bytes({0x53, 0x02, 0x19, 0x19});
    if (c.linkopen) {
        fakempusb::exchange e = answered(p, 3, c.replysize);
        e.writeerror = c.writeerror;
        e.readerror = c.readerror;
        e.leftcount = c.leftcount;
        fakempusb::expect(e);
    }
    EXPECT_TRUE(picprocs::readmore(2).empty());
    EXPECT_EQ(output(), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    table, failedreads,
    testing::Values(
        readfailure{"oneshort", true, 2, 0, 0, {}, "USB Operation Failed\\r\\n\n2\n"},
        readfailure{"empty", true, 0, 0, 0, {}, "USB Operation Failed\\r\\n\n0\n"},
        readfailure{"onelong", true, 4, 0, 0, {}, "USB Operation Failed\\r\\n\n4\n"},
        readfailure{"writetimeout", true, 3, 110, 0, {},
                    "Error Code 110\nUSB Operation Failed\\r\\n\n3\n"},
        readfailure{"readtimeoutleavesnought", true, 3, 0, 110, 0u,
                    "Error Code 110\nUSB Operation Failed\\r\\n\n0\n"},
        readfailure{"readtimeoutleavesitalone", true, 3, 0, 110, {},
                    "Error Code 110\nUSB Operation Failed\\r\\n\n3\n"},
        readfailure{"devicegone", true, 3, 6, 0, {}, "USB Operation Failed\\r\\n\n3\n"},
        readfailure{"linkclosed", false, 0, 0, 0, {}, "USB Operation Failed\\r\\n\n3\n"}),
    [](const testing::TestParamInfo<readfailure> &info) { return info.param.name; });

TEST_F(scriptfixture, readblockshortreplyisempty) {
    bytestring p = bytes({0x53, 0x08, 0x00, 0x3F, 0x0E, 0x00, 0xF8, 0x6E, 0x00, 0xFF, 0x0E,
                          0x00, 0xF7, 0x6E, 0x00, 0xFE, 0x0E, 0x00, 0xF6, 0x6E, 0x19, 0x19});
    fakempusb::expect(answered(p, 3, 2));
    EXPECT_TRUE(picprocs::readblock(0x3FFFFE, 2).empty());
    EXPECT_EQ(output(), failedline + "2\n");
}

// ---- refusals: nothing is built or sent, one line, reads come back empty

struct refusal {
    const char *name;
    void (*call)(bytestring &result);
    const char *output;
};

void PrintTo(const refusal &c, std::ostream *os) { *os << c.name; }

class refusals : public scriptfixture, public testing::WithParamInterface<refusal> {};

TEST_P(refusals, nothingsent) {
    bytestring result = bytes({0xEE});
    GetParam().call(result);
    EXPECT_TRUE(fakempusb::calls().empty());
    EXPECT_TRUE(result.empty());
    EXPECT_EQ(output(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    table, refusals,
    testing::Values(
        refusal{"readblock45", [](bytestring &r) { r = picprocs::readblock(0, 45); },
                "cannot read 45 bytes in one packet\n"},
        refusal{"readmore63", [](bytestring &r) { r = picprocs::readmore(63); },
                "cannot read 63 bytes in one packet\n"},
        refusal{"readmore255", [](bytestring &r) { r = picprocs::readmore(255); },
                "cannot read 255 bytes in one packet\n"},
        refusal{"threepanels",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, 3, 8, true); },
                "cannot write 3 panels of 8 bytes in one packet\n"},
        refusal{"twelvebytes",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, 1, 12, true); },
                "cannot write 1 panel of 12 bytes in one packet\n"},
        refusal{"fourbytes",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, 8, 4, true); },
                "cannot write 8 panels of 4 bytes in one packet\n"},
        refusal{"sixtyfourinonepacket",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, 1, 64, true); },
                "cannot write 1 panel of 64 bytes in one packet\n"},
        refusal{"twoof32", [](bytestring &r) { r.clear(), picprocs::writepanels(0, 2, 32, true); },
                "cannot write 2 panels of 32 bytes in one packet\n"},
        refusal{"nopanels", [](bytestring &r) { r.clear(), picprocs::writepanels(0, 0, 8, true); },
                "cannot write 0 panels of 8 bytes in one packet\n"},
        refusal{"negativepanels",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, -4, 8, true); },
                "cannot write -4 panels of 8 bytes in one packet\n"},
        refusal{"nobytes", [](bytestring &r) { r.clear(), picprocs::writechunked(0, 1, 0); },
                "cannot write 1 panel of 0 bytes in one packet\n"},
        refusal{"hugeproduct",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0, 65536, 65536, true); },
                "cannot write 65536 panels of 65536 bytes in one packet\n"},
        refusal{"pastimageend",
                [](bytestring &r) { r.clear(), picprocs::writepanels(0x7FF0, 1, 32, true); },
                "cannot write 1 panel of 32 bytes at 007FF0: outside the memory image\n"},
        refusal{"lastpanelpastimageend",
                [](bytestring &r) {
                    r.clear();
                    globaldata::imagesize = 0x6007;
                    picprocs::writepanels(0x0, 4, 8, true);
                },
                "cannot write 4 panels of 8 bytes at 000000: outside the memory image\n"},
        refusal{"beforeimage",
                [](bytestring &r) { r.clear(), picprocs::writepanels(-8, 1, 8, true); },
                "cannot write 1 panel of 8 bytes at FFFFFFF8: outside the memory image\n"},
        refusal{"noimage",
                [](bytestring &r) {
                    r.clear();
                    globaldata::memimage = nullptr;
                    picprocs::writechunked(0, 1, 32);
                },
                "cannot write 1 panel of 32 bytes at 000000: outside the memory image\n"}),
    [](const testing::TestParamInfo<refusal> &info) { return info.param.name; });

// A chunked group running past the image: the chunks inside go out, the rest
// is refused.
TEST_F(scriptfixture, chunkspasttheimageendarerefused) {
    fakempusb::expect(
        answered(panelpacket(false, 0x72, bytes({0, 0x7F, 0xE0}), slice(0x7FE0, 0x8000)), 1, 1));
    picprocs::writechunked(0x7FE0, 1, 64);
    EXPECT_EQ(output(), "cannot write 1 panel of 32 bytes at 008000: outside the memory image\n");
}

}  // namespace
