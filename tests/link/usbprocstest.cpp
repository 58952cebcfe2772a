// usbtransfer's results, usberror's two reactions and closeprogrammer.
#include <array>

#include "linkfixture.h"

namespace {

using fakempusb::callkind;

const bytestring packet = bytes({0x52, 0x00});

class usbtransfertest : public linkfixture {
protected:
    std::array<uint8_t, 64> reply{};
    int32_t replylength = 8;
    int32_t transfer() {
        return usbprocs::usbtransfer(packet.data(), static_cast<int32_t>(packet.size()),
                                     reply.data(), replylength, 1000, 1000);
    }
};

// Either handle invalid: result 0, the library untouched, nothing written,
// replylength unchanged.
struct handlescase {
    bool outopen, inopen;
};

void PrintTo(const handlescase &c, std::ostream *os) {
    *os << "out " << (c.outopen ? "open" : "-1") << " in " << (c.inopen ? "open" : "-1");
}

class invalidhandles : public usbtransfertest, public testing::WithParamInterface<handlescase> {};

TEST_P(invalidhandles, returnsnothingwithouttouchingthelibrary) {
    openlink();
    if (!GetParam().outopen) usbprocs::outpipe = -1;
    if (!GetParam().inopen) usbprocs::inpipe = -1;
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(replylength, 8);
    EXPECT_TRUE(fakempusb::calls().empty());
    EXPECT_EQ(output(), "");
}

INSTANTIATE_TEST_SUITE_P(table, invalidhandles,
                         testing::Values(handlescase{false, false}, handlescase{false, true},
                                         handlescase{true, false}));

// The reply's length decides the result; the link writes nothing itself.
struct lengthcase {
    size_t received;
    int32_t result;
};

void PrintTo(const lengthcase &c, std::ostream *os) { *os << c.received << " received"; }

class replylengths : public usbtransfertest, public testing::WithParamInterface<lengthcase> {};

TEST_P(replylengths, resultfollowsthelengthreceived) {
    openlink();
    const int32_t out = usbprocs::outpipe, in = usbprocs::inpipe;
    fakempusb::expect(answered(packet, 8, GetParam().received));
    EXPECT_EQ(transfer(), GetParam().result);
    EXPECT_EQ(replylength, static_cast<int32_t>(GetParam().received));
    for (size_t i = 0; i < std::min<size_t>(GetParam().received, 8); ++i)
        EXPECT_EQ(reply[i], 0xA0 + i) << "reply byte " << i;
    EXPECT_EQ(reply[8], 0) << "more than the expected length copied";
    EXPECT_EQ(output(), "");
    EXPECT_EQ(usbprocs::outpipe, out);
    EXPECT_EQ(usbprocs::inpipe, in);
    EXPECT_TRUE(fakempusb::callsof(callkind::close).empty());
}

INSTANTIATE_TEST_SUITE_P(table, replylengths,
                         testing::Values(lengthcase{8, 1}, lengthcase{5, 2}, lengthcase{0, 2},
                                         lengthcase{9, 0}, lengthcase{64, 0}));

TEST_F(usbtransfertest, passeshandlespacketandtimeoutsinorder) {
    openlink();
    fakempusb::expect(answered(packet, 8, 8));
    EXPECT_EQ(usbprocs::usbtransfer(packet.data(), 2, reply.data(), replylength, 700, 900), 1);
    const auto &calls = fakempusb::calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, callkind::write);
    EXPECT_EQ(calls[0].handle, usbprocs::outpipe);
    EXPECT_EQ(calls[0].length, 2u);
    EXPECT_EQ(calls[0].timeout, 700u);
    EXPECT_EQ(calls[1].kind, callkind::read);
    EXPECT_EQ(calls[1].handle, usbprocs::inpipe);
    EXPECT_EQ(calls[1].length, 8u);
    EXPECT_EQ(calls[1].timeout, 900u);
}

