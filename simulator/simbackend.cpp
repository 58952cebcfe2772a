// The virtual bench behind the five functions.
#include "simbackend.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "backend.h"
#include "benchconfig.h"
#include "chipmemory.h"
#include "firmware.h"
#include "simtrace.h"

namespace simbackend {

namespace {

enum class handlekind { probe, outpipe, inpipe };

struct handleinfo {
    uint32_t instance;
    handlekind kind;
};

// A programmer held by this process: its chip mapped and locked, and the one
// reply in flight between a packet and the read that collects it.
struct claim {
    chipmemory::chip chip;
    int refs = 0;
    uint32_t ordinal = 0;     // packets written since the programmer was claimed
    bool replyready = false;  // a reply waits for the read
    bytestring reply;
    bool lengthfaulted = false;  // the reply was made short or long on purpose
    int readerrno = 0;        // the next read fails with this (fault or violation)
};

std::string benchdir;                    // set by refresh: the bench now served
bool benchloaded = false;                // set by refresh: bench.ini was read
benchconfig::bench thebench;             // set by refresh
std::string warnedabout;                 // set by refresh: bench whose error was shown
std::set<uint32_t> goneinstances;        // set by write: devices pulled off the bus
std::map<uint32_t, claim> claims;        // set by claimprogrammer / releaseprogrammer
std::map<int32_t, handleinfo> handles;   // set by open / close
int32_t nexthandle = 0;                  // set by open, and by refresh for another bench

// With no handle open, (re)reads the bench that MPUSBAPI_SIM names, so that a
// changed bench.ini or another bench directory takes effect.
void refresh() {
    if (!handles.empty()) return;
    const char *env = std::getenv("MPUSBAPI_SIM");
    const std::string dir = env ? env : "";
    if (dir != benchdir) {
        goneinstances.clear();
        nexthandle = 0;
        benchdir = dir;
    }
    std::string error;
    benchloaded = benchconfig::loadbench(benchdir, parttable::tablebesidemodule(), thebench, error);
    if (!benchloaded) {
        if (warnedabout != benchdir) std::cerr << "mpusbapi: bench " << benchdir << ": " << error << "\n";
        warnedabout = benchdir;
        simtrace::closetrace();
        return;
    }
    warnedabout.clear();
    simtrace::opentrace(benchdir, thebench.trace);
}

const benchconfig::programmer *programmerof(uint32_t instance) {
    return benchloaded ? benchconfig::findprogrammer(thebench, instance) : nullptr;
}

claim *claimprogrammer(const benchconfig::programmer &p) {
    auto it = claims.find(p.instance);
    if (it != claims.end()) {
        ++it->second.refs;
        return &it->second;
    }
    claim c;
    std::string error;
    const uint32_t flashsize = p.chip.attached ? p.chip.geometry.flashsize : 0;
    auto result = chipmemory::openchip(benchconfig::chippath(benchdir, p.instance), flashsize, p.chip.configmask,
                                       true, c.chip, error);
    if (result == chipmemory::openresult::busy) return nullptr;
    if (result == chipmemory::openresult::failed) {
        std::cerr << "mpusbapi: bench " << benchdir << ": " << error << "\n";
        return nullptr;
    }
    if (result == chipmemory::openresult::created)
        simtrace::writeline(p.instance, 0, "note", "chip memory file made afresh: an erased chip");
    c.refs = 1;
    return &claims.emplace(p.instance, std::move(c)).first->second;
}

void releaseprogrammer(uint32_t instance) {
    auto it = claims.find(instance);
    if (it == claims.end()) return;
    if (--it->second.refs > 0) return;
    chipmemory::closechip(it->second.chip);
    claims.erase(it);
}

// Handle numbers count up from 0 and are never given out twice, so that a
// handle closed twice cannot close somebody else's pipe.
int32_t newhandle() {
    if (nexthandle == INT32_MAX) return -1;
    return nexthandle++;
}

const benchconfig::fault *faultat(const benchconfig::programmer &p, uint32_t ordinal) {
    for (const auto &f : p.faults)
        if (f.ordinal == ordinal) return &f;
    return nullptr;
}

// The programmer behind an open handle, with errno ENXIO for a handle that is
// not open and EIO for one of the wrong kind.
claim *pipeof(int32_t handle, handlekind kind, uint32_t &instance, int &err) {
    auto it = handles.find(handle);
    err = ENXIO;
    if (it == handles.end()) return nullptr;
    instance = it->second.instance;
    if (goneinstances.count(instance)) return nullptr;
    err = EIO;
    if (it->second.kind != kind) return nullptr;
    auto c = claims.find(instance);
    return c == claims.end() ? nullptr : &c->second;
}

uint32_t count(const char *vidpid) {
    refresh();
    if (!mpusbapi::selectormatches(vidpid) || !benchloaded) return 0;
    uint32_t present = 0, gonepresent = 0;
    for (const auto &p : thebench.programmers) {
        if (!p.present) continue;
        ++present;
        if (goneinstances.count(p.instance)) ++gonepresent;
    }
    int64_t n = thebench.count >= 0 ? thebench.count : present;
    n -= gonepresent;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

int32_t open(uint32_t instance, const char *vidpid, const char *endpoint, uint32_t direction) {
    refresh();
    if (!mpusbapi::selectormatches(vidpid)) return -1;
    const benchconfig::programmer *p = programmerof(instance);
    if (!p || !p->present || goneinstances.count(instance)) return -1;
    handlekind kind = handlekind::probe;
    if (endpoint) {
        if (strcasecmp(endpoint, "\\MCHP_EP1") != 0) return -1;
        if (direction == 0 && p->outpipe) kind = handlekind::outpipe;
        else if (direction == 1 && p->inpipe) kind = handlekind::inpipe;
        else return -1;
    }
    if (nexthandle == INT32_MAX || !claimprogrammer(*p)) return -1;
    const int32_t h = newhandle();
    handles[h] = handleinfo{instance, kind};
    return h;
}

uint32_t write(int32_t handle, const void *data, uint32_t length, uint32_t *written, uint32_t) {
    if (written) *written = 0;
    uint32_t instance = 0;
    int err = 0;
    claim *c = pipeof(handle, handlekind::outpipe, instance, err);
    const benchconfig::programmer *p = programmerof(instance);
    if (!c || !p || (!data && length)) {
        errno = c && p ? EIO : err;
        return 0;
    }
    const uint32_t ordinal = ++c->ordinal;
    const auto *packet = static_cast<const uint8_t *>(data);
    if (c->replyready)
        simtrace::writeline(instance, ordinal, "note", "the reply to packet " + std::to_string(ordinal - 1) +
                                                           " was never read");
    c->replyready = false;
    c->readerrno = 0;
    c->lengthfaulted = false;
    simtrace::writebytes(instance, ordinal, "out", packet, length);

    const benchconfig::fault *f = faultat(*p, ordinal);
    if (f && f->kind == benchconfig::faultkind::writefail) {
        simtrace::writeline(instance, ordinal, "fault", "write fails, errno " + std::to_string(f->err));
        errno = f->err;
        return 0;
    }
    if (f && f->kind == benchconfig::faultkind::gone) {
        simtrace::writeline(instance, ordinal, "fault", "device gone, errno 6 from now on");
        goneinstances.insert(instance);
        errno = ENXIO;
        return 0;
    }

    firmware::outcome out = firmware::handlepacket(*p, c->chip, packet, length);
    for (const auto &n : out.notes) simtrace::writeline(instance, ordinal, "note", n);
    if (!out.replied) {
        simtrace::writeline(instance, ordinal, "violation", out.violation);
        c->readerrno = ETIMEDOUT;  // no reply: the read times out, at once
    } else {
        c->reply = std::move(out.reply);
        c->replyready = true;
        if (f && f->kind == benchconfig::faultkind::readfail) {
            simtrace::writeline(instance, ordinal, "fault", "read fails, errno " + std::to_string(f->err));
            c->readerrno = f->err;
            c->replyready = false;
        } else if (f && f->kind == benchconfig::faultkind::shortreply) {
            simtrace::writeline(instance, ordinal, "fault", "reply one byte short");
            c->reply.pop_back();
            c->lengthfaulted = true;
        } else if (f && f->kind == benchconfig::faultkind::longreply) {
            simtrace::writeline(instance, ordinal, "fault", "reply one byte long");
            c->reply.push_back(0x00);
            c->lengthfaulted = true;
        }
    }
    if (written) *written = length;
    return 1;
}

uint32_t read(int32_t handle, void *data, uint32_t length, uint32_t *received, uint32_t) {
    // A failed read leaves *received as it was.
    uint32_t instance = 0;
    int err = 0;
    claim *c = pipeof(handle, handlekind::inpipe, instance, err);
    if (!c) {
        errno = err;
        return 0;
    }
    if (c->readerrno) {
        const int e = c->readerrno;
        c->readerrno = 0;
        errno = e;
        return 0;
    }
    if (!c->replyready) {
        simtrace::writeline(instance, c->ordinal, "violation", "read with no reply on its way");
        errno = ETIMEDOUT;
        return 0;
    }
    c->replyready = false;
    if (!data && length) {
        errno = EIO;
        return 0;
    }
    if (!c->lengthfaulted && c->reply.size() != length) {
        simtrace::writeline(instance, c->ordinal, "violation",
                            "read of " + std::to_string(length) + " bytes for a reply of " +
                                std::to_string(c->reply.size()));
        errno = ETIMEDOUT;
        return 0;
    }
    simtrace::writebytes(instance, c->ordinal, "in", c->reply.data(), c->reply.size());
    std::memcpy(data, c->reply.data(), std::min<size_t>(length, c->reply.size()));
    if (received) *received = static_cast<uint32_t>(c->reply.size());
    return 1;
}

uint32_t close(int32_t handle) {
    auto it = handles.find(handle);
    if (it == handles.end()) return 0;
    const uint32_t instance = it->second.instance;
    handles.erase(it);
    releaseprogrammer(instance);
    return 1;
}

const mpusbapi::backend thebackend{count, open, write, read, close};

}  // namespace

void reset() {
    while (!handles.empty()) close(handles.begin()->first);
    claims.clear();
    goneinstances.clear();
    benchdir.clear();
    nexthandle = 0;
    warnedabout.clear();
    benchloaded = false;
    thebench = benchconfig::bench{};
    simtrace::closetrace();
}

}  // namespace simbackend

namespace mpusbapi {
const backend &simbackend() { return ::simbackend::thebackend; }
}  // namespace mpusbapi
