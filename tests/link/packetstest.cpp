// Address bytes, the panel write op and the script builder.
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "fakempusb.h"
#include "linkfixture.h"
#include "packets.h"

namespace {

using namespace packets;

struct addresscase {
    int32_t address;
    uint8_t upper, high, low;
};

void PrintTo(const addresscase &c, std::ostream *os) { *os << c.address; }

class splitaddresstable : public testing::TestWithParam<addresscase> {};

TEST_P(splitaddresstable, upperhighlow) {
    const addresscase &c = GetParam();
    const addressbytes a = splitaddress(c.address);
    EXPECT_EQ(a.upper, c.upper);
    EXPECT_EQ(a.high, c.high);
    EXPECT_EQ(a.low, c.low);
}

// Negative addresses divide toward zero: -1 / 256 is 0, not -1.
INSTANTIATE_TEST_SUITE_P(table, splitaddresstable,
                         testing::Values(addresscase{0, 0x00, 0x00, 0x00},
                                         addresscase{0x40, 0x00, 0x00, 0x40},
                                         addresscase{0x3FFFFE, 0x3F, 0xFF, 0xFE},
                                         addresscase{0x3C0006, 0x3C, 0x00, 0x06},
                                         addresscase{0x123456, 0x12, 0x34, 0x56},
                                         addresscase{0x7FFFFFFF, 0xFF, 0xFF, 0xFF},
                                         addresscase{-1, 0x00, 0x00, 0xFF},
                                         addresscase{-256, 0x00, 0xFF, 0x00},
                                         addresscase{-65536, 0xFF, 0x00, 0x00},
                                         addresscase{-65537, 0xFF, 0x00, 0xFF},
                                         addresscase{INT32_MIN, 0x00, 0x00, 0x00}));

struct opcase {
    int32_t n, b;
    bool lastgroup;
    uint8_t op;
};

void PrintTo(const opcase &c, std::ostream *os) {
    *os << c.n << "x" << c.b << (c.lastgroup ? " last" : " more");
}

class panelwriteoptable : public testing::TestWithParam<opcase> {};

TEST_P(panelwriteoptable, fromroundedlogarithms) {
    const opcase &c = GetParam();
    EXPECT_EQ(panelwriteop(c.n, c.b, c.lastgroup), c.op) << c.n << " x " << c.b;
}

INSTANTIATE_TEST_SUITE_P(table, panelwriteoptable,
                         testing::Values(opcase{1, 32, true, 0x52}, opcase{1, 32, false, 0x72},
                                         opcase{4, 8, true, 0x58}, opcase{4, 8, false, 0x78},
                                         opcase{1, 8, true, 0x50}, opcase{2, 16, true, 0x55},
                                         opcase{1, 16, true, 0x51}, opcase{2, 8, false, 0x74},
                                         opcase{8, 64, true, 0x5F},
                                         // rounded: log2 3 = 1.58 -> 2, log2 1.5 = 0.58 -> 1
                                         opcase{3, 24, true, 0x5A}, opcase{5, 12, true, 0x59}));

TEST(scriptbuilder, coresandreadscountstepsandreplybytes) {
    script s;
    beginscript(s);
    addcore(s, 0x0E3F);  // MOVLW 0x3F
    addcore(s, 0x6EF8);
    addcore(s, 0x0EFF);
    addcore(s, 0x6EF7);
    addcore(s, 0x0EFE);
    addcore(s, 0x6EF6);
    addread(s);
    addread(s);
    addread(s);
    EXPECT_FALSE(s.overflow);
    EXPECT_EQ(s.length, 23);
    EXPECT_EQ(replylengthof(s), 4);
    const bytestring expected = bytes({0x53, 0x09, 0x00, 0x3F, 0x0E, 0x00, 0xF8, 0x6E, 0x00,
                                       0xFF, 0x0E, 0x00, 0xF7, 0x6E, 0x00, 0xFE, 0x0E, 0x00,
                                       0xF6, 0x6E, 0x19, 0x19, 0x19});
    EXPECT_EQ(fakempusb::hex(bytestring(s.bytes.begin(), s.bytes.begin() + s.length)),
              fakempusb::hex(expected));
}

TEST(scriptbuilder, everystepkindencodes) {
    script s;
    beginscript(s);
    EXPECT_EQ(replylengthof(s), 1);  // no reads: one reply byte
    addword(s, tablewritepostinc, 0x0302);
    addword(s, tablewritestart, 0xBEEF);
    addword(s, erasehold, 0x0000);
    addsettableptr(s, 0x3C0006);
    addprogramhold(s);
    const std::array<uint8_t, 2> data{0x11, 0x22};
    addpanelwrite(s, 0x50, 0x012345, data.data(), 2);
    std::array<uint8_t, 14> config{};
    for (size_t i = 0; i < config.size(); ++i) config[i] = static_cast<uint8_t>(0xC0 + i);
    addconfigwrite(s, config.data());
    EXPECT_FALSE(s.overflow);
    const bytestring expected =
        bytes({0x53, 0x07, 0x0D, 0x02, 0x03, 0x0F, 0xEF, 0xBE, 0x20, 0x00, 0x00, 0x30,
               0x3C, 0x00, 0x06, 0x40, 0x50, 0x01, 0x23, 0x45, 0x11, 0x22, 0x60, 0xC0,
               0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC,
               0xCD});
    ASSERT_EQ(s.length, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(fakempusb::hex(bytestring(s.bytes.begin(), s.bytes.begin() + s.length)),
              fakempusb::hex(expected));
    EXPECT_EQ(replylengthof(s), 1);
}

// A step that would pass 64 bytes is refused whole: nothing of it lands in the
// buffer, the count stays, and the script is marked.
TEST(scriptbuilder, stepbeyondsixtyfourbytesisrefused) {
    script s;
    beginscript(s);
    for (int i = 0; i < 20; ++i) addcore(s, 0x1234);  // 62 bytes
    EXPECT_FALSE(s.overflow);
    addcore(s, 0xFFFF);
    EXPECT_TRUE(s.overflow);
    EXPECT_EQ(s.length, 62);
    EXPECT_EQ(s.bytes[1], 20);
    EXPECT_EQ(s.bytes[62], 0);
    EXPECT_EQ(s.bytes[63], 0);
}

TEST(scriptbuilder, panelwritefillsexactlyonepacket) {
    std::array<uint8_t, 64> data{};
    data.fill(0x5A);
    script s;
    beginscript(s);
    addpanelwrite(s, 0x52, 0, data.data(), 59);  // 2 + 4 + 59 = 65
    EXPECT_TRUE(s.overflow);
    EXPECT_EQ(s.length, 2);
    EXPECT_EQ(s.bytes[1], 0);
    EXPECT_EQ(s.bytes[2], 0);

    beginscript(s);
    addpanelwrite(s, 0x52, 0, data.data(), 58);  // exactly 64
    EXPECT_FALSE(s.overflow);
    EXPECT_EQ(s.length, 64);
    EXPECT_EQ(s.bytes[63], 0x5A);
    addread(s);
    EXPECT_TRUE(s.overflow);
    EXPECT_EQ(s.length, 64);
    EXPECT_EQ(replylengthof(s), 1);

    beginscript(s);
    addpanelwrite(s, 0x52, 0, data.data(), -1);
    EXPECT_TRUE(s.overflow);
    EXPECT_EQ(s.length, 2);
}

}  // namespace
