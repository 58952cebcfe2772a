// The memory dump against a stand-in for the two reads, where the file system
// can be made to fail part-way: a write that fails must stop the dump with its
// line, and the file must be closed all the same.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "bytestring.h"
#include "hexdump.h"
#include "picprocs.h"
#include "runerror.h"

namespace fs = std::filesystem;

// The reads that the dump makes, served from a counter instead of a chip.
namespace {
int readcalls = 0;
uint8_t nextbyte = 0;

bytestring fakeread(uint8_t count) {
    ++readcalls;
    bytestring out(count);
    for (auto &b : out) b = nextbyte++;
    return out;
}
}  // namespace

namespace picprocs {
bytestring readblock(int32_t, uint8_t count) {
    nextbyte = 0;
    return fakeread(count);
}
bytestring readmore(uint8_t count) { return fakeread(count); }
}  // namespace picprocs

namespace {

std::string readfile(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs dumphexfile with `typed` as the console input; gives what it wrote.
std::string rundump(const std::string &typed) {
    std::istringstream in(typed);
    std::ostringstream out;
    auto *oldin = std::cin.rdbuf(in.rdbuf());
    auto *oldout = std::cout.rdbuf(out.rdbuf());
    readcalls = 0;
    try {
        hexdump::dumphexfile();
    } catch (...) {
        std::cin.rdbuf(oldin);
        std::cout.rdbuf(oldout);
        throw;
    }
    std::cin.rdbuf(oldin);
    std::cout.rdbuf(oldout);
    return out.str();
}

// Files may grow to `limit` bytes while it lives; a write past it fails with
// EFBIG instead of raising SIGXFSZ, as a full disk would fail it.
struct filesizelimit {
    rlimit saved{};
    void (*savedhandler)(int);
    explicit filesizelimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedhandler = signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~filesizelimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, savedhandler);
    }
};

class dumptest : public testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dumptest-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
};

// The line of an extended linear address record for 0 and the 45-byte data
// record lines that the counter gives.
constexpr size_t headerline = 17;
constexpr size_t dataline = 45;

TEST_F(dumptest, acompletedumpwritesthewholefile) {
    fs::path file = dir / "dump file.hex";
    std::string console = rundump(file.string() + "\n");
    EXPECT_EQ(console, "enter filename\n" + std::string(64, '*') + "\n");
    EXPECT_EQ(readcalls, 1024);
    std::string text = readfile(file);
    ASSERT_EQ(text.size(), 92190u);
    EXPECT_EQ(text.substr(0, headerline), ":020000040000FA\r\n");
    // The second record carries bytes 16 to 31 of the first read.
    EXPECT_EQ(text.substr(headerline + dataline, dataline),
              ":10001000101112131415161718191A1B1C1D1E1F68\r\n");
    EXPECT_EQ(text.substr(text.size() - 13), ":00000001FF\r\n");
}

TEST_F(dumptest, thewholelineisthename) {
    fs::path file = dir / "  two  blanks each side  ";
    EXPECT_EQ(rundump(file.string() + "\n"), "enter filename\n" + std::string(64, '*') + "\n");
    EXPECT_EQ(fs::file_size(file), 92190u);
}

TEST_F(dumptest, afileheldbyanotheropenercannotbecreated) {
    fs::path file = dir / "held.hex";
    std::ofstream(file) << "kept";
    int holder = open(file.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    try {
        rundump(file.string() + "\n");
        ADD_FAILURE() << "the dump went ahead on a file held elsewhere";
    } catch (const runerror::runfailure &e) {
        EXPECT_STREQ(e.kind.c_str(), runerror::kfcreateerror);
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + file.string());
    }
    close(holder);
    EXPECT_EQ(readcalls, 0);
    EXPECT_EQ(readfile(file), "kept");
}

TEST_F(dumptest, awritethatfailspartwaystopsthedumpandclosesthefile) {
    fs::path file = dir / "dump.hex";
    // Room for the header and the records of 40 reads and a part of the next.
    const size_t room = headerline + 80 * dataline + 20;
    std::string console;
    {
        filesizelimit limit(room);
        console = rundump(file.string() + "\n");
    }
    // Two marks for the 32 reads before it, no further read after it.
    EXPECT_EQ(console, "enter filename\n**error-writing aborted\n");
    EXPECT_EQ(readcalls, 41);
    EXPECT_EQ(fs::file_size(file), room);
    // The file was closed: a second dump to the same name may take it.
    EXPECT_EQ(rundump(file.string() + "\n"), "enter filename\n" + std::string(64, '*') + "\n");
    EXPECT_EQ(fs::file_size(file), 92190u);
}

TEST_F(dumptest, afailedendrecordisreported) {
    fs::path file = dir / "dump.hex";
    std::string console;
    {
        filesizelimit limit(92190 - 13);  // every data record fits, the end record does not
        console = rundump(file.string() + "\n");
    }
    EXPECT_EQ(console, "enter filename\n" + std::string(64, '*') + "\nerror-writing aborted\n");
}

}  // namespace
