// Runs the end-to-end cases under cases/<program>/<name>/: each is data (bench
// setup, input, expected output), see README.md beside this file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "benchrun.h"

namespace fs = std::filesystem;

namespace {

constexpr int timeoutseconds = 60;

using benchrun::readfile;

bool readfileif(const fs::path &p, std::string &out) {
    if (!fs::exists(p)) return false;
    out = readfile(p);
    return true;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

struct caseplaces {
    fs::path work, bench;
    fs::path bin = E2E_BIN_DIR;  // where the programs are run from
};

std::string substitute(std::string s, const caseplaces &at) {
    const std::pair<std::string, std::string> table[] = {
        {"$BENCH", at.bench.string()},
        {"$WORK", at.work.string()},
        {"$INPUTS", E2E_INPUTS_DIR},
        {"$GENERATED", E2E_GENERATED_DIR},
        {"$BIN", E2E_BIN_DIR},
    };
    for (const auto &[from, to] : table) {
        for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
            s.replace(pos, from.size(), to);
    }
    return s;
}

// Shows where two byte strings part, with control characters made visible.
std::string visible(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\n') out += "\\n\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out;
}

std::string difference(const std::string &expected, const std::string &actual) {
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
    size_t from = i > 120 ? i - 120 : 0;
    std::ostringstream out;
    out << "first difference at byte " << i << " (expected " << expected.size() << " bytes, got "
        << actual.size() << ")\n--- expected from byte " << from << ":\n"
        << visible(expected.substr(from, 400)) << "\n--- actual from byte " << from << ":\n"
        << visible(actual.substr(from, 400));
    return out.str();
}

using benchrun::outcome;

// Runs one built program with its arguments in `dir`, standard input from
// `inputfile` (or nothing), and the bench in the environment.
outcome runprogram(const std::vector<std::string> &argv, const fs::path &dir, const fs::path &inputfile,
                   const caseplaces &at) {
    benchrun::runspec r;
    r.argv = argv;
    r.dir = dir;
    r.inputfile = inputfile.empty() ? fs::path("/dev/null") : inputfile;
    r.bench = at.bench;
    r.bin = at.bin;
    r.seconds = timeoutseconds;
    std::string path = at.bin.string() + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    r.env.emplace_back("PATH", path);
    return benchrun::run(r);
}

std::string describe(const std::vector<std::string> &argv, const outcome &o) {
    std::string s;
    for (const auto &a : argv) s += a + " ";
    return s + "→ exit " + std::to_string(o.exitcode) + (o.timedout ? " (timed out)" : "") + "\nstdout:\n" +
           o.out + "\nstderr:\n" + o.err;
}

// Runs every command of a setup or check file; returns their outputs joined.
std::string runcommands(const std::string &file, const caseplaces &at, const char *what) {
    std::string joined;
    for (const auto &line : lines(file)) {
        auto argv = words(substitute(line, at));
        outcome o = runprogram(argv, at.work, {}, at);
        EXPECT_EQ(o.exitcode, 0) << what << " command failed: " << describe(argv, o);
        joined += o.out;
    }
    return joined;
}

std::vector<std::string> findcases() {
    std::vector<std::string> names;
    fs::path root(E2E_CASES_DIR);
    if (!fs::exists(root)) return names;
    for (const auto &program : fs::directory_iterator(root)) {
        if (!program.is_directory()) continue;
        for (const auto &c : fs::directory_iterator(program.path()))
            if (c.is_directory() && fs::exists(c.path() / "command"))
                names.push_back(program.path().filename().string() + "/" + c.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

fs::path maketemp(const char *tag) {
    std::string pattern = (fs::temp_directory_path() / (std::string("e2e-") + tag + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

class e2e : public testing::TestWithParam<std::string> {};

TEST_P(e2e, run) {
    const fs::path casedir = fs::path(E2E_CASES_DIR) / GetParam();
    caseplaces at{maketemp("work"), maketemp("bench")};
    ASSERT_FALSE(at.work.empty());
    ASSERT_FALSE(at.bench.empty());
    fs::copy(casedir, at.work, fs::copy_options::recursive | fs::copy_options::overwrite_existing);

    // A case with its own device table runs private copies of the programs,
    // since the table is read from beside the program's real file.
    if (fs::exists(casedir / "picspecs.ini")) {
        at.bin = at.work / ".bin";
        fs::create_directory(at.bin);
        for (const auto &f : fs::directory_iterator(E2E_BIN_DIR))
            if (f.is_regular_file() && f.path().filename() != "picspecs.ini")
                fs::copy(f.path(), at.bin / f.path().filename());
        fs::copy(casedir / "picspecs.ini", at.bin / "picspecs.ini");
    }

    std::string text;
    if (readfileif(casedir / "setup", text)) runcommands(text, at, "setup");
    ASSERT_FALSE(HasFailure()) << "setup failed";

    auto argv = words(substitute(readfile(casedir / "command"), at));
    ASSERT_FALSE(argv.empty()) << "empty command";
    fs::path input = fs::exists(casedir / "stdin") ? at.work / "stdin" : fs::path{};
    outcome o = runprogram(argv, at.work, input, at);
    SCOPED_TRACE(describe(argv, o));
    EXPECT_FALSE(o.timedout);

    int expectedexit = 0;
    if (readfileif(casedir / "exitcode", text)) expectedexit = std::stoi(text);
    EXPECT_EQ(o.exitcode, expectedexit);

    std::string expected = readfile(casedir / "stdout");
    EXPECT_TRUE(o.out == expected) << "stdout: " << difference(expected, o.out);
    expected.clear();
    readfileif(casedir / "stderr", expected);
    EXPECT_TRUE(o.err == expected) << "stderr: " << difference(expected, o.err);

    if (readfileif(casedir / "check", text)) {
        std::string got = runcommands(text, at, "check");
        expected = readfile(casedir / "check.out");
        EXPECT_TRUE(got == expected) << "check output: " << difference(expected, got);
    }
    if (fs::exists(casedir / "memory.hex")) {
        fs::path exported = at.bench / "e2e-export.hex";
        runcommands("simbench export " + at.bench.string() + " " + exported.string(), at, "export");
        expected = readfile(casedir / "memory.hex");
        std::string got = readfile(exported);
        EXPECT_TRUE(got == expected) << "chip memory: " << difference(expected, got);
    }
    if (readfileif(casedir / "files", text)) {
        for (const auto &line : lines(text)) {
            auto w = words(substitute(line, at));
            ASSERT_EQ(w.size(), 2u) << "bad files line: " << line;
            fs::path actual = at.work / w[0];
            if (w[1] == "-") {
                EXPECT_FALSE(fs::exists(actual)) << w[0] << " should not exist";
                continue;
            }
            fs::path want = fs::path(w[1]).is_absolute() ? fs::path(w[1]) : at.work / w[1];
            ASSERT_TRUE(fs::exists(actual)) << w[0] << " was not written";
            expected = readfile(want);
            std::string got = readfile(actual);
            EXPECT_TRUE(got == expected) << "file " << w[0] << ": " << difference(expected, got);
        }
    }
    if (!HasFailure()) {
        std::error_code ec;
        fs::remove_all(at.work, ec);
        fs::remove_all(at.bench, ec);
    } else {
        std::cerr << "kept for inspection: " << at.work << " and " << at.bench << "\n";
    }
}

std::string casename(const testing::TestParamInfo<std::string> &info) {
    std::string s = info.param;
    for (char &c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(cases, e2e, testing::ValuesIn(findcases()), casename);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(e2e);

}  // namespace
