// The simbench tool, run as a program: its command line is what the
// end-to-end cases rely on.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct result {
    int status = -1;
    std::string out;
};

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class simbench : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        char templ[] = "/tmp/simbenchXXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // Runs simbench with the arguments (a shell word list); standard output only.
    result tool(const std::string &args) {
        result r;
        const std::string command = std::string(SIMBENCH) + " " + args + " 2>" + dir + "/stderr";
        FILE *p = popen(command.c_str(), "r");
        if (!p) return r;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }
    std::string bench() { return dir + "/bench"; }
    std::string errors() { return slurp(dir + "/stderr"); }
    void writefile(const std::string &name, const std::string &text) { std::ofstream(dir + "/" + name) << text; }
};

const char *fresh452 =
    "programmer 0\n"
    "firmware 00.00.02 lastbreak 00.00.01\n"
    "part PIC18F452\n"
    "deviceid 0420 revision 04\n"
    "programmemory 32768 panels 4x8192 writebuffer 8 erase old\n"
    "vpp off\n"
    "config FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
    "idlocations FF FF FF FF FF FF FF FF\n"
    "data none\n";

TEST_F(simbench, initbynameoridandshow) {
    for (const char *part : {"PIC18F452", "pic18f452", "18F452", "0420", "0x0420"}) {
        result r = tool("init " + bench() + " " + part);
        ASSERT_EQ(r.status, 0) << part << errors();
        EXPECT_EQ(tool("show " + bench()).out, fresh452) << part;
    }
    result r = tool("init " + bench() + " PIC18F9999");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(errors().find("unknown part PIC18F9999"), std::string::npos);
}

TEST_F(simbench, initreplacesanexistingbench) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    writefile("one.hex", ":0400100001020304E2\n:00000001FF\n");
    ASSERT_EQ(tool("load " + bench() + " " + dir + "/one.hex").status, 0) << errors();
    ASSERT_EQ(tool("set " + bench() + " firmware=00.00.01").status, 0);
    std::ofstream(bench() + "/trace.txt") << "0 1 out 50 00\n";
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    EXPECT_EQ(tool("show " + bench()).out, fresh452);
    EXPECT_EQ(slurp(bench() + "/trace.txt"), "");
}

TEST_F(simbench, loadshowandexport) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    writefile("prog.hex",
              ":0400100001020304E2\n"
              ":020000040020DA\n:0200000011AA43\n"
              ":020000040030CA\n:0E0000000027FE0F00018500FFC00FE00F403B\n"
              ":00000001FF\n");
    ASSERT_EQ(tool("load " + bench() + " " + dir + "/prog.hex").status, 0) << errors();
    result r = tool("show " + bench());
    EXPECT_NE(r.out.find("config 00 27 FE 0F 00 01 85 00 FF C0 0F E0 0F 40\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("idlocations 11 AA FF FF FF FF FF FF\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("data 000010-00001F\n"), std::string::npos) << r.out;

    ASSERT_EQ(tool("export " + bench() + " " + dir + "/out.hex").status, 0) << errors();
    const std::string hex = slurp(dir + "/out.hex");
    EXPECT_EQ(hex.size(), 92190u);  // as benchdial's dump of 32 KB
    EXPECT_EQ(hex.substr(0, 17), ":020000040000FA\r\n");
    EXPECT_EQ(hex.substr(17 + 45, 45), ":1000100001020304FFFFFFFFFFFFFFFFFFFFFFFFE2\r\n");
    EXPECT_EQ(hex.substr(17, 45), ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n");
    EXPECT_EQ(hex.substr(hex.size() - 13), ":00000001FF\r\n");

    // Nothing outside the chip's memory is taken, and nothing of such a file.
    writefile("outside.hex", ":0400100009090909C8\n:02800000AAAA2A\n:00000001FF\n");
    r = tool("load " + bench() + " " + dir + "/outside.hex");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(errors().find("address 008000"), std::string::npos) << errors();
    EXPECT_NE(tool("show " + bench()).out.find("data 000010-00001F\n"), std::string::npos);
    writefile("bad.hex", ":0400100001020304E3\n");
    EXPECT_EQ(tool("load " + bench() + " " + dir + "/bad.hex").status, 1);
    EXPECT_NE(errors().find("checksum"), std::string::npos);

    ASSERT_EQ(tool("erase " + bench()).status, 0);
    EXPECT_EQ(tool("show " + bench()).out, fresh452);
}

// The test pattern loaded into a 32 KB part comes back out byte for byte:
// the export has the form of the pattern file and of the console's dump.
TEST_F(simbench, exportofaloadedpatternequalsthefile) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F2520").status, 0);
    ASSERT_EQ(std::system(("cd " + dir + " && " + GRIDSEED).c_str()), 0);
    ASSERT_EQ(tool("load " + bench() + " " + dir + "/testpattern.hex").status, 0) << errors();
    ASSERT_EQ(tool("export " + bench() + " " + dir + "/back.hex").status, 0) << errors();
    const std::string pattern = slurp(dir + "/testpattern.hex");
    ASSERT_EQ(pattern.size(), 92190u);
    EXPECT_TRUE(slurp(dir + "/back.hex") == pattern);
    EXPECT_EQ(tool("export " + bench() + " " + dir + "/nodir/x.hex").status, 1);
    EXPECT_NE(errors().find("Cannot create file"), std::string::npos) << errors();
}