// A packet or an expected reply beyond one USB packet never reaches the wire.
TEST_F(usbtransfertest, lengthsbeyondonepacketarerefused) {
    openlink();
    std::array<uint8_t, 65> big{};
    EXPECT_EQ(usbprocs::usbtransfer(big.data(), 65, reply.data(), replylength, 1000, 1000), 0);
    replylength = 65;
    EXPECT_EQ(usbprocs::usbtransfer(packet.data(), 2, reply.data(), replylength, 1000, 1000), 0);
    EXPECT_EQ(replylength, 65);
    replylength = -1;
    EXPECT_EQ(usbprocs::usbtransfer(packet.data(), 2, reply.data(), replylength, 1000, 1000), 0);
    EXPECT_TRUE(fakempusb::calls().empty());
}

// A failed write or read: code 6 closes both pipes silently, any other code
// is written and the pipes stay open.
struct failurecase {
    bool inread;  // the read fails, otherwise the write
    int code;
    const char *output;
};

void PrintTo(const failurecase &c, std::ostream *os) {
    *os << (c.inread ? "read" : "write") << " errno " << c.code;
}

class transferfailures : public usbtransfertest, public testing::WithParamInterface<failurecase> {};

TEST_P(transferfailures, usberrorreactstothelasterrorcode) {
    const failurecase &c = GetParam();
    openlink();
    const int32_t out = usbprocs::outpipe, in = usbprocs::inpipe;
    fakempusb::exchange e = answered(packet, 8, 8);
    (c.inread ? e.readerror : e.writeerror) = c.code;
    fakempusb::expect(e);
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(output(), c.output);
    const auto closes = fakempusb::callsof(callkind::close);
    if (c.code == 6) {
        ASSERT_EQ(closes.size(), 2u);
        EXPECT_EQ(closes[0].handle, out);
        EXPECT_EQ(closes[1].handle, in);
        EXPECT_EQ(usbprocs::outpipe, -1);
        EXPECT_EQ(usbprocs::inpipe, -1);
    } else {
        EXPECT_TRUE(closes.empty());
        EXPECT_EQ(usbprocs::outpipe, out);
        EXPECT_EQ(usbprocs::inpipe, in);
    }
}

INSTANTIATE_TEST_SUITE_P(table, transferfailures,
                         testing::Values(failurecase{false, 6, ""},
                                         failurecase{false, 110, "Error Code 110\n"},
                                         failurecase{false, 5, "Error Code 5\n"},
                                         failurecase{true, 6, ""},
                                         failurecase{true, 110, "Error Code 110\n"},
                                         failurecase{true, 32, "Error Code 32\n"}));

TEST_F(usbtransfertest, deadlinkstaysdeadandclosesminusonetwice) {
    openlink();
    fakempusb::exchange e = answered(packet, 8, 8);
    e.writeerror = 6;
    fakempusb::expect(e);
    EXPECT_EQ(transfer(), 0);
    const size_t before = fakempusb::calls().size();
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(fakempusb::calls().size(), before) << "a dead link touched the library";
    picprocs::closeprogrammer();
    const auto closes = fakempusb::callsof(callkind::close);
    ASSERT_EQ(closes.size(), 4u);
    EXPECT_EQ(closes[2].handle, -1);
    EXPECT_EQ(closes[3].handle, -1);
    EXPECT_EQ(output(), "");
}

TEST_F(usbtransfertest, failedreadleaveswhatthelibraryreported) {
    openlink();
    fakempusb::exchange e = answered(packet, 8, 0);
    e.readerror = 110;
    e.leftcount = 3;
    fakempusb::expect(e);
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(replylength, 3);

    e.leftcount.reset();
    fakempusb::expect(e);
    replylength = 8;
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(replylength, 8);
}

TEST_F(usbtransfertest, closeprogrammerclosesoutthenin) {
    openlink();
    const int32_t out = usbprocs::outpipe, in = usbprocs::inpipe;
    picprocs::closeprogrammer();
    const auto closes = fakempusb::callsof(callkind::close);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].handle, out);
    EXPECT_EQ(closes[1].handle, in);
    EXPECT_EQ(usbprocs::outpipe, -1);
    EXPECT_EQ(usbprocs::inpipe, -1);
    EXPECT_EQ(transfer(), 0);
}

}  // namespace
