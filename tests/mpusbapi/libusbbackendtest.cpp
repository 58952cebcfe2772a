// The five library functions on the libusb backend, through the real libusb,
// with fake programmers on a umockdev testbed. Run under umockdev-wrapper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "backend.h"
#include "deniedopen.h"
#include "fakeprogrammer.h"
#include "mpusbapi.h"
#include "usbbus.h"

namespace {

using fakeprogrammer::act;
using fakeprogrammer::exchange;

const char *const selector = "vid_04d8&pid_000c";
const char *const endpoint = "\\MCHP_EP1";
constexpr uint32_t shorttimeout = 100;  // ms: keeps the time-out cases quick
constexpr uint32_t timeout = 1000;

// Set before anything runs, while the process has one thread:
// - the bench backend is chosen when MPUSBAPI_SIM is set; these tests are
//   about the other one;
// - every test makes and removes a testbed, a tree of small files: in memory
//   that costs a tenth of what it costs on disk.
const bool environmentready = [] {
    if (std::getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) {
        setenv("TMPDIR", "/dev/shm", 1);
    }
    return unsetenv("MPUSBAPI_SIM") == 0;
}();

struct pipes {
    int32_t out;
    int32_t in;
};

pipes openpipes(uint32_t instance) {
    int32_t out = _MPUSBOpen(instance, selector, endpoint, 0, 0);
    int32_t in = _MPUSBOpen(instance, selector, endpoint, 1, 0);
    return {out, in};
}

void closepipes(pipes p) {
    _MPUSBClose(p.out);
    _MPUSBClose(p.in);
}

int32_t probe(uint32_t instance) { return _MPUSBOpen(instance, selector, nullptr, 1, 0); }

// One packet out and one reply in; the reply as read, or a note of failure.
std::string roundtrip(pipes p, const bytestring &packet, uint32_t replylength) {
    uint32_t written = 0;
    if (_MPUSBWrite(p.out, packet.data(), uint32_t(packet.size()), &written, timeout) == 0) {
        return "write failed, errno " + std::to_string(errno);
    }
    if (written != packet.size()) {
        return "wrote " + std::to_string(written) + " bytes";
    }
    bytestring reply(64, 0);
    uint32_t received = 0;
    if (_MPUSBRead(p.in, reply.data(), replylength, &received, timeout) == 0) {
        return "read failed, errno " + std::to_string(errno);
    }
    reply.resize(std::min(received, replylength));
    return fakeprogrammer::hex(reply);
}

// Connection ends reach the fake device on umockdev's own thread, a moment
// after libusb has closed the file.
bool eventually(const std::function<bool()> &condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class libusbbackend : public ::testing::Test {
protected:
    std::unique_ptr<usbbus::bus> bus;

    void SetUp() override {
        ASSERT_TRUE(environmentready);
        bus = std::make_unique<usbbus::bus>();
        if (!usbbus::mocked()) {
            GTEST_SKIP() << "needs umockdev: run under umockdev-wrapper";
        }
        mpusbapi::libusbreset();
    }

    void TearDown() override {
        mpusbapi::libusbreset();
        deniedopen::allowall();
        if (bus) {
            for (auto &d : bus->devices) {
                EXPECT_EQ(fakeprogrammer::leftover(*d), "") << "device " << d->devnode;
            }
        }
        bus.reset();
    }

    fakeprogrammer::device &plug(unsigned busnumber = 1, unsigned port = 1) {
        return usbbus::plug(*bus, busnumber, port);
    }
};

// --- counting ---------------------------------------------------------------

struct place {
    unsigned bus;
    unsigned port;
    uint16_t vendor;
    uint16_t product;
};

struct countcase {
    const char *name;
    std::vector<place> attached;
    uint32_t count;
};

void PrintTo(const countcase &c, std::ostream *os) { *os << c.name; }

class counting : public libusbbackend, public ::testing::WithParamInterface<countcase> {};

TEST_P(counting, CountsTheAttachedProgrammers) {
    for (const place &p : GetParam().attached) {
        usbbus::plug(*bus, p.bus, p.port, p.vendor, p.product);
    }
    EXPECT_EQ(_MPUSBGetDeviceCount(selector), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    libusbbackend, counting,
    ::testing::Values(
        countcase{"none", {}, 0},
        countcase{"one", {{1, 1, 0x04d8, 0x000c}}, 1},
        countcase{"two", {{1, 1, 0x04d8, 0x000c}, {2, 4, 0x04d8, 0x000c}}, 2},
        countcase{"oneamongothers",
                  {{1, 1, 0x04d8, 0x000b}, {1, 2, 0x04d8, 0x000c}, {1, 3, 0x1234, 0x000c}}, 1}),
    [](const ::testing::TestParamInfo<countcase> &info) { return std::string(info.param.name); });

// --- selector and endpoint names --------------------------------------------

TEST_F(libusbbackend, OnlyTheProgrammersSelectorMatchesInAnyCase) {
    plug();
    struct {
        const char *selector;
        bool matches;
    } cases[] = {
        {"vid_04d8&pid_000c", true},
        {"VID_04D8&PID_000C", true},
        {"Vid_04d8&Pid_000C", true},
        {"vid_04d8&pid_000b", false},
        {"vid_04d9&pid_000c", false},
        {"vid_04d8&pid_000c ", false},
        {"vid_04d8", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.selector != nullptr ? c.selector : "(null)");
        EXPECT_EQ(_MPUSBGetDeviceCount(c.selector), c.matches ? 1u : 0u);
        int32_t handle = _MPUSBOpen(0, c.selector, nullptr, 1, 0);
        EXPECT_EQ(handle >= 0, c.matches);
        _MPUSBClose(handle);
        handle = _MPUSBOpen(0, c.selector, endpoint, 0, 0);
        EXPECT_EQ(handle >= 0, c.matches);
        _MPUSBClose(handle);
    }
}

TEST_F(libusbbackend, OpensOnlyEndpointOneInItsTwoDirections) {
    plug();
    struct {
        const char *endpoint;
        uint32_t direction;
        bool opens;
    } cases[] = {
        {"\\MCHP_EP1", 0, true},
        {"\\MCHP_EP1", 1, true},
        {"\\mchp_ep1", 1, true},
        {"\\MCHP_EP1", 2, false},
        {"\\MCHP_EP2", 0, false},
        {"MCHP_EP1", 0, false},
        {"", 1, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.endpoint) + " direction " + std::to_string(c.direction));
        int32_t handle = _MPUSBOpen(0, selector, c.endpoint, c.direction, 0);
        EXPECT_EQ(handle >= 0, c.opens);
        _MPUSBClose(handle);
    }
}

// --- presence probe -----------------------------------------------------------

TEST_F(libusbbackend, ProbeAnswersWhereAProgrammerIs) {
    EXPECT_EQ(probe(0), -1);
    plug(1, 1);
    plug(1, 2);
    for (uint32_t instance : {0u, 1u}) {
        int32_t handle = probe(instance);
        EXPECT_GE(handle, 0) << "instance " << instance;
        EXPECT_EQ(_MPUSBClose(handle), 1u);
    }
    EXPECT_EQ(probe(2), -1);
    EXPECT_EQ(probe(126), -1);
}

TEST_F(libusbbackend, ProbeWithoutPermissionHintsAtTheUdevRules) {
    fakeprogrammer::device &d = plug();
    deniedopen::deny(d.devnode);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t handle = probe(0);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(handle, -1);
    EXPECT_EQ(out, "") << "standard output belongs to the programs";
    EXPECT_NE(err.find("70-picwren.rules"), std::string::npos) << err;
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;

    deniedopen::allowall();
    testing::internal::CaptureStderr();
    handle = probe(0);
    EXPECT_GE(handle, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    _MPUSBClose(handle);
}

// --- pipes and transfers ----------------------------------------------------

TEST_F(libusbbackend, BothPipesShareOneClaimAndCarryAnExchange) {
    fakeprogrammer::device &d = plug();
    fakeprogrammer::expect(d, {{0x50}, {0x50, 0x02, 0x00, 0x01}});

    pipes p = openpipes(0);
    ASSERT_GE(p.out, 0);
    ASSERT_GE(p.in, 0);
    EXPECT_NE(p.out, p.in);
    EXPECT_TRUE(fakeprogrammer::claimed(d));
    EXPECT_EQ(fakeprogrammer::claims(d), 1);
    EXPECT_EQ(fakeprogrammer::clients(d), 1) << "one device handle for both pipes";

    EXPECT_EQ(roundtrip(p, {0x50}, 4), "50 02 00 01");
    closepipes(p);
}

TEST_F(libusbbackend, ReadReportsTheRealLengthAndCopiesNoMoreThanAsked) {
    fakeprogrammer::device &d = plug();
    pipes p = openpipes(0);
    ASSERT_GE(p.out, 0);
    ASSERT_GE(p.in, 0);
    struct {
        const char *name;
        uint32_t asked;
        size_t sent;
    } cases[] = {
        {"exact", 8, 8},
        {"shorter", 8, 5},
        {"longer", 8, 10},
        {"whole packet", 64, 64},
        {"nothing asked", 0, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        bytestring reply(c.sent);
        for (size_t i = 0; i < reply.size(); ++i) {
            reply[i] = uint8_t(0xA0 + i);
        }
        fakeprogrammer::expect(d, {{0x53, 0x01}, reply});
        uint32_t written = 0;
        ASSERT_NE(_MPUSBWrite(p.out, bytestring{0x53, 0x01}.data(), 2, &written, timeout), 0u);
        EXPECT_EQ(written, 2u);

        bytestring buffer(80, 0xEE);
        uint32_t received = 12345;
        ASSERT_NE(_MPUSBRead(p.in, buffer.data(), c.asked, &received, timeout), 0u);
        EXPECT_EQ(received, c.sent);
        size_t copied = std::min<size_t>(c.asked, c.sent);
        EXPECT_EQ(bytestring(buffer.begin(), buffer.begin() + long(copied)),
                  bytestring(reply.begin(), reply.begin() + long(copied)));
        EXPECT_EQ(bytestring(buffer.begin() + long(copied), buffer.end()),
                  bytestring(buffer.size() - copied, 0xEE))
            << "bytes beyond the asked length are the caller's";
    }
    closepipes(p);
}

TEST_F(libusbbackend, FailedTransfersSetErrnoAndThePipesGoOnWorking) {
    fakeprogrammer::device &d = plug();
    pipes p = openpipes(0);
    ASSERT_GE(p.out, 0);
    ASSERT_GE(p.in, 0);
    bytestring toolong(72, 0x5A);
    struct {
        const char *name;
        exchange failing;
        bool writefails;
        uint32_t readtimeout;
        int error;
    } cases[] = {
        {"write stalls", {{0x51, 0x00}, {}, act::stall}, true, shorttimeout, EPIPE},
        {"write times out", {{0x51, 0x00}, {}, act::silence}, true, shorttimeout, ETIMEDOUT},
        {"read stalls", {{0x52}, {}, act::answer, act::stall}, false, shorttimeout, EPIPE},
        {"read times out", {{0x52}, {}, act::answer, act::silence}, false, shorttimeout, ETIMEDOUT},
        {"read with time-out 0 still ends", {{0x52}, {}, act::answer, act::silence}, false, 0,
         ETIMEDOUT},
        {"reply longer than a packet", {{0x52}, toolong}, false, shorttimeout, EIO},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fakeprogrammer::expect(d, c.failing);
        uint32_t written = 0;
        errno = 0;
        uint32_t wrote = _MPUSBWrite(p.out, c.failing.out.data(), uint32_t(c.failing.out.size()),
                                     &written, shorttimeout);
        if (c.writefails) {
            EXPECT_EQ(wrote, 0u);
            EXPECT_EQ(errno, c.error);
        } else {
            ASSERT_NE(wrote, 0u);
            bytestring buffer(64);
            uint32_t received = 0;
            errno = 0;
            EXPECT_EQ(_MPUSBRead(p.in, buffer.data(), 64, &received, c.readtimeout), 0u);
            EXPECT_EQ(errno, c.error);
        }
        // The same pipes carry the next exchange: a stalled endpoint was cleared.
        fakeprogrammer::expect(d, {{0x50}, {0x50, 0x02, 0x00, 0x01}});
        EXPECT_EQ(roundtrip(p, {0x50}, 4), "50 02 00 01");
    }
    closepipes(p);
}

TEST_F(libusbbackend, PipesRefuseTheWrongDirection) {
    plug();
    pipes p = openpipes(0);
    int32_t presence = probe(0);
    ASSERT_GE(p.out, 0);
    ASSERT_GE(p.in, 0);
    ASSERT_GE(presence, 0);
    uint8_t byte = 0x50;
    uint32_t count = 0;
    errno = 0;
    EXPECT_EQ(_MPUSBWrite(p.in, &byte, 1, &count, timeout), 0u);
    EXPECT_EQ(errno, EIO);
    errno = 0;
    EXPECT_EQ(_MPUSBRead(p.out, &byte, 1, &count, timeout), 0u);
    EXPECT_EQ(errno, EIO);
    errno = 0;
    EXPECT_EQ(_MPUSBWrite(presence, &byte, 1, &count, timeout), 0u);
    EXPECT_EQ(errno, EIO);
    _MPUSBClose(presence);
    closepipes(p);
}

// --- instances ----------------------------------------------------------------

TEST_F(libusbbackend, InstancesGoByBusNumberThenPortPath) {
    // Plugged in no particular order; in name order "10-1" and "1-10" would
    // come before "2-1" and "1-9".
    fakeprogrammer::device &bus2port1 = plug(2, 1);
    fakeprogrammer::device &bus10port1 = plug(10, 1);
    fakeprogrammer::device &bus1port10 = plug(1, 10);
    fakeprogrammer::device &bus1port9 = plug(1, 9);
    fakeprogrammer::device *order[] = {&bus1port9, &bus1port10, &bus2port1, &bus10port1};

    ASSERT_EQ(_MPUSBGetDeviceCount(selector), 4u);
    for (uint8_t instance = 0; instance < 4; ++instance) {
        SCOPED_TRACE("instance " + std::to_string(instance));
        fakeprogrammer::expect(*order[instance], {{0x52, instance}, {0x01}});
        pipes p = openpipes(instance);
        EXPECT_EQ(roundtrip(p, {0x52, instance}, 1), "01");
        closepipes(p);
    }
    for (fakeprogrammer::device *d : order) {
        EXPECT_EQ(fakeprogrammer::claims(*d), 1) << d->devnode;
    }
}

// --- unplugging -------------------------------------------------------------------

TEST_F(libusbbackend, GoneDeviceGivesErrnoSixAndLeavesTheList) {
    fakeprogrammer::device &d = plug();
    fakeprogrammer::expect(d, {{0x50}, {0x50, 0x02, 0x00, 0x01}});
    pipes p = openpipes(0);
    ASSERT_EQ(roundtrip(p, {0x50}, 4), "50 02 00 01");

    usbbus::unplug(*bus, d);
    uint8_t packet[1] = {0x50};
    uint32_t count = 0;
    errno = 0;
    EXPECT_EQ(_MPUSBWrite(p.out, packet, 1, &count, timeout), 0u);
    EXPECT_EQ(errno, ENXIO);
    errno = 0;
    EXPECT_EQ(_MPUSBRead(p.in, packet, 1, &count, timeout), 0u);
    EXPECT_EQ(errno, ENXIO);

    closepipes(p);
    EXPECT_EQ(_MPUSBGetDeviceCount(selector), 0u);
    EXPECT_EQ(probe(0), -1);
    EXPECT_EQ(openpipes(0).out, -1);
}

// --- closing ------------------------------------------------------------------------

TEST_F(libusbbackend, TheLastPipeToCloseReleasesAndClosesTheDevice) {
    fakeprogrammer::device &d = plug();
    pipes p = openpipes(0);
    ASSERT_GE(p.out, 0);
    ASSERT_GE(p.in, 0);

    _MPUSBClose(p.out);
    EXPECT_TRUE(fakeprogrammer::claimed(d)) << "the IN pipe still holds the interface";
    EXPECT_EQ(fakeprogrammer::clients(d), 1);
    _MPUSBClose(p.in);
    EXPECT_FALSE(fakeprogrammer::claimed(d));
    EXPECT_TRUE(eventually([&] { return fakeprogrammer::clients(d) == 0; }))
        << "the device file is still open";
}

TEST_F(libusbbackend, ClosedAndInvalidHandlesAreHarmless) {
    fakeprogrammer::device &d = plug();
    pipes first = openpipes(0);
    ASSERT_GE(first.out, 0);
    ASSERT_GE(first.in, 0);
    closepipes(first);
    pipes second = openpipes(0);
    ASSERT_GE(second.out, 0);
    ASSERT_GE(second.in, 0);

    // Stale handles closed again, and -1 twice, as the link does after a lost device.
    for (int32_t handle : {first.out, first.in, int32_t(-1), int32_t(-1), int32_t(1000)}) {
        _MPUSBClose(handle);
    }
    fakeprogrammer::expect(d, {{0x50}, {0x50, 0x02, 0x00, 0x01}});
    EXPECT_EQ(roundtrip(second, {0x50}, 4), "50 02 00 01") << "a stale close hit a live pipe";

    uint8_t byte = 0x50;
    uint32_t count = 0;
    for (int32_t handle : {first.out, int32_t(-1), int32_t(1000)}) {
        SCOPED_TRACE("handle " + std::to_string(handle));
        errno = 0;
        EXPECT_EQ(_MPUSBWrite(handle, &byte, 1, &count, timeout), 0u);
        EXPECT_EQ(errno, ENXIO);
    }
    for (int32_t handle : {first.in, int32_t(-1), int32_t(1000)}) {
        SCOPED_TRACE("handle " + std::to_string(handle));
        errno = 0;
        EXPECT_EQ(_MPUSBRead(handle, &byte, 1, &count, timeout), 0u);
        EXPECT_EQ(errno, ENXIO);
    }
    closepipes(second);
}

TEST_F(libusbbackend, TwoRunsBackToBackEachFindTheDeviceFree) {
    fakeprogrammer::device &d = plug();
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        fakeprogrammer::expect(d, {{0x50}, {0x50, 0x02, 0x00, 0x01}});
        int32_t presence = probe(0);
        EXPECT_GE(presence, 0);
        _MPUSBClose(presence);
        pipes p = openpipes(0);
        ASSERT_GE(p.out, 0);
        ASSERT_GE(p.in, 0);
        EXPECT_EQ(roundtrip(p, {0x50}, 4), "50 02 00 01");
        closepipes(p);
        EXPECT_FALSE(fakeprogrammer::claimed(d));
        EXPECT_TRUE(eventually([&] { return fakeprogrammer::clients(d) == 0; }));
    }
    EXPECT_EQ(fakeprogrammer::claims(d), 2);
}

}  // namespace
