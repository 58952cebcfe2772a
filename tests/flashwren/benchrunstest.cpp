// flashwren against benches of real parts, driven by data: every entry of the
// shipped device table, and every HEX file that gputils made for the tests.
// After each run the chip itself is read back through simbench.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "devicetable.h"
#include "hexrecord.h"

namespace {

namespace fs = std::filesystem;

const fs::path bindir = PICWREN_BIN;

std::string readfile(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct outcome {
    int exitcode = -1;
    std::string out;
};

// Runs a program with the bench in the environment, in `dir`, with no input;
// standard output and standard error together.
outcome runtool(const std::vector<std::string> &argv, const fs::path &dir, const fs::path &bench) {
    int fds[2];
    outcome result;
    if (pipe(fds) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (freopen("/dev/null", "r", stdin) == nullptr || chdir(dir.c_str()) != 0) _exit(126);
        setenv("MPUSBAPI_SIM", bench.c_str(), 1);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitcode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string sreccat() {
    for (const char *dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        fs::path p = fs::path(dir) / "srec_cat";
        if (fs::exists(p)) return p.string();
    }
    return "";
}

// A scratch folder with a bench in it, removed afterwards.
struct scratch {
    fs::path dir;
    fs::path bench;
    scratch() {
        std::string pattern = (fs::temp_directory_path() / "flashwrenbench-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        bench = dir / "bench";
    }
    ~scratch() {
        if (!::testing::Test::HasFailure()) fs::remove_all(dir);
    }
};

// Intel HEX records (types 00 and 04) into an image of `size` bytes of 0xFF.
std::vector<uint8_t> imageof(const std::string &hex, size_t size) {
    std::vector<uint8_t> image(size, 0xFF);
    std::istringstream in(hex);
    std::string line;
    uint32_t upper = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != ':') continue;
        std::vector<uint8_t> b;
        for (size_t i = 1; i + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); i += 2)
            b.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        if (b.size() < 5) continue;
        if (b[3] == 4) upper = (b[4] << 8 | b[5]) << 16;
        if (b[3] != 0) continue;
        uint32_t address = upper + (b[1] << 8 | b[2]);
        for (size_t k = 0; k < b[0]; ++k)
            if (address + k < size) image[address + k] = b[4 + k];
    }
    return image;
}

// A record line with its line end.
std::string hexrecord(uint16_t address, uint8_t type, const std::vector<uint8_t> &data) {
    return testhex::record(address, type, data) + "\r\n";
}

// The "config" line of simbench show: the 14 configuration bytes.
std::string configline(const outcome &show) {
    std::istringstream in(show.out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("config ", 0) == 0) return line;
    return "";
}

std::string configtext(const std::vector<uint8_t> &bytes) {
    std::string text = "config";
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, " %02X", b);
        text += digits;
    }
    return text;
}

// Where the first difference lies, for a failure message.
std::string firstdifference(const std::vector<uint8_t> &want, const std::vector<uint8_t> &got) {
    if (want.size() != got.size()) return "sizes " + std::to_string(want.size()) + " and " + std::to_string(got.size());
    auto m = std::mismatch(want.begin(), want.end(), got.begin());
    if (m.first == want.end()) return "none";
    char text[64];
    std::snprintf(text, sizeof text, "at 0x%06zX: want %02X, chip %02X", static_cast<size_t>(m.first - want.begin()),
                  *m.first, *m.second);
    return text;
}

// ---- every entry of the shipped table on a bench of its part

struct shippedentry {
    std::string section, name;
    int32_t panelsize, panelcount, bytes;
};

std::vector<shippedentry> shippedentries() {
    devicetable::inifile table = devicetable::openinifile(PICWREN_SHIPPED_TABLE);
    std::vector<shippedentry> entries;
    for (const devicetable::iniline &line : table.lines) {
        if (!entries.empty() && entries.back().section == line.section) continue;
        entries.push_back({line.section, devicetable::readstring(table, line.section, "name", ""),
                           devicetable::readinteger(table, line.section, "panelsize", 0),
                           devicetable::readinteger(table, line.section, "panelcount", 0),
                           devicetable::readinteger(table, line.section, "bytestowriteperpanel", 0)});
    }
    return entries;
}

