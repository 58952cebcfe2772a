#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "hexfileread.h"
#include "hexfilewrite.h"
#include "hextestsupport.h"

namespace {

using namespace hexfilewrite;

TEST(bytestohex, twouppercasedigitsperbyte) {
    EXPECT_EQ(bytestohex({}), "");
    EXPECT_EQ(bytestohex({0x00, 0xAB}), "00AB");
    EXPECT_EQ(bytestohex({0xDB, 0x0F, 0xF0}), "DB0FF0");
}

// Calls on a fresh writer and the exact text they put on the file.
struct writecase {
    const char *name;
    std::function<void(hexwriter &)> calls;
    std::string text;
};
void PrintTo(const writecase &c, std::ostream *os) { *os << c.name; }

std::string repeated(const std::string &s, int times) {
    std::string r;
    for (int i = 0; i < times; ++i) r += s;
    return r;
}

const bytestring firstsixteen{0x01, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0D, 0x15,
                              0x22, 0x37, 0x59, 0x90, 0xE9, 0x79, 0x62, 0xDB};

std::vector<writecase> writecases() {
    return {
        {"firstdatarecordannouncesupperaddresszero",
         [](hexwriter &w) { writedatarecord(w, 0, firstsixteen); },
         ":020000040000FA\r\n:100000000101020305080D1522375990E97962DBD9\r\n"},
        {"nextrecordinthesame64kneedsnoannouncement",
         [](hexwriter &w) {
             writedatarecord(w, 0, firstsixteen);
             writedatarecord(w, 0x10, bytestring(16, 0xFF));
         },
         ":020000040000FA\r\n:100000000101020305080D1522375990E97962DBD9\r\n"
         ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0\r\n"},
        {"upperaddresschangesupanddown",
         [](hexwriter &w) {
             writedatarecord(w, 0xFFF0, {0x01});
             writedatarecord(w, 0x10000, {0x02});
             writedatarecord(w, 0, {0x03});
         },
         ":020000040000FA\r\n:01FFF000010F\r\n:020000040001F9\r\n:0100000002FD\r\n"
         ":020000040000FA\r\n:0100000003FC\r\n"},
        {"highestupperaddress",
         [](hexwriter &w) { writedatarecord(w, 0x7FFF0000, {0xAA}); },
         ":020000047FFF7C\r\n:01000000AA55\r\n"},
        {"recordwithoutdata", [](hexwriter &w) { writerecord(w, 0x1234, 0, {}); }, ":00123400BA\r\n"},
        {"endoffilealone", [](hexwriter &w) { writeeofrecord(w); }, ":00000001FF\r\n"},
        {"endoffileafterdata",
         [](hexwriter &w) {
             writedatarecord(w, 0x20, {0xDB});
             writeeofrecord(w);
         },
         ":020000040000FA\r\n:01002000DB04\r\n:00000001FF\r\n"},
        {"recordof255bytes", [](hexwriter &w) { writerecord(w, 0, 0, bytestring(255, 0x01)); },
         ":FF000000" + repeated("01", 255) + "02\r\n"},
    };
}

class writertable : public ::testing::TestWithParam<writecase> {};

TEST_P(writertable, exacttext) {
    hextest::scratchdir dir;
    std::string file = dir / "out.hex";
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    hexwriter w;
    inithexwriter(w, fd);
    GetParam().calls(w);
    close(fd);
    EXPECT_EQ(hextest::readfile(file), GetParam().text);
    EXPECT_EQ(w.error, 0);
}

INSTANTIATE_TEST_SUITE_P(records, writertable, ::testing::ValuesIn(writecases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(inithexwriter, bindsthefileandforgetstheupperaddress) {
    hexwriter w;
    w.upperaddress = 5;
    inithexwriter(w, 7);
    EXPECT_EQ(w.stream, 7);
    EXPECT_EQ(w.upperaddress, -1);
    EXPECT_EQ(w.error, 0);
}

TEST(hexwriter, refusesrecordsitcannotwrite) {
    hextest::scratchdir dir;
    std::string file = dir / "out.hex";
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    hexwriter w;
    inithexwriter(w, fd);
    EXPECT_FALSE(writedatarecord(w, -16, {1}));
    EXPECT_FALSE(writedatarecord(w, 0, bytestring(256, 0)));
    EXPECT_FALSE(writerecord(w, 0, 0, bytestring(256, 0)));
    close(fd);
    EXPECT_EQ(w.error, EINVAL);
    EXPECT_EQ(w.upperaddress, -1);
    EXPECT_EQ(hextest::readfile(file), "");
}

TEST(hexwriter, failedwriteisreported) {
    int fd = open("/dev/full", O_WRONLY);
    if (fd < 0) GTEST_SKIP() << "no /dev/full";
    hexwriter w;
    inithexwriter(w, fd);
    EXPECT_FALSE(writedatarecord(w, 0, {1, 2, 3}));
    EXPECT_EQ(w.error, ENOSPC);
    // The type-04 record was not written, so it is not taken as announced.
    EXPECT_EQ(w.upperaddress, -1);
    EXPECT_FALSE(writeeofrecord(w));
    close(fd);
}

// A write cut short by the file size limit: the writer goes on with the rest
// of the line, meets the error and reports it. Runs in a child, whose limit
// does not touch the test process.
TEST(hexwriter, shortwriteisreported) {
    hextest::scratchdir dir;
    std::string file = dir / "out.hex";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
        int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(11);
        hexwriter w;
        inithexwriter(w, fd);
        // 17 + 45 bytes fit, the second 45-byte line does not.
        if (!writedatarecord(w, 0, bytestring(16, 0x11))) _exit(12);
        if (writedatarecord(w, 0x10, bytestring(16, 0x22))) _exit(13);
        _exit(w.error == EFBIG ? 0 : 14);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(hextest::readfile(file).size(), 100u);
}

// Files of the writer read back by srec_cat and by loadhexfile: the data in
// several 64 KB regions, written out of address order.
TEST(hexwriter, filesreadbackbysreccatandloadhexfile) {
    if (std::string(PICWREN_SRECCAT).empty()) GTEST_SKIP() << "srec_cat not found";
    constexpr uint32_t size = 0x30000;
    std::vector<uint8_t> expected(size, 0xFF);
    hextest::scratchdir dir;
    std::string file = dir / "out.hex";
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    hexwriter w;
    inithexwriter(w, fd);
    uint32_t seed = 12345;
    for (uint32_t address : {0x20000u, 0x00000u, 0x1FF00u, 0x0FF00u, 0x10100u, 0x2FF00u, 0x00200u}) {
        for (uint32_t a = address; a < address + 0x100; a += 16) {
            bytestring data(16);
            for (auto &b : data) {
                seed = seed * 1103515245u + 12345u;
                b = static_cast<uint8_t>(seed >> 16);
            }
            std::copy(data.begin(), data.end(), expected.begin() + a);
            ASSERT_TRUE(writedatarecord(w, static_cast<int32_t>(a), data));
        }
    }
    ASSERT_TRUE(writeeofrecord(w));
    close(fd);

    int status = -1;
    bytestring fromsreccat = hextest::sreccatimage(file, 0, size, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fromsreccat == expected) << "srec_cat reads other bytes";

    hextest::image img(size);
    ASSERT_NO_THROW(hexfileread::loadhexfile(file));
    EXPECT_TRUE(img.bytes == expected) << "loadhexfile reads other bytes";
}

}  // namespace
