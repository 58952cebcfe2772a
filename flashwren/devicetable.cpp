#include "devicetable.h"

#include <ini.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "runerror.h"

namespace devicetable {

namespace {

// Longest table line taken whole; the rest of a longer line is dropped, never
// read as a line of its own.
constexpr int maxline = 4096;

bool sameletters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

std::string trimmed(std::string_view s) {
    std::size_t first = 0, last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t')) ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t')) --last;
    return std::string(s.substr(first, last - first));
}

// The file's text, handed to the ini reader one line at a time.
struct textcursor {
    const std::string *text;
    std::size_t position;
};

char *nextline(char *buffer, int size, void *stream) {
    auto *cursor = static_cast<textcursor *>(stream);
    const std::string &text = *cursor->text;
    if (cursor->position >= text.size() || size < 2) return nullptr;
    std::size_t end = text.find('\n', cursor->position);
    end = end == std::string::npos ? text.size() : end + 1;
    std::size_t length = end - cursor->position;
    if (length <= static_cast<std::size_t>(size - 1)) {
        std::memcpy(buffer, text.data() + cursor->position, length);
        buffer[length] = 0;
    } else {
        // Cut to the buffer, but as a whole line.
        std::memcpy(buffer, text.data() + cursor->position, size - 2);
        buffer[size - 2] = '\n';
        buffer[size - 1] = 0;
    }
    cursor->position = end;
    return buffer;
}

int keepline(void *user, const char *section, const char *name, const char *value) {
    auto *table = static_cast<inifile *>(user);
    table->lines.push_back(iniline{trimmed(section), name, value});
    return 1;
}

int hexdigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string tablepath() {
    std::string folder;
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), n);
            folder = exe.substr(0, exe.find_last_of('/'));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return folder + "/picspecs.ini";
}

inifile openinifile(const std::string &path) {
    inifile table;
    table.path = path;
    std::ifstream file(path, std::ios::binary);
    if (!file) return table;
    std::ostringstream contents;
    contents << file.rdbuf();
    std::string text = contents.str();

    // Lines are plain lines, indented or not (no continuation lines), and up
    // to maxline long; the reader's other rules stand: comment lines begin
    // with ";" or "#", " ;" starts a comment after a value, "name: value" is
    // read as "name=value", lines without a name are skipped.
    ini_allow_multiline = false;
    ini_use_stack = false;
    ini_allow_realloc = false;
    ini_initial_alloc = maxline;
    ini_max_line = maxline;
    textcursor cursor{&text, 0};
    ini_parse_stream(nextline, &cursor, keepline, &table);
    return table;
}

std::optional<std::string> findvalue(const inifile &table, std::string_view section, std::string_view key) {
    for (const iniline &line : table.lines)
        if (sameletters(line.section, section) && sameletters(line.key, key)) return line.value;
    return std::nullopt;
}

std::string readstring(const inifile &table, std::string_view section, std::string_view key,
                       const std::string &defaultvalue) {
    std::optional<std::string> value = findvalue(table, section, key);
    return value ? *value : defaultvalue;
}

int32_t readinteger(const inifile &table, std::string_view section, std::string_view key, int32_t defaultvalue) {
    std::optional<std::string> value = findvalue(table, section, key);
    if (!value) return defaultvalue;
    return parseinteger(*value).value_or(defaultvalue);
}

bool readbool(const inifile &table, std::string_view section, std::string_view key, bool defaultvalue) {
    std::optional<std::string> value = findvalue(table, section, key);
    if (!value) return defaultvalue;
    std::optional<int32_t> number = parseinteger(*value);
    return number ? *number != 0 : defaultvalue;
}

std::optional<int32_t> parseinteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i < text.size() && text[i] == '$')
        i += 1;
    else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    else {
        // Decimal, within the signed 32-bit range.
        if (i == text.size()) return std::nullopt;
        int64_t value = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
            if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
        }
        if (negative) value = -value;
        if (value > INT32_MAX) return std::nullopt;
        return static_cast<int32_t>(value);
    }
    // Hexadecimal, a 32-bit pattern.
    if (i == text.size()) return std::nullopt;
    uint32_t value = 0;
    int significant = 0;
    for (; i < text.size(); ++i) {
        int digit = hexdigit(text[i]);
        if (digit < 0) return std::nullopt;
        if (significant > 0 || digit != 0) ++significant;
        if (significant > 8) return std::nullopt;
        value = value * 16 + digit;
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

std::string sectionname(uint16_t maskedid) {
    char name[5];
    std::snprintf(name, sizeof name, "%04X", maskedid);
    return name;
}

void lookup(const inifile &table, uint16_t maskedid) {
    const std::string section = sectionname(maskedid);
    std::string name = readstring(table, section, "name", "");
    if (name.empty()) runerror::fail("unrecognised device");
    if (name.size() > maxnamelength) name.resize(maxnamelength);
    std::cout << "target device detected is a " << name << "\n";

    globaldata::devicespecrecord &spec = globaldata::devicespec;
    spec.panelsize = readinteger(table, section, "panelsize", 0);
    spec.panelcount = readinteger(table, section, "panelcount", 0);
    spec.bytestowriteperpanel = readinteger(table, section, "bytestowriteperpanel", 0);
    spec.newstyle = readbool(table, section, "newstyle", false);
}

std::string entryproblem(const globaldata::devicespecrecord &spec) {
    const int32_t size = spec.panelsize, count = spec.panelcount, bytes = spec.bytestowriteperpanel;
    const std::string countof = "panelcount " + std::to_string(count);
    const std::string bytesof = "bytestowriteperpanel " + std::to_string(bytes);
    if (size < 1 || count < 1)
        return "panelsize " + std::to_string(size) + " and " + countof + " must both be at least 1";
    if (int64_t{size} * count > INT32_MAX)
        return "panelsize " + std::to_string(size) + " x " + countof + " is over 2147483647 bytes";
    if (bytes > 32 && bytes % 32 == 0) {
        // Written as 32-byte chunks of panel 0 only.
        if (count != 1) return bytesof + " over 32 needs panelcount 1, not " + std::to_string(count);
        return "";
    }
    if (bytes != 8 && bytes != 16 && bytes != 32)
        return bytesof + " must be 8, 16, 32 or a multiple of 32";
    if (count != 1 && count != 2 && count != 4) return countof + " must be 1, 2 or 4";
    if (count * bytes > 32) return countof + " x " + bytesof + " is over 32 bytes for one panel write";
    return "";
}

void checkentry() {
    std::string problem = entryproblem(globaldata::devicespec);
    if (!problem.empty()) runerror::fail("device entry cannot be programmed: " + problem);
}

}  // namespace devicetable
