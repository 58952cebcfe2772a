// openprogrammer's console dialogue and calls, and setvpp in both programs.
#include <array>
#include <optional>
#include <set>
#include <sstream>

#include "linkfixture.h"
#include "runerror.h"

namespace {

using fakempusb::callkind;

enum class ending { returns, quietend, invalidinput };

struct opencase {
    const char *name;
    fakempusb::setup device;
    const char *input;
    uint32_t probes;                // instances 0 .. probes-1 are probed
    std::optional<uint32_t> opened; // the instance whose pipes are opened
    ending ends;
    const char *output;
    int32_t outpipe, inpipe;
};

void PrintTo(const opencase &c, std::ostream *os) { *os << c.name; }

class openprogrammer : public linkfixture, public testing::WithParamInterface<opencase> {};

TEST_P(openprogrammer, linesandcalls) {
    const opencase &c = GetParam();
    fakempusb::reset(c.device);
    std::istringstream in(c.input);
    picprocs::consolein = &in;

    switch (c.ends) {
    case ending::returns: picprocs::openprogrammer(); break;
    case ending::quietend: EXPECT_THROW(picprocs::openprogrammer(), runerror::quietend); break;
    case ending::invalidinput:
        try {
            picprocs::openprogrammer();
            ADD_FAILURE() << "no error raised";
        } catch (const runerror::runfailure &e) {
            EXPECT_STREQ(e.kind.c_str(), "EInOutError");
            EXPECT_STREQ(e.what(), "Invalid numeric input");
        }
        break;
    }
    EXPECT_EQ(output(), c.output);
    EXPECT_EQ(usbprocs::outpipe, c.outpipe);
    EXPECT_EQ(usbprocs::inpipe, c.inpipe);

    const auto &calls = fakempusb::calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].kind, callkind::getdevicecount);
    EXPECT_EQ(calls[0].selector, "vid_04d8&pid_000c");

    // Probes: instance by instance, each answering one closed at once.
    uint32_t probed = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto &k = calls[i];
        if (k.kind != callkind::open || !k.endpointnull) continue;
        EXPECT_EQ(k.instance, probed++);
        EXPECT_EQ(k.selector, "vid_04d8&pid_000c");
        EXPECT_EQ(k.direction, 1u);
        EXPECT_EQ(k.reserved, 0u);
        if (k.handle != -1) {
            ASSERT_LT(i + 1, calls.size());
            EXPECT_EQ(calls[i + 1].kind, callkind::close);
            EXPECT_EQ(calls[i + 1].handle, k.handle);
        }
    }
    EXPECT_EQ(probed, c.probes);

    // The OUT pipe first, then the IN pipe, of the chosen instance.
    std::vector<fakempusb::call> pipes;
    for (const auto &k : calls)
        if (k.kind == callkind::open && !k.endpointnull) pipes.push_back(k);
    if (!c.opened) {
        EXPECT_TRUE(pipes.empty());
        return;
    }
    ASSERT_EQ(pipes.size(), 2u);
    for (uint32_t d = 0; d < 2; ++d) {
        EXPECT_EQ(pipes[d].instance, *c.opened);
        EXPECT_EQ(pipes[d].selector, "vid_04d8&pid_000c");
        EXPECT_EQ(pipes[d].endpoint, "\\MCHP_EP1");
        EXPECT_EQ(pipes[d].direction, d);
        EXPECT_EQ(pipes[d].reserved, 0u);
    }
}

const char *prompt = "found multiple devices\n"
                     "Enter a valid instance index to open a USB connection: \n";

std::string twoat0and3(const char *rest) {
    return std::string("2 devices\nInstance Index # 0\nInstance Index # 3\n") + prompt + rest;
}

// Strings built once for the table below.
const std::string chose3 = twoat0and3("12 13 -1\n");
const std::string chose5 = twoat0and3("-1 -1 -1\nFailed to open data pipes.\\r\\n\n");
const std::string chose0 = twoat0and3("12 13 -1\n");
const std::string choseinvalid = twoat0and3("");

