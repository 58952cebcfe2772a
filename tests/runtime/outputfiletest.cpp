#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "outputfile.h"
#include "runerror.h"

namespace {

namespace fs = std::filesystem;

struct scratchdir {
    fs::path path;
    scratchdir() {
        char name[] = "/tmp/outputfileXXXXXX";
        path = mkdtemp(name);
    }
    ~scratchdir() { fs::remove_all(path); }
};

std::string createerror(const std::string &name) {
    try {
        int fd = outputfile::createoutputfile(name);
        outputfile::closeoutputfile(fd);
    } catch (const runerror::runfailure &e) {
        return e.kind + ": " + e.what();
    }
    return "created";
}

// The names that cannot be created, each refused with the name as given and
// nothing made or cut on the way.
TEST(createoutputfile, namesthatcannotbecreated) {
    scratchdir dir;
    const std::string held = (dir.path / "held.hex").string();
    std::ofstream(held) << "kept";
    int holder = open(held.c_str(), O_RDWR);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    const std::string withzero = (dir.path / "du").string() + std::string(1, '\0') + "mp.hex";
    for (const std::string &name : {dir.path.string(), (dir.path / "missing/dump.hex").string(),
                                    std::string(""), held, (dir.path / std::string(5000, 'n')).string()}) {
        SCOPED_TRACE(name.size() > 80 ? name.substr(0, 80) + "..." : name);
        EXPECT_EQ(createerror(name), "EFCreateError: Cannot create file " + name);
    }
    // A zero byte shows as \0 in the message, which would otherwise end there.
    EXPECT_EQ(createerror(withzero), "EFCreateError: Cannot create file " + (dir.path / "du").string() + "\\0mp.hex");
    close(holder);
    EXPECT_FALSE(fs::exists(dir.path / "du"));
    std::ifstream in(held);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "kept");
}

TEST(createoutputfile, anexistingfileiscuttolengthzero) {
    scratchdir dir;
    const std::string name = (dir.path / "dump.hex").string();
    std::ofstream(name) << "old content";
    EXPECT_EQ(createerror(name), "created");
    EXPECT_EQ(fs::file_size(name), 0u);
}

}  // namespace
