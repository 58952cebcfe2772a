#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "globaldata.h"
#include "hexfileread.h"
#include "hextestsupport.h"
#include "runerror.h"

namespace {

using hextest::eofrecord;
using hextest::record;
using hextest::upperaddress;

std::string crlf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto &l : lines) text += l + "\r\n";
    return text;
}

bytestring fill(size_t n, uint8_t value) { return bytestring(n, value); }
bytestring counting(size_t n, uint8_t first) {
    bytestring b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

std::string lowercase(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Index of the first byte where two images differ, or -1.
long firstdifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

TEST(hextobytes, pairsofdigitsinbothcases) {
    EXPECT_EQ(hexfileread::hextobytes(""), bytestring{});
    EXPECT_EQ(hexfileread::hextobytes("00AB"), (bytestring{0x00, 0xAB}));
    EXPECT_EQ(hexfileread::hextobytes("dbDB9f"), (bytestring{0xDB, 0xDB, 0x9F}));
    EXPECT_EQ(hexfileread::hextobytes("0123456789abcdef"),
              (bytestring{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    // An odd last character is left out.
    EXPECT_EQ(hexfileread::hextobytes("1F7"), bytestring{0x1F});
    // Other characters are no error of the conversion; they count as 0.
    EXPECT_EQ(hexfileread::hextobytes("G4:z"), (bytestring{0x04, 0x00}));
}

// A file, the image size, what the image then holds where it is not 0xFF,
// and the configuration bytes that are not 0xFF.
struct loadcase {
    const char *name;
    std::string text;
    size_t imagesize;
    std::vector<std::pair<uint32_t, bytestring>> imagedata;
    std::vector<std::pair<int, uint8_t>> configdata;
};
void PrintTo(const loadcase &c, std::ostream *os) { *os << c.name; }

std::vector<loadcase> loadcases() {
    return {
        {"writtenrecordsofthissystem",
         ":020000040000FA\r\n:100000000101020305080D1522375990E97962DBD9\r\n:00000001FF\r\n", 64,
         {{0, {0x01, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0D, 0x15, 0x22, 0x37, 0x59, 0x90, 0xE9, 0x79, 0x62, 0xDB}}},
         {}},
        {"readingstopsattheendoffilerecord",
         crlf({upperaddress(0), record(0, 0, {1}), eofrecord, record(4, 0, {9}), ":zz no record"}), 64,
         {{0, {1}}}, {}},
        {"blankandothertextlinesareskipped",
         crlf({"", "hello", "  ", record(0, 0, {5}), "", "; note", eofrecord}), 64, {{0, {5}}}, {}},
        {"lowercasedigits",
         crlf({lowercase(record(0, 0, {0xAB, 0xCD, 0xEF, 0x01})), lowercase(eofrecord)}), 64,
         {{0, {0xAB, 0xCD, 0xEF, 0x01}}}, {}},
        {"oddcharacteraftertherecordisignored", crlf({record(2, 0, {0x42}) + "5", eofrecord}), 64,
         {{2, {0x42}}}, {}},
        {"lineendsoflfcrandcrlf",
         record(0, 0, {1}) + "\n" + record(1, 0, {2}) + "\r" + record(2, 0, {3}) + "\r\n\n" + eofrecord, 64,
         {{0, {1, 2, 3}}}, {}},
        {"recordthatendsontheimageendiscopied",
         crlf({record(0x30, 0, fill(16, 0x11)), record(0x31, 0, fill(16, 0x22)), eofrecord}), 64,
         {{0x30, fill(16, 0x11)}}, {}},
        {"recordsbeyondtheimagearedropped",
         crlf({upperaddress(0x20), record(0, 0, counting(8, 1)), upperaddress(0xF0),
               record(0, 0, counting(16, 0x40)), eofrecord}),
         64, {}, {}},
        {"extendedsegmentrecordisignored",
         crlf({record(0, 2, {0x10, 0x00}), record(8, 0, {7}), eofrecord}), 64, {{8, {7}}}, {}},
        {"upperaddressplacesrecordsandcomesback",
         crlf({upperaddress(1), record(0, 0, {5}), upperaddress(0), record(3, 0, {6}), eofrecord}), 0x10010,
         {{3, {6}}, {0x10000, {5}}}, {}},
        {"upperaddresstakesthefirsttwoofmorebytes",
         crlf({record(0, 4, {0x00, 0x01, 0x99}), record(0, 0, {5}), eofrecord}), 0x10010,
         {{0x10000, {5}}}, {}},
        {"addressesdonotwraparound",
         crlf({upperaddress(0xFFFF), record(0xFFF8, 0, fill(16, 0x33)), eofrecord}), 64, {}, {}},
        {"configurationrecordof14bytes",
         crlf({upperaddress(0x30), record(0, 0, counting(14, 0x80)), eofrecord}), 64, {},
         {{0, 0x80}, {1, 0x81}, {2, 0x82}, {3, 0x83}, {4, 0x84}, {5, 0x85}, {6, 0x86}, {7, 0x87},
          {8, 0x88}, {9, 0x89}, {10, 0x8A}, {11, 0x8B}, {12, 0x8C}, {13, 0x8D}}},
        {"configurationfromthefirst14of16bytes",
         crlf({upperaddress(0x30), record(0, 0, counting(16, 0x10)), eofrecord}), 64, {},
         {{0, 0x10}, {1, 0x11}, {2, 0x12}, {3, 0x13}, {4, 0x14}, {5, 0x15}, {6, 0x16}, {7, 0x17},
          {8, 0x18}, {9, 0x19}, {10, 0x1A}, {11, 0x1B}, {12, 0x1C}, {13, 0x1D}}},
        {"laterconfigurationrecordswin",
         crlf({upperaddress(0x30), record(0, 0, fill(14, 0x00)), record(0, 0, fill(14, 0x5A)), eofrecord}), 64,
         {},
         {{0, 0x5A}, {1, 0x5A}, {2, 0x5A}, {3, 0x5A}, {4, 0x5A}, {5, 0x5A}, {6, 0x5A}, {7, 0x5A},
          {8, 0x5A}, {9, 0x5A}, {10, 0x5A}, {11, 0x5A}, {12, 0x5A}, {13, 0x5A}}},
        // The records gpasm writes for CONFIG directives on a PIC18F452.
        {"configurationinshortrecords",
         crlf({upperaddress(0x30), ":0300010022060EC6", ":02000500018177", ":060008000FC00FE00F40E5", eofrecord}),
         64, {},
         {{1, 0x22}, {2, 0x06}, {3, 0x0E}, {5, 0x01}, {6, 0x81}, {8, 0x0F}, {9, 0xC0}, {10, 0x0F}, {11, 0xE0},
          {12, 0x0F}, {13, 0x40}}},
        {"configurationbytesfromrecordsthatstraddlethespace",
         crlf({upperaddress(0x2F), record(0xFFF8, 0, counting(16, 0x20)), upperaddress(0x30),
               record(0x000A, 0, counting(8, 0x60)), eofrecord}),
         64, {},
         {{0, 0x28}, {1, 0x29}, {2, 0x2A}, {3, 0x2B}, {4, 0x2C}, {5, 0x2D}, {6, 0x2E}, {7, 0x2F},
          {10, 0x60}, {11, 0x61}, {12, 0x62}, {13, 0x63}}},
        {"nothingoutsidethespaceistakenforconfiguration",
         crlf({upperaddress(0x30), record(0x000E, 0, fill(4, 0x00)), upperaddress(0x2F),
               record(0xFFF0, 0, fill(16, 0x00)), eofrecord}),
         64, {}, {}},
        {"animagethatreachestheconfigurationspacegetsthebytestoo",
         crlf({upperaddress(0x30), record(0, 0, counting(14, 1)), eofrecord}), 0x300010,
         {{0x300000, counting(14, 1)}},
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 10}, {10, 11},
          {11, 12}, {12, 13}, {13, 14}}},
    };
}

class loadhexfiletable : public ::testing::TestWithParam<loadcase> {};

TEST_P(loadhexfiletable, imageandconfiguration) {
    const loadcase &c = GetParam();
    hextest::scratchdir dir;
    std::string file = dir / "in.hex";
    hextest::writefile(file, c.text);

    std::vector<uint8_t> expected(c.imagesize, 0xFF);
    for (const auto &[address, bytes] : c.imagedata)
        std::copy(bytes.begin(), bytes.end(), expected.begin() + address);
    std::array<uint8_t, 14> expectedconfig;
    expectedconfig.fill(0xFF);
    for (const auto &[k, value] : c.configdata) expectedconfig[k] = value;

    hextest::image img(c.imagesize);
    ASSERT_NO_THROW(hexfileread::loadhexfile(file));
    EXPECT_EQ(firstdifference(img.bytes, expected), -1);
    EXPECT_EQ(globaldata::configbytes, expectedconfig);
}

INSTANTIATE_TEST_SUITE_P(records, loadhexfiletable, ::testing::ValuesIn(loadcases()),
                         [](const auto &info) { return std::string(info.param.name); });

// A file that ends the run: the kind and message of the report.
struct failcase {
    const char *name;
    std::string text;
    const char *message;
};
void PrintTo(const failcase &c, std::ostream *os) { *os << c.name; }

std::vector<failcase> failcases() {
    const char *checksum = "checksum failure";
    const char *lengths = "lengths don't match";
    const char *noend = "end of file without an end-of-file record";
    const char *shortupper = "extended address record too short";
    return {
        {"badchecksum", crlf({":0400000001020304F3", eofrecord}), checksum},
        {"countabovethedata", crlf({":04000000010203F6", eofrecord}), lengths},
        {"countbelowthedata", crlf({":02000000010203F8", eofrecord}), lengths},
        {"colonalone", crlf({":", eofrecord}), lengths},
        {"colonandonecharacter", crlf({":0", eofrecord}), lengths},
        {"checksumtestcomesfirst", crlf({":04000000010203F7", eofrecord}), checksum},
        {"characterthatisnohexdigit", crlf({":04000000010203G4F2", eofrecord}), checksum},
        {"blanksaftertherecord", crlf({":0100000042BD  ", eofrecord}), checksum},
        {"onlythefirst1000charactersaredecoded", crlf({":" + std::string(1000, '0') + "01", eofrecord}), lengths},
        {"badlinebeforethefirstrecord", crlf({":xyz", record(0, 0, {1}), eofrecord}), checksum},
        {"noendoffilerecord", crlf({upperaddress(0), record(0, 0, {1})}), noend},
        {"lastrecordwithoutlineend", crlf({upperaddress(0)}) + record(0, 0, {1}), noend},
        {"emptyfile", "", noend},
        {"onlyblanklines", "\r\n\r\n\n", noend},
        {"upperaddressofonebyte", crlf({record(0, 4, {0x00}), record(0, 0, {1}), eofrecord}), shortupper},
        {"upperaddressofnobytes", crlf({record(0, 4, {}), record(0, 0, {1}), eofrecord}), shortupper},
    };
}

class loadhexfilefailures : public ::testing::TestWithParam<failcase> {};

TEST_P(loadhexfilefailures, endtherun) {
    const failcase &c = GetParam();
    hextest::scratchdir dir;
    std::string file = dir / "in.hex";
    hextest::writefile(file, c.text);
    hextest::image img(64);
    try {
        hexfileread::loadhexfile(file);
        FAIL() << "no error raised";
    } catch (const runerror::runfailure &e) {
        EXPECT_EQ(e.kind, runerror::kexception);
        EXPECT_STREQ(e.what(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(records, loadhexfilefailures, ::testing::ValuesIn(failcases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(loadhexfile, endoffilerecordwithoutlineendisenough) {
    hextest::scratchdir dir;
    hextest::writefile(dir / "in.hex", crlf({record(0, 0, {7})}) + eofrecord);
    hextest::image img(16);
    ASSERT_NO_THROW(hexfileread::loadhexfile(dir / "in.hex"));
    EXPECT_EQ(img.bytes[0], 7);
}

TEST(loadhexfile, verylonglinesarepassedoverinboundedmemory) {
    hextest::scratchdir dir;
    std::string text = std::string(4 << 20, 'x') + "\r\n" + record(0, 0, {1, 2}) + "\r\n" +
                       "; " + std::string(3 << 20, '0') + "\n" + eofrecord + "\r\n";
    hextest::writefile(dir / "in.hex", text);
    hextest::image img(16);
    ASSERT_NO_THROW(hexfileread::loadhexfile(dir / "in.hex"));
    EXPECT_EQ(img.bytes[0], 1);
    EXPECT_EQ(img.bytes[1], 2);
}

TEST(loadhexfile, eachloadstartsatupperaddresszero) {
    hextest::scratchdir dir;
    hextest::writefile(dir / "a.hex", crlf({upperaddress(0x20), record(0, 0, {1}), eofrecord}));
    hextest::writefile(dir / "b.hex", crlf({record(4, 0, {9}), eofrecord}));
    hextest::image img(16);
    hexfileread::loadhexfile(dir / "a.hex");
    hexfileread::loadhexfile(dir / "b.hex");
    EXPECT_EQ(img.bytes[4], 9);
}

// I/O errors on opening: kind EInOutError with the run-time's messages.
std::string ioerror(const std::string &name) {
    hextest::image img(16);
    try {
        hexfileread::loadhexfile(name);
    } catch (const runerror::runfailure &e) {
        return std::string(e.kind) + ": " + e.what();
    }
    return "no error";
}

TEST(loadhexfile, fileerrors) {
    hextest::scratchdir dir;
    hextest::writefile(dir / "plain", "x");
    EXPECT_EQ(ioerror(dir / "missing.hex"), "EInOutError: File not found");
    EXPECT_EQ(ioerror(dir / "nofolder/in.hex"), "EInOutError: Invalid filename");
    EXPECT_EQ(ioerror(dir / "plain/in.hex"), "EInOutError: Invalid filename");
    EXPECT_EQ(ioerror(dir.path.string()), "EInOutError: File access denied");
}

// Permission checks do not hold for root, so the check runs in a child that
// gives up root first.
TEST(loadhexfile, unreadablefile) {
    hextest::scratchdir dir;
    std::string file = dir / "locked.hex";
    hextest::writefile(file, crlf({eofrecord}));
    chmod(file.c_str(), 0);
    chmod(dir.path.c_str(), 0755);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipefd[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        std::string result = ioerror(file);
        ssize_t n = write(pipefd[1], result.data(), result.size());
        _exit(n == static_cast<ssize_t>(result.size()) ? 0 : 3);
    }
    close(pipefd[1]);
    char buf[256];
    ssize_t n = read(pipefd[0], buf, sizeof buf);
    close(pipefd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot give up root here";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "EInOutError: File access denied");
}

// An empty name reads standard input.
TEST(loadhexfile, emptynamereadsstandardinput) {
    hextest::scratchdir dir;
    hextest::writefile(dir / "in.hex", crlf({record(1, 0, {0x5A, 0xA5}), eofrecord}));
    int saved = dup(0);
    int fd = open((dir / "in.hex").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    dup2(fd, 0);
    close(fd);
    clearerr(stdin);
    hextest::image img(16);
    std::string error;
    try {
        hexfileread::loadhexfile("");
    } catch (const runerror::runfailure &e) {
        error = e.what();
    }
    dup2(saved, 0);
    close(saved);
    clearerr(stdin);
    EXPECT_EQ(error, "");
    EXPECT_EQ(img.bytes[1], 0x5A);
    EXPECT_EQ(img.bytes[2], 0xA5);
}

}  // namespace
