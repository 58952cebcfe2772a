#include <gtest/gtest.h>

#include "globaldata.h"
#include "programrun.h"
#include "runerror.h"

namespace {

struct imagefixture : ::testing::Test {
    void SetUp() override {
        globaldata::reset();
        programrun::reset();
    }
    void TearDown() override {
        globaldata::reset();
        programrun::reset();
    }
};

TEST_F(imagefixture, theimageispanelsizetimespanelcountbytesof0xff) {
    globaldata::devicespec = {8192, 4, 8, false};
    programrun::allocateimage();
    ASSERT_EQ(globaldata::imagesize, 32768);
    ASSERT_NE(globaldata::memimage, nullptr);
    for (int32_t i = 0; i < globaldata::imagesize; ++i) ASSERT_EQ(globaldata::memimage[i], 0xFF) << i;
}

TEST_F(imagefixture, anentrythatfailsthecheckgetsnoimage) {
    globaldata::devicespec = {65536, 65536, 8, false};
    try {
        programrun::allocateimage();
        FAIL() << "allocated";
    } catch (const runerror::runfailure &e) {
        EXPECT_STREQ(e.what(),
                     "device entry cannot be programmed: panelsize 65536 x panelcount 65536 is over 2147483647 bytes");
    }
    EXPECT_EQ(globaldata::memimage, nullptr);
    EXPECT_EQ(globaldata::imagesize, 0);
}

TEST_F(imagefixture, agroupholdsdatawhenanyofitsbytesinanypanelisnot0xff) {
    globaldata::devicespec = {0x2000, 4, 8, false};
    programrun::allocateimage();
    EXPECT_FALSE(programrun::groupholdsdata(0x10));
    globaldata::memimage[3 * 0x2000 + 0x10 + 7] = 0xFE;  // last byte of the group, last panel
    EXPECT_TRUE(programrun::groupholdsdata(0x10));
    EXPECT_FALSE(programrun::groupholdsdata(0x08));
    EXPECT_FALSE(programrun::groupholdsdata(0x18));
    globaldata::memimage[0x18] = 0x00;  // first byte of the next group, panel 0
    EXPECT_TRUE(programrun::groupholdsdata(0x18));
}

TEST_F(imagefixture, awidegroupcoversallitsbytes) {
    globaldata::devicespec = {65536, 1, 64, true};
    programrun::allocateimage();
    globaldata::memimage[0x80 + 63] = 0x12;
    EXPECT_TRUE(programrun::groupholdsdata(0x80));
    EXPECT_FALSE(programrun::groupholdsdata(0x40));
    EXPECT_FALSE(programrun::groupholdsdata(0xC0));
}

}  // namespace