class shippedpart : public testing::TestWithParam<shippedentry> {};

TEST_P(shippedpart, isidentifiedandprogrammed) {
    const shippedentry &e = GetParam();
    const size_t size = static_cast<size_t>(e.panelsize) * e.panelcount;
    scratch at;
    outcome init = runtool({(bindir / "simbench").string(), "init", at.bench.string(), e.section}, at.dir, at.bench);
    ASSERT_EQ(init.exitcode, 0) << init.out;

    // A few bytes at the start, the first group of every panel, the middle,
    // and the last group of the last panel; and the configuration bytes.
    std::string hex = hexrecord(0, 4, {0x00, 0x00});
    std::vector<uint8_t> expected(size, 0xFF);
    auto put = [&](uint32_t address, std::vector<uint8_t> data) {
        hex += hexrecord(0, 4, {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16)});
        hex += hexrecord(static_cast<uint16_t>(address), 0, data);
        std::copy(data.begin(), data.end(), expected.begin() + address);
    };
    put(0, {0x12, 0x34, 0x56, 0x78});
    for (int32_t p = 1; p < e.panelcount; ++p) put(p * e.panelsize + 2, {static_cast<uint8_t>(p), 0xA5});
    put(static_cast<uint32_t>(size / 2), {0x00, 0x11, 0x22});
    put(static_cast<uint32_t>(size - 8), {0xC3, 0x3C, 0x5A, 0xA5, 0x0F, 0xF0, 0x01, 0x80});
    const std::vector<uint8_t> config{0xFF, 0x22, 0x0E, 0x0E, 0xFF, 0x81, 0x0F, 0xC0, 0x0F, 0xE0, 0x0F, 0x40, 0xFF, 0xFF};
    hex += hexrecord(0, 4, {0x00, 0x30}) + hexrecord(0, 0, config) + hexrecord(0, 1, {});
    std::ofstream(at.dir / "small.hex", std::ios::binary) << hex;

    outcome run = runtool({(bindir / "flashwren").string(), "small.hex"}, at.dir, at.bench);
    SCOPED_TRACE(run.out);
    ASSERT_EQ(run.exitcode, 0);
    EXPECT_NE(run.out.find("\ndevice found: id=0x" + e.section + " revision=0x04\n"), std::string::npos);
    EXPECT_NE(run.out.find("\ntarget device detected is a " + e.name + "\n"), std::string::npos);
    EXPECT_EQ(run.out.find("USB Operation Failed"), std::string::npos);

    outcome exported = runtool({(bindir / "simbench").string(), "export", at.bench.string(), (at.dir / "chip.hex").string()},
                               at.dir, at.bench);
    ASSERT_EQ(exported.exitcode, 0) << exported.out;
    std::vector<uint8_t> chip = imageof(readfile(at.dir / "chip.hex"), size);
    EXPECT_TRUE(chip == expected) << "first difference " << firstdifference(expected, chip);
    outcome show = runtool({(bindir / "simbench").string(), "show", at.bench.string()}, at.dir, at.bench);
    EXPECT_EQ(configline(show), configtext(config));
}

INSTANTIATE_TEST_SUITE_P(table, shippedpart, testing::ValuesIn(shippedentries()),
                         [](const testing::TestParamInfo<shippedentry> &info) { return info.param.name; });

// ---- toolchain output on benches of its parts