TEST_F(simbench, exportcoverstheprogrammemoryofthepart) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F1220").status, 0);
    ASSERT_EQ(tool("export " + bench() + " " + dir + "/small.hex").status, 0);
    EXPECT_EQ(slurp(dir + "/small.hex").size(), 17u + 256 * 45 + 13);
}

TEST_F(simbench, setkeysarecheckedandwritten) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    ASSERT_EQ(tool("set " + bench() + " firmware=00.00.03 lastbreak=00.00.02 count=2 revision=1F").status, 0);
    result r = tool("show " + bench());
    EXPECT_NE(r.out.find("firmware 00.00.03 lastbreak 00.00.02\n"), std::string::npos);
    EXPECT_NE(r.out.find("deviceid 0420 revision 1F\n"), std::string::npos);
    const std::string ini = slurp(bench() + "/bench.ini");
    EXPECT_NE(ini.find("count = 2"), std::string::npos);
    // A bad value leaves the file as it was.
    for (const char *bad : {"firmware=1.2", "revision=20", "count=x", "nosuchkey=1", "erase=middle"}) {
        EXPECT_EQ(tool("set " + bench() + " " + bad).status, 1) << bad;
        EXPECT_EQ(slurp(bench() + "/bench.ini"), ini) << bad;
    }
    EXPECT_EQ(tool("set " + bench() + " novalue").status, 2);
    // Another programmer, by -i or by section.
    ASSERT_EQ(tool("set " + bench() + " -i 3 part=none outpipe=0").status, 0) << errors();
    ASSERT_EQ(tool("set " + bench() + " programmer5.part=0C80").status, 0) << errors();
    r = tool("show " + bench() + " -i 5");
    EXPECT_NE(r.out.find("part PIC18F2620\n"), std::string::npos) << r.out;
    r = tool("show " + bench());
    EXPECT_NE(r.out.find("programmer 3\nfirmware 00.00.02 lastbreak 00.00.01\npart none\nvpp off\n"),
              std::string::npos)
        << r.out;
}

TEST_F(simbench, changingthetargetgivesafreshchip) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    writefile("one.hex", ":0400100001020304E2\n:00000001FF\n");
    ASSERT_EQ(tool("load " + bench() + " " + dir + "/one.hex").status, 0);
    ASSERT_EQ(tool("set " + bench() + " part=PIC18F2520").status, 0);
    result r = tool("show " + bench());
    EXPECT_NE(r.out.find("programmemory 32768 panels 1x32768 writebuffer 32 erase new\n"), std::string::npos);
    EXPECT_NE(r.out.find("data none\n"), std::string::npos);
    ASSERT_EQ(tool("set " + bench() + " part= deviceid=1200 name=custom flashsize=0x1000 writebuffer=16 erase=old")
                  .status,
              0)
        << errors();
    r = tool("show " + bench());
    EXPECT_NE(r.out.find("part custom\ndeviceid 1200 revision 04\n"
                         "programmemory 4096 panels 1x4096 writebuffer 16 erase old\n"),
              std::string::npos)
        << r.out;
}

TEST_F(simbench, faultsandvpp) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    ASSERT_EQ(tool("fault " + bench() + " 3 writefail").status, 0);
    ASSERT_EQ(tool("fault " + bench() + " 40 readfail 5").status, 0);
    ASSERT_EQ(tool("fault " + bench() + " 41 gone").status, 0);
    EXPECT_NE(slurp(bench() + "/bench.ini").find("faults = 3:writefail:5, 40:readfail:5, 41:gone"), std::string::npos);
    EXPECT_EQ(tool("fault " + bench() + " 0 short").status, 1);
    EXPECT_EQ(tool("fault " + bench() + " 4 sideways").status, 1);
    EXPECT_EQ(tool("fault " + bench() + " 4 short 5").status, 1);
    EXPECT_EQ(tool("fault " + bench() + " -i 7 4 short").status, 1);
    ASSERT_EQ(tool("fault " + bench() + " clear").status, 0);
    EXPECT_EQ(slurp(bench() + "/bench.ini").find("faults"), std::string::npos);

    ASSERT_EQ(tool("vpp " + bench() + " on").status, 0);
    EXPECT_NE(tool("show " + bench()).out.find("vpp on\n"), std::string::npos);
    ASSERT_EQ(tool("vpp " + bench() + " off").status, 0);
    EXPECT_NE(tool("show " + bench()).out.find("vpp off\n"), std::string::npos);
    EXPECT_EQ(tool("vpp " + bench() + " up").status, 2);
}

TEST_F(simbench, traceprintsandclears) {
    ASSERT_EQ(tool("init " + bench() + " PIC18F452").status, 0);
    std::ofstream(bench() + "/trace.txt") << "0 1 out 50 00\n0 1 in 00 00 01 00 00 02 00 00\n";
    EXPECT_EQ(tool("trace " + bench()).out, "0 1 out 50 00\n0 1 in 00 00 01 00 00 02 00 00\n");
    ASSERT_EQ(tool("trace " + bench() + " --clear").status, 0);
    EXPECT_EQ(tool("trace " + bench()).out, "");
}

TEST_F(simbench, helpandusage) {
    result r = tool("--help");
    EXPECT_EQ(r.status, 0);
    for (const char *word : {"init DIR PART", "set DIR", "fault DIR", "load DIR", "show DIR", "export DIR",
                             "trace DIR", "faults = "})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_EQ(tool("").status, 2);
    EXPECT_EQ(tool("frobnicate " + bench()).status, 2);
    EXPECT_EQ(tool("show " + dir + "/nobench").status, 1);
}

}  // namespace
