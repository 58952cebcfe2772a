// The virtual bench through the five functions of libmpusbapi.so, with
// MPUSBAPI_SIM naming a fresh bench directory for each test.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mpusbapi.h"
#include "scriptbuild.h"

namespace {

using bytes = std::vector<uint8_t>;
constexpr const char *selector = "vid_04d8&pid_000c";
constexpr const char *endpoint = "\\MCHP_EP1";

struct exchange {
    uint32_t wrote = 0, read = 0;
    int writeerrno = 0, readerrno = 0;
    uint32_t received = 0;
    bytes reply;
};

class library : public ::testing::Test {
  protected:
    std::string dir;
    int32_t out = -1, in = -1;

    void SetUp() override {
        char templ[] = "/tmp/simlibXXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        setenv("MPUSBAPI_SIM", dir.c_str(), 1);
    }
    void TearDown() override {
        closepipes();
        std::filesystem::remove_all(dir);
    }
    void writebench(const std::string &ini) { std::ofstream(dir + "/bench.ini") << ini; }
    void onepart(const std::string &extra = "") {
        writebench("[programmer0]\npart = PIC18F452\nrevision = 05\n" + extra);
    }
    void openpipes(uint32_t instance = 0) {
        out = _MPUSBOpen(instance, selector, endpoint, 0, 0);
        in = _MPUSBOpen(instance, selector, endpoint, 1, 0);
        ASSERT_NE(out, -1);
        ASSERT_NE(in, -1);
    }
    void closepipes() {
        _MPUSBClose(out);
        _MPUSBClose(in);
        out = in = -1;
    }
    exchange send(const bytes &packet, uint32_t replylength) {
        exchange e;
        uint32_t written = 0;
        errno = 0;
        e.wrote = _MPUSBWrite(out, packet.data(), static_cast<uint32_t>(packet.size()), &written, 1000);
        e.writeerrno = errno;
        if (!e.wrote) return e;
        uint8_t buffer[65];
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        e.received = 77;  // a failed read leaves it as it was
        errno = 0;
        e.read = _MPUSBRead(in, buffer, replylength, &e.received, 1000);
        e.readerrno = errno;
        e.reply.assign(buffer, buffer + std::min<uint32_t>(e.received, replylength) + (e.received > replylength));
        return e;
    }
    exchange send(const scriptbuild::packet &p) { return send(p.bytes, static_cast<uint32_t>(p.replylength())); }
    std::string trace() {
        std::ifstream f(dir + "/trace.txt");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    bytes readmem(uint32_t address, int count) {
        exchange e = send(scriptbuild::readblock(address, count));
        EXPECT_EQ(e.read, 1u);
        return bytes(e.reply.begin() + 1, e.reply.end());
    }
};

TEST_F(library, countprobeandopen) {
    writebench(
        "[bench]\ncount = 2\n"
        "[programmer0]\npart = PIC18F452\n"
        "[programmer3]\npart = none\noutpipe = 0\n"
        "[programmer5]\npresent = 0\n");
    // The handles a run sees: probe 0 (closed), then OUT 1 and IN 2.
    int32_t probe = _MPUSBOpen(0, selector, nullptr, 1, 0);
    EXPECT_EQ(probe, 0);
    _MPUSBClose(probe);
    openpipes(0);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(in, 2);
    closepipes();
    EXPECT_EQ(_MPUSBGetDeviceCount(selector), 2u);
    EXPECT_EQ(_MPUSBGetDeviceCount("VID_04D8&PID_000C"), 2u);
    EXPECT_EQ(_MPUSBGetDeviceCount("vid_04d8&pid_000b"), 0u);
    EXPECT_EQ(_MPUSBOpen(0, "vid_1234&pid_000c", nullptr, 1, 0), -1);
    for (uint32_t i : {1u, 2u, 4u, 5u, 126u}) EXPECT_EQ(_MPUSBOpen(i, selector, nullptr, 1, 0), -1) << i;
    // Numbers are not given out twice.
    probe = _MPUSBOpen(3, selector, nullptr, 1, 0);
    EXPECT_EQ(probe, 3);
    _MPUSBClose(probe);
    EXPECT_EQ(_MPUSBClose(probe), 0u);
    // Programmer 3's OUT pipe cannot be opened; its IN pipe can.
    EXPECT_EQ(_MPUSBOpen(3, selector, endpoint, 0, 0), -1);
    int32_t in3 = _MPUSBOpen(3, selector, endpoint, 1, 0);
    EXPECT_EQ(in3, 4);
    EXPECT_EQ(_MPUSBOpen(3, selector, "\\MCHP_EP2", 1, 0), -1);
    EXPECT_EQ(_MPUSBOpen(3, selector, endpoint, 2, 0), -1);
    _MPUSBClose(in3);
}

TEST_F(library, withoutbenchnothingisattached) {
    setenv("MPUSBAPI_SIM", (dir + "/missing").c_str(), 1);
    EXPECT_EQ(_MPUSBGetDeviceCount(selector), 0u);
    EXPECT_EQ(_MPUSBOpen(0, selector, nullptr, 1, 0), -1);
}

TEST_F(library, everypacketkindwithitsexactreply) {
    onepart("firmware = 00.01.02\nlastbreak = 00.00.01\ncommstext = 8bytes!!\n");
    openpipes();
    exchange e = send({0x50, 0x00}, 8);
    ASSERT_EQ(e.read, 1u);
    EXPECT_EQ(e.received, 8u);
    EXPECT_EQ(e.reply, (bytes{0x00, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00}));
    e = send({0x52, 0x00}, 8);
    EXPECT_EQ(e.reply, (bytes{'8', 'b', 'y', 't', 'e', 's', '!', '!'}));
    e = send(scriptbuild::vpp(true), 1);
    EXPECT_EQ(e.received, 1u);
    EXPECT_EQ(readmem(0x3FFFFE, 2), (bytes{0x25, 0x04}));
    EXPECT_EQ(send(scriptbuild::oldstyleerase()).received, 1u);
    bytes data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(send(scriptbuild::panelwrite(false, 0x58, 0x40, data)).received, 1u);
    EXPECT_EQ(send(scriptbuild::configwrite(bytes(14, 0x0F))).received, 1u);
    EXPECT_EQ(readmem(0x40, 8), bytes(data.begin(), data.begin() + 8));
    EXPECT_EQ(readmem(0x6040, 8), bytes(data.begin() + 24, data.end()));
    exchange more = send(scriptbuild::readmore(62));
    EXPECT_EQ(more.received, 63u);
    EXPECT_EQ(readmem(0x300000, 14), bytes(14, 0x0F));
    EXPECT_EQ(send(scriptbuild::vpp(false), 1).received, 1u);
    EXPECT_EQ(readmem(0x40, 2), (bytes{0, 0}));
}

TEST_F(library, thetraceshowseverypacketandreply) {
    onepart();
    openpipes();
    send({0x50, 0x00}, 8);
    send({0x51, 0x00}, 1);
    send(scriptbuild::readblock(0x3FFFFE, 2));
    send({0x51, 0x07}, 1);
    // The bench had no chip file yet: the library made an erased chip.
    EXPECT_EQ(trace(),
              "0 0 note chip memory file made afresh: an erased chip\n"
              "0 1 out 50 00\n"
              "0 1 in 00 00 01 00 00 02 00 00\n"
              "0 2 out 51 00\n"
              "0 2 in 01\n"
              "0 3 out 53 08 00 3F 0E 00 F8 6E 00 FF 0E 00 F7 6E 00 FE 0E 00 F6 6E 19 19\n"
              "0 3 in 00 25 04\n"
              "0 4 out 51 07\n"
              "0 4 violation Vpp argument 07, not 00 (on) or 01 (off)\n");
}

// Violations through the library: the write succeeds, the read fails with
// errno 110 at once, and the trace says why.
TEST_F(library, violationsfailthereadwithtimeout) {
    onepart();
    openpipes();
    struct row {
        bytes packet;
        uint32_t readlength;
        const char *says;
    } rows[] = {
        {bytes(65, 0x19), 64, "longer than 64"},
        {{0x53, 0x02, 0x19}, 3, "ends after 1 steps"},
        {{0x53, 0x01, 0x77}, 1, "needs 131 operand bytes"},
        {{0x53, 0x01, 0x00, 0xA6, 0x84}, 1, "instruction 84A6"},
        {{0x53, 0x02, 0x19, 0x19}, 2, "read of 2 bytes for a reply of 3"},
        {{0x53, 0x01, 0x19}, 3, "read of 3 bytes for a reply of 2"},
    };
    for (const row &r : rows) {
        exchange e = send(r.packet, r.readlength);
        EXPECT_EQ(e.wrote, 1u);
        EXPECT_EQ(e.read, 0u);
        EXPECT_EQ(e.readerrno, ETIMEDOUT);
        EXPECT_EQ(e.received, 77u);
        EXPECT_NE(trace().find(r.says), std::string::npos) << r.says;
    }
    // A read with no packet before it.
    uint8_t buffer[8];
    uint32_t received = 9;
    errno = 0;
    EXPECT_EQ(_MPUSBRead(in, buffer, 1, &received, 1000), 0u);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(received, 9u);
    EXPECT_NE(trace().find("read with no reply on its way"), std::string::npos);
    // The bench answers the next proper packet as usual.
    EXPECT_EQ(send({0x50, 0x00}, 8).read, 1u);
}

TEST_F(library, readsandwritesonawronghandlefail) {
    onepart();
    openpipes();
    uint8_t packet[2] = {0x50, 0x00}, buffer[8];
    uint32_t n = 0;
    errno = 0;
    EXPECT_EQ(_MPUSBWrite(in, packet, 2, &n, 1000), 0u);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(_MPUSBWrite(-1, packet, 2, &n, 1000), 0u);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(_MPUSBWrite(7, packet, 2, &n, 1000), 0u);
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(_MPUSBRead(out, buffer, 8, &n, 1000), 0u);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(_MPUSBClose(-1), 0u);
}

// Each fault kind, seen through the five functions.
TEST_F(library, faultsbyordinal) {
    onepart("faults = 2:writefail:32, 3:readfail, 4:readfail:5, 5:short, 6:long, 8:gone\n");
    openpipes();
    const bytes version{0x50, 0x00};
    exchange e = send(version, 8);  // 1: as usual
    EXPECT_EQ(e.read, 1u);
    e = send(version, 8);  // 2: the write fails
    EXPECT_EQ(e.wrote, 0u);
    EXPECT_EQ(e.writeerrno, 32);
    e = send(version, 8);  // 3: the read fails with 110
    EXPECT_EQ(e.wrote, 1u);
    EXPECT_EQ(e.read, 0u);
    EXPECT_EQ(e.readerrno, ETIMEDOUT);
    e = send(version, 8);  // 4: the read fails with 5
    EXPECT_EQ(e.read, 0u);
    EXPECT_EQ(e.readerrno, 5);
    e = send(version, 8);  // 5: one byte short
    EXPECT_EQ(e.read, 1u);
    EXPECT_EQ(e.received, 7u);
    EXPECT_EQ(e.reply, (bytes{0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00}));
    e = send(version, 8);  // 6: one byte long; only 8 bytes are copied
    EXPECT_EQ(e.read, 1u);
    EXPECT_EQ(e.received, 9u);
    EXPECT_EQ(e.reply.back(), 0xEE);
    EXPECT_EQ(send(version, 8).read, 1u);  // 7: as usual
    e = send(version, 8);                  // 8: the device is gone
    EXPECT_EQ(e.wrote, 0u);
    EXPECT_EQ(e.writeerrno, ENXIO);
    e = send(version, 8);
    EXPECT_EQ(e.wrote, 0u);
    EXPECT_EQ(e.writeerrno, ENXIO);
    uint8_t buffer[8];
    uint32_t n = 0;
    errno = 0;
    EXPECT_EQ(_MPUSBRead(in, buffer, 8, &n, 1000), 0u);
    EXPECT_EQ(errno, ENXIO);
    closepipes();
    EXPECT_EQ(_MPUSBGetDeviceCount(selector), 0u);
    EXPECT_EQ(_MPUSBOpen(0, selector, nullptr, 1, 0), -1);
    const std::string t = trace();
    for (const char *line : {"0 2 fault write fails, errno 32", "0 3 fault read fails, errno 110",
                             "0 4 fault read fails, errno 5", "0 5 fault reply one byte short",
                             "0 5 in 00 00 01 00 00 02 00\n", "0 6 fault reply one byte long",
                             "0 6 in 00 00 01 00 00 02 00 00 00\n", "0 8 fault device gone"})
        EXPECT_NE(t.find(line), std::string::npos) << line;
}

TEST_F(library, areadfaultstillcarriesoutthepacket) {
    onepart("faults = 2:readfail\n");
    openpipes();
    send(scriptbuild::vpp(true), 1);
    exchange e = send(scriptbuild::panelwrite(false, 0x50, 0x0, bytes(8, 0x12)));
    EXPECT_EQ(e.read, 0u);
    EXPECT_EQ(readmem(0, 8), bytes(8, 0x12));
}

TEST_F(library, ordinalscountfromtheopeningoftheprogrammer) {
    onepart("faults = 1:short\n");
    int32_t probe = _MPUSBOpen(0, selector, nullptr, 1, 0);
    _MPUSBClose(probe);
    openpipes();
    EXPECT_EQ(send({0x50, 0x00}, 8).received, 7u);
    EXPECT_EQ(send({0x50, 0x00}, 8).received, 8u);
    closepipes();
    openpipes();
    EXPECT_EQ(send({0x50, 0x00}, 8).received, 7u);
}

// Runs `body` in a child process that ends with _exit; returns its status.
template <typename F>
pid_t child(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    return pid;
}

TEST_F(library, asecondprocessseeswhatthefirstwrote) {
    onepart();
    pid_t pid = child([] {
        int32_t o = _MPUSBOpen(0, selector, endpoint, 0, 0), i = _MPUSBOpen(0, selector, endpoint, 1, 0);
        uint32_t n;
        uint8_t reply[1];
        bytes on = scriptbuild::vpp(true);
        bytes w = scriptbuild::panelwrite(false, 0x58, 0x100, bytes(32, 0x3C)).bytes;
        _MPUSBWrite(o, on.data(), 2, &n, 1000);
        _MPUSBRead(i, reply, 1, &n, 1000);
        _MPUSBWrite(o, w.data(), static_cast<uint32_t>(w.size()), &n, 1000);
        _MPUSBRead(i, reply, 1, &n, 1000);
        // No close: the process just ends.
    });
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    openpipes();
    // Vpp is still on, as the first process left it.
    EXPECT_EQ(readmem(0x100, 8), bytes(8, 0x3C));
    EXPECT_EQ(readmem(0x6100, 8), bytes(8, 0x3C));
}

TEST_F(library, akilledprocesslosesnothingitwastoldhadcompleted) {
    onepart();
    int confirm[2];
    ASSERT_EQ(pipe(confirm), 0);
    pid_t pid = child([&] {
        close(confirm[0]);
        int32_t o = _MPUSBOpen(0, selector, endpoint, 0, 0), i = _MPUSBOpen(0, selector, endpoint, 1, 0);
        uint32_t n;
        uint8_t reply[1];
        bytes on = scriptbuild::vpp(true);
        _MPUSBWrite(o, on.data(), 2, &n, 1000);
        _MPUSBRead(i, reply, 1, &n, 1000);
        for (uint32_t k = 0;; k = (k + 1) % 4096) {
            bytes w = scriptbuild::panelwrite(false, 0x50, k * 8, bytes(8, static_cast<uint8_t>(k))).bytes;
            _MPUSBWrite(o, w.data(), static_cast<uint32_t>(w.size()), &n, 1000);
            if (_MPUSBRead(i, reply, 1, &n, 1000) && n == 1) {
                if (write(confirm[1], &k, sizeof k) != sizeof k) _exit(1);
            }
        }
    });
    close(confirm[1]);
    uint32_t k = 0, last = 0;
    int confirmed = 0;
    while (confirmed < 300 && read(confirm[0], &k, sizeof k) == sizeof k) {
        last = k;
        ++confirmed;
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(confirm[0]);
    ASSERT_EQ(confirmed, 300);
    ASSERT_TRUE(WIFSIGNALED(status));
    openpipes();
    for (uint32_t j = 0; j <= last; ++j) ASSERT_EQ(readmem(j * 8, 8), bytes(8, static_cast<uint8_t>(j))) << j;
}

TEST_F(library, aprogrammeropeninanotherprocessisbusy) {
    onepart();
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = child([&] {
        int32_t o = _MPUSBOpen(0, selector, endpoint, 0, 0);
        char c = o == -1 ? 'n' : 'y';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        if (read(done[0], &c, 1) != 1) _exit(1);
    });
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(_MPUSBOpen(0, selector, nullptr, 1, 0), -1);
    EXPECT_EQ(_MPUSBOpen(0, selector, endpoint, 0, 0), -1);
    EXPECT_EQ(_MPUSBOpen(0, selector, endpoint, 1, 0), -1);
    ASSERT_EQ(write(done[1], &c, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
    int32_t probe = _MPUSBOpen(0, selector, nullptr, 1, 0);
    EXPECT_NE(probe, -1);
    _MPUSBClose(probe);
}

}  // namespace
