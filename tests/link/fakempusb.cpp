#include "fakempusb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include "mpusbapi.h"

namespace fakempusb {

namespace {

struct handleinfo {
    uint32_t instance;
    bool probe;
    uint32_t direction;
};

setup device;
std::deque<exchange> queue;
std::vector<call> record;
std::map<int32_t, handleinfo> open;
int32_t nexthandle = firsthandle;
bool awaitingread = false;  // the front exchange's packet was written

bool matches(const char *vidpid) {
    return vidpid != nullptr && std::strcmp(vidpid, "vid_04d8&pid_000c") == 0;
}

}  // namespace

std::string hex(const bytestring &bytes) {
    std::string text;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        if (i > 0) text += (i % 16 == 0) ? "\n" : " ";
        text += b;
    }
    return text;
}

void reset(const setup &s) {
    device = s;
    queue.clear();
    record.clear();
    open.clear();
    nexthandle = firsthandle;
    awaitingread = false;
}

void expect(const exchange &e) { queue.push_back(e); }
const std::vector<call> &calls() { return record; }
size_t pending() { return queue.size(); }

std::vector<call> callsof(callkind kind) {
    std::vector<call> some;
    std::copy_if(record.begin(), record.end(), std::back_inserter(some),
                 [kind](const call &c) { return c.kind == kind; });
    return some;
}

std::pair<int32_t, int32_t> openpipes() {
    const int32_t out = nexthandle++;
    const int32_t in = nexthandle++;
    open[out] = {0, false, 0};
    open[in] = {0, false, 1};
    return {out, in};
}

}  // namespace fakempusb

using namespace fakempusb;

extern "C" {

uint32_t _MPUSBGetDeviceCount(const char *vidpid) {
    call c;
    c.kind = callkind::getdevicecount;
    c.selector = vidpid ? vidpid : "";
    record.push_back(c);
    return matches(vidpid) ? device.devicecount : 0;
}

int32_t _MPUSBOpen(uint32_t instance, const char *vidpid, const char *endpoint, uint32_t direction,
                   uint32_t reserved) {
    call c;
    c.kind = callkind::open;
    c.selector = vidpid ? vidpid : "";
    c.instance = instance;
    c.endpointnull = endpoint == nullptr;
    c.endpoint = endpoint ? endpoint : "";
    c.direction = direction;
    c.reserved = reserved;
    c.handle = -1;
    const bool there = matches(vidpid) && device.answering.count(instance) > 0;
    if (there && endpoint == nullptr) {
        c.handle = nexthandle++;
        open[c.handle] = {instance, true, direction};
    } else if (there && std::strcmp(endpoint, "\\MCHP_EP1") == 0 && direction <= 1 &&
               device.failingpipes.count({instance, direction}) == 0) {
        c.handle = nexthandle++;
        open[c.handle] = {instance, false, direction};
    }
    record.push_back(c);
    return c.handle;
}

uint32_t _MPUSBWrite(int32_t handle, const void *data, uint32_t length, uint32_t *written,
                     uint32_t timeout_ms) {
    call c;
    c.kind = callkind::write;
    c.handle = handle;
    c.data.assign(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + length);
    c.length = length;
    c.timeout = timeout_ms;
    record.push_back(c);

    auto h = open.find(handle);
    if (h == open.end() || h->second.probe || h->second.direction != 0) {
        ADD_FAILURE() << "write on handle " << handle << ", which is no open OUT pipe";
        errno = ENXIO;
        return 0;
    }
    if (queue.empty() || awaitingread) {
        ADD_FAILURE() << (queue.empty() ? "unexpected write:\n" : "write before the read:\n")
                      << "  actual   " << hex(c.data);
        errno = EIO;
        return 0;
    }
    const exchange &e = queue.front();
    if (c.data != e.packet)
        ADD_FAILURE() << "packet differs:\n  expected " << hex(e.packet) << "\n  actual   "
                      << hex(c.data);
    if (e.writeerror != 0) {
        const int err = e.writeerror;
        queue.pop_front();
        errno = err;
        return 0;
    }
    *written = length;
    awaitingread = true;
    return 1;
}

uint32_t _MPUSBRead(int32_t handle, void *data, uint32_t length, uint32_t *received,
                    uint32_t timeout_ms) {
    call c;
    c.kind = callkind::read;
    c.handle = handle;
    c.length = length;
    c.timeout = timeout_ms;
    record.push_back(c);

    auto h = open.find(handle);
    if (h == open.end() || h->second.probe || h->second.direction != 1) {
        ADD_FAILURE() << "read on handle " << handle << ", which is no open IN pipe";
        errno = ENXIO;
        return 0;
    }
    if (queue.empty() || !awaitingread) {
        ADD_FAILURE() << "read without a packet written first";
        errno = EIO;
        return 0;
    }
    const exchange e = queue.front();
    queue.pop_front();
    awaitingread = false;
    EXPECT_EQ(length, e.readlength) << "read length for packet " << hex(e.packet);
    if (e.readerror != 0) {
        if (e.leftcount) *received = *e.leftcount;
        errno = e.readerror;
        return 0;
    }
    // Like the library: the whole reply arrives, at most `length` bytes are
    // copied, and the real count is reported.
    const size_t copied = std::min<size_t>(length, e.reply.size());
    if (copied > 0) std::memcpy(data, e.reply.data(), copied);
    *received = static_cast<uint32_t>(e.reply.size());
    return 1;
}

uint32_t _MPUSBClose(int32_t handle) {
    call c;
    c.kind = callkind::close;
    c.handle = handle;
    record.push_back(c);
    open.erase(handle);
    return 1;
}

}  // extern "C"
