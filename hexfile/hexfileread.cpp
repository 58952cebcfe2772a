#include "hexfileread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "globaldata.h"
#include "runerror.h"

namespace hexfileread {

uint16_t extendedaddress = 0;

namespace {

// Only this many characters after the colon are decoded: the longest valid
// record (255 data bytes) needs 520.
constexpr size_t maxrecordtext = 1000;
constexpr size_t maxrecordbytes = maxrecordtext / 2;

constexpr uint32_t configaddress = 0x300000;

// Value of each character as a hex digit; notdigit marks every other one.
constexpr uint8_t notdigit = 0x10;
constexpr std::array<uint8_t, 256> digitvalues = [] {
    std::array<uint8_t, 256> v{};
    v.fill(notdigit);
    for (int c = '0'; c <= '9'; ++c) v[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) v[c] = static_cast<uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) v[c] = static_cast<uint8_t>(c - 'a' + 10);
    return v;
}();

// Decodes pairs of characters into out (room for text.size() / 2 bytes) and
// returns the number of bytes; an odd last character is left out. A character
// that is no hex digit counts as 0 and sets clean to false.
size_t decode(std::string_view text, uint8_t *out, bool &clean) {
    size_t n = text.size() / 2;
    uint8_t marks = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t high = digitvalues[static_cast<uint8_t>(text[2 * i])];
        uint8_t low = digitvalues[static_cast<uint8_t>(text[2 * i + 1])];
        marks |= high | low;
        out[i] = static_cast<uint8_t>((high & 0x0F) << 4 | (low & 0x0F));
    }
    clean = (marks & notdigit) == 0;
    return n;
}

// A data record: into the image when it fits whole, and every byte that lies
// in the configuration space into its configuration byte.
void storedata(uint32_t address, const uint8_t *data, size_t count) {
    if (globaldata::memimage != nullptr && globaldata::imagesize > 0 &&
        uint64_t{address} + count <= static_cast<uint64_t>(globaldata::imagesize)) {
        std::memcpy(globaldata::memimage + address, data, count);
    }
    uint64_t first = std::max<uint64_t>(address, configaddress);
    uint64_t last = std::min<uint64_t>(uint64_t{address} + count, configaddress + globaldata::configbytes.size());
    for (uint64_t a = first; a < last; ++a) globaldata::configbytes[a - configaddress] = data[a - address];
}

// Handles one line; true once the end-of-file record has been handled.
bool handleline(std::string_view line) {
    if (line.empty() || line[0] != ':') return false;
    std::string_view text = line.substr(1, maxrecordtext);

    std::array<uint8_t, maxrecordbytes> record;
    bool clean;
    size_t length = decode(text, record.data(), clean);

    // A record holding a character that is no hex digit is damaged whatever
    // its sum comes to: it fails the checksum test.
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + record[i]);
    if (sum != 0 || !clean) runerror::fail("checksum failure");
    if (length == 0 || length != size_t{record[0]} + 5) runerror::fail("lengths don't match");

    size_t count = record[0];
    const uint8_t *data = record.data() + 4;
    switch (record[3]) {
    case 0:
        storedata(uint32_t{extendedaddress} << 16 | uint32_t{record[1]} << 8 | record[2], data, count);
        return false;
    case 1:
        return true;
    case 4:
        // Taking the upper address from beyond the record's data, or guessing
        // it, would put what follows in the wrong place: refuse the file.
        if (count < 2) runerror::fail("extended address record too short");
        extendedaddress = static_cast<uint16_t>(data[0] << 8 | data[1]);
        return false;
    default:
        return false;
    }
}

struct fileclose {
    void operator()(FILE *f) const {
        if (f != stdin) std::fclose(f);
    }
};

// Reads the stream line by line (CR, LF or CR LF end a line) until the
// end-of-file record. Lines are handled where they lie in the chunk read; one
// that runs on into the next chunk is gathered in `line`, cut to the length
// that matters, so memory stays bounded whatever the file holds.
void readrecords(FILE *f) {
    std::array<char, 1 << 16> chunk;
    std::array<char, 1 + maxrecordtext> line;
    size_t linelength = 0;
    auto gather = [&](const char *from, const char *to) {
        size_t n = std::min(static_cast<size_t>(to - from), line.size() - linelength);
        std::memcpy(line.data() + linelength, from, n);
        linelength += n;
    };
    for (;;) {
        size_t got = std::fread(chunk.data(), 1, chunk.size(), f);
        if (got == 0) {
            if (std::ferror(f)) runerror::failio(runerror::iomessage(errno));
            break;
        }
        const char *p = chunk.data();
        const char *end = p + got;
        while (p < end) {
            const char *e = p;
            while (e < end && *e != '\r' && *e != '\n') ++e;
            if (e == end) {
                gather(p, e);
                break;
            }
            bool done;
            if (linelength > 0) {
                gather(p, e);
                done = handleline(std::string_view(line.data(), linelength));
                linelength = 0;
            } else {
                done = handleline(std::string_view(p, static_cast<size_t>(e - p)));
            }
            if (done) return;
            p = e + 1;
        }
    }
    // The last line may lack its line end.
    if (handleline(std::string_view(line.data(), linelength))) return;
    // Nothing of a file that may have been cut short is to reach the chip.
    runerror::fail("end of file without an end-of-file record");
}

// The reason a file could not be opened: a missing folder on the way is an
// invalid name rather than a missing file.
int openerror(const std::string &filename, int err) {
    if (err != ENOENT) return err;
    std::filesystem::path folder = std::filesystem::path(filename).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) return ENOTDIR;
    return err;
}

}  // namespace

bytestring hextobytes(std::string_view text) {
    bytestring bytes(text.size() / 2);
    bool clean;
    decode(text, bytes.data(), clean);
    return bytes;
}

void loadhexfile(const std::string &filename) {
    extendedaddress = 0;
    std::unique_ptr<FILE, fileclose> file;
    if (filename.empty()) {
        file.reset(stdin);
    } else {
        file.reset(std::fopen(filename.c_str(), "rb"));
        if (!file) runerror::failio(runerror::iomessage(openerror(filename, errno)));
        struct stat st;
        // A folder opens for reading here but is no file: refused as the
        // access that it is.
        if (fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode))
            runerror::failio(runerror::iomessage(EACCES));
    }
    readrecords(file.get());
}

void reset() { extendedaddress = 0; }

}  // namespace hexfileread
