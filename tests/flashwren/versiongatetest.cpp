#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "globaldata.h"
#include "runerror.h"
#include "versiongate.h"

namespace {

using versiongate::fwversion;

struct capturedout {
    std::ostringstream text;
    std::streambuf *saved;
    capturedout() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~capturedout() { std::cout.rdbuf(saved); }
};

TEST(versiontext, twoupperhexdigitsabyte) {
    EXPECT_EQ(versiongate::versiontext({0x00, 0x00, 0x01}), "00.00.01");
    EXPECT_EQ(versiongate::versiontext({0x0A, 0xFF, 0x10}), "0A.FF.10");
}

struct comparecase {
    fwversion a, b;
    int sign;
};

TEST(compareversion, thefirstdifferingbytedecides) {
    const comparecase cases[] = {
        {{0, 0, 1}, {0, 0, 1}, 0},       {{0, 0, 2}, {0, 0, 1}, 1},     {{0, 0, 1}, {0, 0, 2}, -1},
        {{1, 0, 0}, {0, 0, 1}, 1},       {{0, 1, 0}, {0, 0, 1}, 1},     {{0, 0, 0xFF}, {0, 1, 0}, -1},
        {{0xFF, 0, 0}, {0x7F, 0xFF, 0xFF}, 1}, {{0, 0, 0}, {0xFF, 0xFF, 0xFF}, -1},
    };
    for (const comparecase &c : cases) {
        int result = versiongate::compareversion(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign)
            << versiongate::versiontext(c.a) << " vs " << versiongate::versiontext(c.b);
    }
}

// The reply carries the last break in bytes 0-2 and the firmware in 3-5.
struct firmwarecase {
    fwversion firmware, lastbreak;
    const char *failure;  // empty when the firmware fits
};

TEST(judgefirmware, thelineisprintedandstoredbeforetherules) {
    const firmwarecase cases[] = {
        {{0, 0, 1}, {0, 0, 1}, ""},
        {{0, 0, 3}, {0, 0, 1}, ""},
        {{1, 0, 0}, {0, 0, 1}, ""},
        {{0, 1, 0}, {0, 0, 0}, ""},
        {{0, 0, 0}, {0, 0, 0}, "version too low"},
        {{0, 0, 0}, {0, 0, 1}, "version too low"},
        {{0, 0, 0}, {0, 0, 2}, "version too low"},  // the first rule first
        {{0, 0, 2}, {0, 0, 2}, "version too high"},
        {{9, 9, 9}, {0, 1, 0}, "version too high"},
    };
    for (const firmwarecase &c : cases) {
        versiongate::reset();
        const uint8_t reply[8] = {c.lastbreak[0], c.lastbreak[1], c.lastbreak[2],
                                  c.firmware[0],  c.firmware[1],  c.firmware[2], 0xEE, 0xEE};
        capturedout out;
        std::string failure;
        try {
            versiongate::judgefirmware(reply);
        } catch (const runerror::runfailure &e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(out.text.str(), "firmware version:" + versiongate::versiontext(c.firmware) + " last break:" +
                                      versiongate::versiontext(c.lastbreak) + " required00.00.01\n");
        EXPECT_EQ(versiongate::firmwareversion, c.firmware);
    }
    versiongate::reset();
}

TEST(judgefirmware, thelineasthesystemwritesit) {
    const uint8_t reply[8] = {0, 0, 1, 0, 0, 3, 0, 0};
    capturedout out;
    versiongate::judgefirmware(reply);
    EXPECT_EQ(out.text.str(), "firmware version:00.00.03 last break:00.00.01 required00.00.01\n");
    versiongate::reset();
}

struct sizecase {
    int32_t bytes;
    fwversion firmware;
    bool refused;
};

TEST(checkwritesize, overthirtytwobytesneedsfirmware0002) {
    const sizecase cases[] = {
        {64, {0, 0, 1}, true},   {33, {0, 0, 1}, true},   {128, {0, 0, 0}, true},
        {32, {0, 0, 1}, false},  {8, {0, 0, 0}, false},   {64, {0, 0, 2}, false},
        {64, {0, 1, 0}, false},  {-64, {0, 0, 1}, false},
    };
    for (const sizecase &c : cases) {
        globaldata::reset();
        globaldata::devicespec.bytestowriteperpanel = c.bytes;
        versiongate::firmwareversion = c.firmware;
        std::string failure;
        try {
            versiongate::checkwritesize();
        } catch (const runerror::runfailure &e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, c.refused ? "pics with a write size over 32 bytes need at least firmware version 0.00.02" : "")
            << c.bytes << " " << versiongate::versiontext(c.firmware);
    }
    globaldata::reset();
    versiongate::reset();
}

}  // namespace

// The query itself, over the scripted library.
#include "fakempusb.h"
#include "usbprocs.h"

namespace {

struct queryfixture : ::testing::Test {
    void SetUp() override {
        fakempusb::reset();
        versiongate::reset();
        auto [out, in] = fakempusb::openpipes();
        usbprocs::outpipe = out;
        usbprocs::inpipe = in;
    }
    void TearDown() override {
        usbprocs::reset();
        fakempusb::reset();
        versiongate::reset();
    }
};

std::string checkfirmwarefailure() {
    try {
        versiongate::checkfirmware();
    } catch (const runerror::runfailure &e) {
        return e.what();
    }
    return "";
}

TEST_F(queryfixture, sendsthetwobytequeryandreadseightbytes) {
    fakempusb::exchange e;
    e.packet = {0x50, 0x00};
    e.readlength = 8;
    e.reply = {0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x55, 0xAA};
    fakempusb::expect(e);
    capturedout out;
    EXPECT_EQ(checkfirmwarefailure(), "");
    EXPECT_EQ(out.text.str(), "firmware version:00.00.02 last break:00.00.01 required00.00.01\n");
    EXPECT_EQ(versiongate::firmwareversion, (fwversion{0, 0, 2}));
    EXPECT_EQ(fakempusb::pending(), 0u);
    auto writes = fakempusb::callsof(fakempusb::callkind::write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].timeout, 1000u);
}

TEST_F(queryfixture, ashortlongorfailedreplyendstherunbeforetheline) {
    const bytestring replies[] = {{0, 0, 1, 0, 0, 2, 0}, {0, 0, 1, 0, 0, 2, 0, 0, 0}, {}};
    for (const bytestring &reply : replies) {
        fakempusb::reset();
        auto [o, i] = fakempusb::openpipes();
        usbprocs::outpipe = o;
        usbprocs::inpipe = i;
        fakempusb::exchange e;
        e.packet = {0x50, 0x00};
        e.readlength = 8;
        e.reply = reply;
        if (reply.empty()) e.readerror = 110;
        fakempusb::expect(e);
        capturedout out;
        EXPECT_EQ(checkfirmwarefailure(), "USB Operation Failed\\r\\n") << reply.size();
        EXPECT_EQ(out.text.str().find("firmware version"), std::string::npos);
        EXPECT_EQ(versiongate::firmwareversion, (fwversion{0, 0, 0}));
    }
}

}  // namespace
