#include "simtrace.h"

#include <fcntl.h>
#include <unistd.h>

#include "benchconfig.h"

namespace simtrace {

namespace {
int tracefd = -1;  // set by opentrace
}

void opentrace(const std::string &dir, bool enabled) {
    closetrace();
    if (enabled)
        tracefd = ::open(benchconfig::tracepath(dir).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void closetrace() {
    if (tracefd >= 0) ::close(tracefd);
    tracefd = -1;
}

std::string hexbytes(const uint8_t *bytes, size_t length) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i) s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

void writeline(uint32_t instance, uint32_t ordinal, const char *kind, const std::string &text) {
    if (tracefd < 0) return;
    // One write per line: with O_APPEND the line lands whole even when the
    // process dies right after.
    std::string line = std::to_string(instance) + " " + std::to_string(ordinal) + " " + kind;
    if (!text.empty()) line += " " + text;
    line += "\n";
    ssize_t done = ::write(tracefd, line.data(), line.size());
    (void)done;  // a trace that cannot be written must not change what the host sees
}

void writebytes(uint32_t instance, uint32_t ordinal, const char *kind, const uint8_t *bytes, size_t length) {
    if (tracefd < 0) return;
    writeline(instance, ordinal, kind, hexbytes(bytes, length));
}

}  // namespace simtrace
