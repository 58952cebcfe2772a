// Files assembled and linked by gputils during the build, in the shapes real
// projects produce, loaded by loadhexfile and compared with what srec_cat
// reads from the same file.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "globaldata.h"
#include "hexfileread.h"
#include "hextestsupport.h"

namespace {

struct part {
    const char *name;
    uint32_t flashsize;
};

const part parts[] = {{"pic18f452", 0x8000}, {"pic18f242", 0x4000}, {"pic18f4550", 0x8000}, {"pic18f2620", 0x10000}};
const char *const shapes[] = {"config", "oldconfig", "codeonly", "ideeprom", "table", "endflash"};

struct toolchaincase {
    std::string file;
    std::string shape;
    uint32_t flashsize;
};
void PrintTo(const toolchaincase &c, std::ostream *os) { *os << c.file; }

std::vector<toolchaincase> toolchaincases() {
    std::vector<toolchaincase> cases;
    for (const part &p : parts)
        for (const char *shape : shapes)
            cases.push_back({std::string(p.name) + "-" + shape + ".hex", shape, p.flashsize});
    return cases;
}

class toolchainfiles : public ::testing::TestWithParam<toolchaincase> {};

TEST_P(toolchainfiles, loadlikesreccat) {
    if (!PICWREN_HAVE_GPUTILS) GTEST_SKIP() << "gputils not found: no files were assembled";
    if (std::string(PICWREN_SRECCAT).empty()) GTEST_SKIP() << "srec_cat not found";
    const toolchaincase &c = GetParam();
    std::string file = std::string(PICWREN_GENERATED) + "/" + c.file;
    ASSERT_TRUE(std::filesystem::exists(file)) << file;

    int status = -1;
    bytestring flash = hextest::sreccatimage(file, 0, c.flashsize, status);
    ASSERT_EQ(status, 0);
    bytestring config = hextest::sreccatimage(file, 0x300000, 14, status);
    ASSERT_EQ(status, 0);

    hextest::image img(c.flashsize);
    ASSERT_NO_THROW(hexfileread::loadhexfile(file));
    EXPECT_TRUE(img.bytes == flash) << "program memory differs from srec_cat's";
    EXPECT_EQ(bytestring(globaldata::configbytes.begin(), globaldata::configbytes.end()), config);

    // The shape is what the source meant, so the comparison above covered it.
    bool configured = false;
    for (uint8_t b : globaldata::configbytes) configured |= b != 0xFF;
    if (c.shape == "config" || c.shape == "oldconfig") {
        EXPECT_TRUE(configured);
    }
    if (c.shape == "codeonly" || c.shape == "ideeprom") {
        EXPECT_FALSE(configured);
    }
    if (c.shape == "endflash") {
        EXPECT_NE(img.bytes[c.flashsize - 1], 0xFF);
    }
    if (c.shape == "table") {
        EXPECT_EQ(img.bytes[0x1000], 0x55);
    }
}

INSTANTIATE_TEST_SUITE_P(gputils, toolchainfiles, ::testing::ValuesIn(toolchaincases()),
                         [](const auto &info) {
                             std::string n = info.param.file.substr(0, info.param.file.size() - 4);
                             std::erase(n, '-');
                             return n;
                         });

}  // namespace