std::vector<std::string> generatedfiles() {
    std::vector<std::string> names;
    if (!fs::exists(PICWREN_GENERATED)) return names;
    for (const auto &f : fs::directory_iterator(PICWREN_GENERATED))
        if (f.path().extension() == ".hex" && f.path().filename().string().rfind("pic18f", 0) == 0)
            names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class toolchainfile : public testing::TestWithParam<std::string> {};

TEST_P(toolchainfile, programsthechipassreccatreadsit) {
    const std::string srec = sreccat();
    if (srec.empty()) GTEST_SKIP() << "srec_cat (Debian srecord) is not installed";
    const fs::path file = fs::path(PICWREN_GENERATED) / GetParam();
    // pic18f452-config.hex: the part is the name up to the dash.
    std::string part = GetParam().substr(0, GetParam().find('-'));
    std::transform(part.begin(), part.end(), part.begin(), [](unsigned char c) { return std::toupper(c); });

    devicetable::inifile table = devicetable::openinifile(PICWREN_SHIPPED_TABLE);
    std::string section;
    for (const devicetable::iniline &line : table.lines)
        if (line.key == "name" && line.value == part) section = line.section;
    ASSERT_FALSE(section.empty()) << part << " is not in the shipped table";
    const size_t size = static_cast<size_t>(devicetable::readinteger(table, section, "panelsize", 0)) *
                        devicetable::readinteger(table, section, "panelcount", 0);

    scratch at;
    outcome init = runtool({(bindir / "simbench").string(), "init", at.bench.string(), part}, at.dir, at.bench);
    ASSERT_EQ(init.exitcode, 0) << init.out;
    outcome run = runtool({(bindir / "flashwren").string(), file.string()}, at.dir, at.bench);
    SCOPED_TRACE(run.out);
    ASSERT_EQ(run.exitcode, 0);
    EXPECT_NE(run.out.find("\ntarget device detected is a " + part + "\n"), std::string::npos);

    // Program memory as srec_cat reads the file, cut to the chip and filled
    // with the erased state.
    const std::string end = std::to_string(size);
    outcome want = runtool({srec, file.string(), "-intel", "-crop", "0", end, "-fill", "0xFF", "0", end, "-o",
                            (at.dir / "want.bin").string(), "-binary"},
                           at.dir, at.bench);
    ASSERT_EQ(want.exitcode, 0) << want.out;
    outcome exported = runtool({(bindir / "simbench").string(), "export", at.bench.string(), (at.dir / "chip.hex").string()},
                               at.dir, at.bench);
    ASSERT_EQ(exported.exitcode, 0) << exported.out;
    const std::string wantbytes = readfile(at.dir / "want.bin");
    const std::vector<uint8_t> expected(wantbytes.begin(), wantbytes.end());
    const std::vector<uint8_t> chip = imageof(readfile(at.dir / "chip.hex"), size);
    EXPECT_TRUE(chip == expected) << "first difference " << firstdifference(expected, chip);

    // The configuration bytes the file gives; those it leaves out stay 0xFF.
    outcome config = runtool({srec, file.string(), "-intel", "-crop", "0x300000", "0x30000E", "-offset", "-0x300000",
                              "-fill", "0xFF", "0", "14", "-o", (at.dir / "config.bin").string(), "-binary"},
                             at.dir, at.bench);
    ASSERT_EQ(config.exitcode, 0) << config.out;
    const std::string configbytes = readfile(at.dir / "config.bin");
    outcome show = runtool({(bindir / "simbench").string(), "show", at.bench.string()}, at.dir, at.bench);
    EXPECT_EQ(configline(show), configtext(std::vector<uint8_t>(configbytes.begin(), configbytes.end())));
}

INSTANTIATE_TEST_SUITE_P(gputils, toolchainfile, testing::ValuesIn(generatedfiles()),
                         [](const testing::TestParamInfo<std::string> &info) {
                             std::string s = info.param.substr(0, info.param.size() - 4);
                             for (char &c : s)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return s;
                         });

// Without gputils there is nothing to program: say so rather than pass; with
// it, the build must have made the files.
TEST(toolchainfiles, weremade) {
    if (!fs::exists("/usr/bin/gpasm")) GTEST_SKIP() << "gputils is not installed";
    EXPECT_FALSE(generatedfiles().empty()) << "no gputils-made HEX files in " << PICWREN_GENERATED;
}

}  // namespace
