#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "runerror.h"

namespace {

std::string report(const runerror::runfailure &e) {
    std::ostringstream out;
    runerror::writereport(out, e, "flashwren");
    return out.str();
}

std::string location(const std::string &message) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", runerror::codelocation(message));
    return buf;
}

TEST(writereport, twolineswithkindmoduleandlocation) {
    runerror::runfailure e(runerror::kexception, "version too low");
    EXPECT_EQ(report(e), "Exception Exception in module flashwren at " + location("version too low") +
                             ".\nversion too low.\n");
}

TEST(writereport, nodotaddedwhenthemessagealreadyendsinone) {
    runerror::runfailure e(runerror::kexception, "done.");
    EXPECT_EQ(report(e), "Exception Exception in module flashwren at " + location("done.") + ".\ndone.\n");
}

TEST(writereport, emptymessagegetsnodot) {
    runerror::runfailure e(runerror::kexception, "");
    EXPECT_EQ(report(e), "Exception Exception in module flashwren at " + location("") + ".\n\n");
}

TEST(writereport, backslashmessagekeepsitsliteralcharacters) {
    runerror::runfailure e(runerror::kexception, "USB Operation Failed\\r\\n");
    EXPECT_EQ(report(e), "Exception Exception in module flashwren at " + location("USB Operation Failed\\r\\n") +
                             ".\nUSB Operation Failed\\r\\n.\n");
}

TEST(codelocation, eightdigitsstableanddistinct) {
    EXPECT_EQ(location("checksum failure").size(), 8u);
    EXPECT_EQ(runerror::codelocation("checksum failure"), runerror::codelocation("checksum failure"));
    EXPECT_NE(runerror::codelocation("checksum failure"), runerror::codelocation("lengths don't match"));
}

TEST(failures, kindsandmessages) {
    try { runerror::failcreate("x.hex"); } catch (const runerror::runfailure &e) {
        EXPECT_EQ(e.kind, "EFCreateError");
        EXPECT_STREQ(e.what(), "Cannot create file x.hex");
    }
    try { runerror::failio("File not found"); } catch (const runerror::runfailure &e) {
        EXPECT_EQ(e.kind, "EInOutError");
    }
    try { runerror::fail("unrecognised device"); } catch (const runerror::runfailure &e) {
        EXPECT_EQ(e.kind, "Exception");
    }
}

TEST(iomessage, errnotomessage) {
    EXPECT_EQ(runerror::iomessage(ENOENT), "File not found");
    EXPECT_EQ(runerror::iomessage(ENOTDIR), "Invalid filename");
    EXPECT_EQ(runerror::iomessage(EACCES), "File access denied");
    EXPECT_EQ(runerror::iomessage(EISDIR), "I/O error 21");
}

}  // namespace

namespace {

void throwsbadalloc(int, char **) { throw std::bad_alloc(); }
void throwsforeign(int, char **) { throw std::out_of_range("index past the end"); }
void endsquietly(int, char **) { throw runerror::quietend(); }
void raisescreate(int, char **) { runerror::failcreate("x.hex"); }

struct guardedcase {
    void (*body)(int, char **);
    int exitcode;
    const char *kindline;  // the report's first line up to " in module"
    const char *message;   // its second line
};

class runguardedcases : public testing::TestWithParam<guardedcase> {};

TEST_P(runguardedcases, exitcodeandreport) {
    const guardedcase &c = GetParam();
    std::ostringstream out;
    EXPECT_EQ(runerror::runguarded(c.body, 0, nullptr, out), c.exitcode);
    if (c.kindline == nullptr) {
        EXPECT_EQ(out.str(), "");
        return;
    }
    std::string text = out.str();
    EXPECT_EQ(text.rfind(c.kindline, 0), 0u) << text;
    EXPECT_NE(text.find(std::string("\n") + c.message + "\n"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    table, runguardedcases,
    testing::Values(guardedcase{endsquietly, 0, nullptr, nullptr},
                    guardedcase{raisescreate, 1, "Exception EFCreateError in module", "Cannot create file x.hex."},
                    guardedcase{throwsbadalloc, 1, "Exception EOutOfMemory in module", "Out of memory."},
                    guardedcase{throwsforeign, 1, "Exception Exception in module", "index past the end."}));

}  // namespace