INSTANTIATE_TEST_SUITE_P(
    table, openprogrammer,
    testing::Values(
        opencase{"nodevice", {0, {}, {}}, "", 1, std::nullopt, ending::quietend,
                 "0 devices\nno devices found\n", -1, -1},
        opencase{"countedbutnoneanswers", {2, {}, {}}, "", 127, std::nullopt, ending::quietend,
                 "2 devices\nno devices found\n", -1, -1},
        opencase{"one", {1, {0}, {}}, "", 1, 0, ending::returns,
                 "1 devices\nInstance Index # 0\nfound only one device using it\n11 12 -1\n", 11,
                 12},
        opencase{"twocountedoneanswers", {2, {7}, {}}, "", 127, 7, ending::returns,
                 "2 devices\nInstance Index # 7\nfound only one device using it\n11 12 -1\n", 11,
                 12},
        opencase{"countzerobutinstance0answers", {0, {0}, {}}, "", 127, 0, ending::returns,
                 "0 devices\nInstance Index # 0\nfound only one device using it\n11 12 -1\n", 11,
                 12},
        opencase{"twochoosethree", {2, {0, 3}, {}}, "3\n", 4, 3, ending::returns, chose3.c_str(),
                 12, 13},
        opencase{"twochoosefive", {2, {0, 3}, {}}, "\n  5 junk\n", 4, 5, ending::returns,
                 chose5.c_str(), -1, -1},
        opencase{"twoendofinputchoosesnought", {2, {0, 3}, {}}, "", 4, 0, ending::returns,
                 chose0.c_str(), 12, 13},
        opencase{"twoinvalidinput", {2, {0, 3}, {}}, "3x\n", 4, std::nullopt,
                 ending::invalidinput, choseinvalid.c_str(), -1, -1},
        opencase{"inpipefails", {1, {0}, {{0, 1}}}, "", 1, 0, ending::returns,
                 "1 devices\nInstance Index # 0\nfound only one device using it\n"
                 "11 -1 -1\nFailed to open data pipes.\\r\\n\n",
                 11, -1},
        opencase{"outpipefails", {1, {0}, {{0, 0}}}, "", 1, 0, ending::returns,
                 "1 devices\nInstance Index # 0\nfound only one device using it\n"
                 "-1 11 -1\nFailed to open data pipes.\\r\\n\n",
                 -1, 11}),
    [](const testing::TestParamInfo<opencase> &info) { return info.param.name; });

// setvpp: the packet, and what each program makes of the result.
struct vppcase {
    const char *name;
    picprocs::linkvariant variant;
    uint8_t argument;
    bool linkopen;
    size_t replysize;  // bytes the programmer answers
    int writeerror;
    bool raises;       // flashwren ends the run
    const char *output;
};

void PrintTo(const vppcase &c, std::ostream *os) { *os << c.name; }

class setvpp : public linkfixture, public testing::WithParamInterface<vppcase> {};

TEST_P(setvpp, sendsQandreacts) {
    const vppcase &c = GetParam();
    picprocs::variant = c.variant;
    if (c.linkopen) {
        openlink();
        fakempusb::exchange e = answered(bytes({0x51, c.argument}), 1, c.replysize);
        e.writeerror = c.writeerror;
        fakempusb::expect(e);
    }
    if (c.raises) {
        try {
            picprocs::setvpp(c.argument);
            ADD_FAILURE() << "no error raised";
        } catch (const runerror::runfailure &e) {
            EXPECT_STREQ(e.kind.c_str(), "Exception");
            EXPECT_STREQ(e.what(), "USB Operation Failed\\r\\n");
        }
    } else {
        picprocs::setvpp(c.argument);
    }
    EXPECT_EQ(output(), c.output);
}

using picprocs::linkvariant;

INSTANTIATE_TEST_SUITE_P(
    table, setvpp,
    testing::Values(
        vppcase{"flashwrenraises", linkvariant::flashwren, 0, true, 1, 0, false, "success\n"},
        vppcase{"flashwrenlowers", linkvariant::flashwren, 1, true, 1, 0, false, "success\n"},
        vppcase{"benchdialraises", linkvariant::benchdial, 0, true, 1, 0, false, "success\n"},
        vppcase{"benchdiallowers", linkvariant::benchdial, 1, true, 1, 0, false, "success\n"},
        vppcase{"flashwrennoreply", linkvariant::flashwren, 0, true, 0, 0, true, ""},
        vppcase{"flashwrenlongreply", linkvariant::flashwren, 1, true, 2, 0, true, ""},
        vppcase{"flashwrenwritefails", linkvariant::flashwren, 0, true, 1, 5, true,
                "Error Code 5\n"},
        vppcase{"flashwrenlinkclosed", linkvariant::flashwren, 1, false, 0, 0, true, ""},
        vppcase{"benchdialnoreply", linkvariant::benchdial, 0, true, 0, 0, false,
                "USB Operation Failed\\r\\n\n"},
        vppcase{"benchdiallongreply", linkvariant::benchdial, 1, true, 2, 0, false,
                "USB Operation Failed\\r\\n\n"},
        vppcase{"benchdiallinkclosed", linkvariant::benchdial, 0, false, 0, 0, false,
                "USB Operation Failed\\r\\n\n"}),
    [](const testing::TestParamInfo<vppcase> &info) { return info.param.name; });

TEST(usbfailedmessage, istwentyfourcharacters) {
    EXPECT_EQ(std::string(picprocs::usbfailed).size(), 24u);
}

}  // namespace
