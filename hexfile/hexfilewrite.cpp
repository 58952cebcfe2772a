#include "hexfilewrite.h"

#include <array>
#include <cerrno>
#include <unistd.h>

namespace hexfilewrite {

namespace {

constexpr size_t maxdata = 255;
// ":" + count, address, type, data and checksum in hex + CR LF.
constexpr size_t maxline = 1 + 2 * (4 + maxdata + 1) + 2;

void noteerror(hexwriter &writer, int err) {
    if (writer.error == 0) writer.error = err;
}

// Writes the whole line, going on after a partial write, so that a line is
// either all on the file or reported as lost.
bool writeline(hexwriter &writer, const char *line, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(writer.stream, line, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            noteerror(writer, errno);
            return false;
        }
        if (n == 0) {
            noteerror(writer, EIO);
            return false;
        }
        line += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string bytestohex(const bytestring &bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text += hexdigits[b / 16];
        text += hexdigits[b % 16];
    }
    return text;
}

void inithexwriter(hexwriter &writer, int stream) {
    writer.stream = stream;
    writer.upperaddress = -1;
}

bool writerecord(hexwriter &writer, uint16_t address, uint8_t type, const bytestring &data) {
    // A record cannot carry more: refused, nothing written.
    if (data.size() > maxdata) {
        noteerror(writer, EINVAL);
        return false;
    }
    std::array<uint8_t, 4 + maxdata + 1> record;
    size_t length = 0;
    record[length++] = static_cast<uint8_t>(data.size());
    record[length++] = static_cast<uint8_t>(address >> 8);
    record[length++] = static_cast<uint8_t>(address & 0xFF);
    record[length++] = type;
    for (uint8_t b : data) record[length++] = b;
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + record[i]);
    record[length++] = static_cast<uint8_t>(0x100 - sum);

    std::array<char, maxline> line;
    size_t n = 0;
    line[n++] = ':';
    for (size_t i = 0; i < length; ++i) {
        line[n++] = hexdigits[record[i] / 16];
        line[n++] = hexdigits[record[i] % 16];
    }
    line[n++] = '\r';
    line[n++] = '\n';
    return writeline(writer, line.data(), n);
}

bool writedatarecord(hexwriter &writer, int32_t address, const bytestring &data) {
    // No address below 0 exists in a HEX file, and a record holds at most 255
    // bytes: refused, nothing written.
    if (address < 0 || data.size() > maxdata) {
        noteerror(writer, EINVAL);
        return false;
    }
    int32_t upper = address >> 16;
    if (upper != writer.upperaddress) {
        bytestring payload{static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)};
        if (!writerecord(writer, 0, 4, payload)) return false;
        writer.upperaddress = upper;
    }
    return writerecord(writer, static_cast<uint16_t>(address & 0xFFFF), 0, data);
}

bool writeeofrecord(hexwriter &writer) { return writerecord(writer, 0, 1, {}); }

}  // namespace hexfilewrite
