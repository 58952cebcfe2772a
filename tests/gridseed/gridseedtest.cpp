// gridseed run as a program in a scratch folder: the file it writes, and its
// report and exit code when the file cannot be created or written.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "hexfileread.h"
#include "hextestsupport.h"
#include "runerror.h"

namespace {

struct runresult {
    int exitcode = -1;
    std::string out;
    std::string err;
};

// Runs gridseed in folder, as an unprivileged user when asked (root passes
// every permission check).
runresult rungridseed(const std::string &folder, bool unprivileged = false) {
    hextest::scratchdir capture;
    std::string outname = capture / "stdout";
    std::string errname = capture / "stderr";
    pid_t child = fork();
    if (child == 0) {
        int out = open(outname.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err = open(errname.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(120);
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(121);
        if (chdir(folder.c_str()) != 0) _exit(122);
        execl(PICWREN_GRIDSEED, "gridseed", static_cast<char *>(nullptr));
        _exit(123);
    }
    runresult r;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) r.exitcode = WEXITSTATUS(status);
    r.out = hextest::readfile(outname);
    r.err = hextest::readfile(errname);
    return r;
}

std::vector<std::string> crlflines(const std::string &text, bool &allcrlf) {
    std::vector<std::string> lines;
    allcrlf = true;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos || end == start || text[end - 1] != '\r') {
            allcrlf = false;
            break;
        }
        lines.push_back(text.substr(start, end - 1 - start));
        start = end + 1;
    }
    return lines;
}

TEST(gridseed, writesthetestpattern) {
    hextest::scratchdir dir;
    runresult r = rungridseed(dir.path.string());
    EXPECT_EQ(r.exitcode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::string file = dir / "testpattern.hex";
    std::string text = hextest::readfile(file);
    EXPECT_EQ(text.size(), 92190u);

    bool allcrlf = false;
    std::vector<std::string> lines = crlflines(text, allcrlf);
    EXPECT_TRUE(allcrlf) << "every line ends with CR LF";
    ASSERT_EQ(lines.size(), 2050u);
    EXPECT_EQ(lines[0], ":020000040000FA");
    EXPECT_EQ(lines[1], ":100000000101020305080D1522375990E97962DBD9");
    EXPECT_EQ(lines[2], ":100010003D18556DC22FF12011314273B528DD0511");
    EXPECT_EQ(lines[2048], ":107FF000FD98952DC2EFB1A051F1423375A81DC572");
    EXPECT_EQ(lines[2049], ":00000001FF");
    // One extended-address record, then data records at 0x0000, 0x0010, ...
    for (size_t i = 1; i <= 2048; ++i) {
        char head[10];
        std::snprintf(head, sizeof head, ":10%04X00", static_cast<unsigned>((i - 1) * 16));
        ASSERT_EQ(lines[i].substr(0, 9), head) << "line " << i;
    }

    // The data: Fibonacci numbers modulo 256, repeating every 384 bytes.
    hextest::image img(0x8000);
    ASSERT_NO_THROW(hexfileread::loadhexfile(file));
    unsigned a = 1, b = 1;
    for (size_t k = 0; k < img.bytes.size(); ++k) {
        ASSERT_EQ(img.bytes[k], a % 256) << "address " << k;
        unsigned next = (a + b) % 256;
        a = b;
        b = next;
    }
    EXPECT_EQ(img.bytes[0x0D], 0x79);
    EXPECT_EQ(img.bytes[0x0F], 0xDB);
    for (size_t k = 0; k + 384 < img.bytes.size(); ++k) ASSERT_EQ(img.bytes[k], img.bytes[k + 384]) << k;

    if (std::string(PICWREN_SRECCAT).empty()) GTEST_SKIP() << "srec_cat not found";
    int status = -1;
    bytestring fromsreccat = hextest::sreccatimage(file, 0, 0x8000, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fromsreccat == img.bytes) << "srec_cat reads other bytes";
}

TEST(gridseed, replacesthefileandwritesthesameeverytime) {
    hextest::scratchdir dir;
    std::string file = dir / "testpattern.hex";
    ASSERT_EQ(rungridseed(dir.path.string()).exitcode, 0);
    std::string first = hextest::readfile(file);
    hextest::writefile(file, std::string(200000, 'x'));
    ASSERT_EQ(rungridseed(dir.path.string()).exitcode, 0);
    EXPECT_EQ(hextest::readfile(file), first);
}

// A run that cannot write its file: exit code 1, nothing on standard output,
// the report under its title on standard error.
struct failcase {
    const char *name;
    std::function<void(const hextest::scratchdir &)> setup;
    bool unprivileged;
    const char *kind;
    const char *message;
};
void PrintTo(const failcase &c, std::ostream *os) { *os << c.name; }

std::vector<failcase> failcases() {
    return {
        {"diskfull",
         [](const hextest::scratchdir &d) {
             ASSERT_EQ(symlink("/dev/full", (d / "testpattern.hex").c_str()), 0);
         },
         false, "EInOutError", "Cannot write file testpattern.hex: No space left on device"},
        {"nameheldbyafolder",
         [](const hextest::scratchdir &d) { std::filesystem::create_directory(d.path / "testpattern.hex"); },
         false, "EFCreateError", "Cannot create file testpattern.hex"},
        {"linkintoamissingfolder",
         [](const hextest::scratchdir &d) {
             ASSERT_EQ(symlink("nowhere/testpattern.hex", (d / "testpattern.hex").c_str()), 0);
         },
         false, "EFCreateError", "Cannot create file testpattern.hex"},
        {"readonlyfolder",
         [](const hextest::scratchdir &d) { std::filesystem::permissions(d.path, std::filesystem::perms(0555)); },
         true, "EFCreateError", "Cannot create file testpattern.hex"},
    };
}

class gridseedfailures : public ::testing::TestWithParam<failcase> {};

TEST_P(gridseedfailures, reportandexitcode1) {
    const failcase &c = GetParam();
    hextest::scratchdir dir;
    std::filesystem::permissions(dir.path, std::filesystem::perms(0755));
    c.setup(dir);
    runresult r = rungridseed(dir.path.string(), c.unprivileged);
    if (r.exitcode == 121) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(r.exitcode, 1);
    EXPECT_EQ(r.out, "");
    char location[9];
    std::snprintf(location, sizeof location, "%08X", runerror::codelocation(c.message));
    EXPECT_EQ(r.err, std::string("Application Error\nException ") + c.kind + " in module gridseed at " + location +
                         ".\n" + c.message + ".\n");
}

INSTANTIATE_TEST_SUITE_P(files, gridseedfailures, ::testing::ValuesIn(failcases()),
                         [](const auto &info) { return std::string(info.param.name); });

// A file that another process holds open is neither cut nor written.
TEST(gridseed, filelockedbyanotherprocessisleftalone) {
    hextest::scratchdir dir;
    std::string file = dir / "testpattern.hex";
    hextest::writefile(file, "held elsewhere\r\n");
    int fd = open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    runresult r = rungridseed(dir.path.string());
    EXPECT_EQ(r.exitcode, 1);
    EXPECT_NE(r.err.find("\nCannot create file testpattern.hex.\n"), std::string::npos) << r.err;
    EXPECT_EQ(hextest::readfile(file), "held elsewhere\r\n");
    close(fd);
    EXPECT_EQ(rungridseed(dir.path.string()).exitcode, 0);
    EXPECT_EQ(hextest::readfile(file).size(), 92190u);
}

}  // namespace
