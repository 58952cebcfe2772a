#include "consoleinput.h"

#include <limits>
#include <string>

#include "runerror.h"

namespace consoleinput {

namespace {

constexpr size_t maxtoken = 32;
constexpr size_t maxline = 65536;

bool isblankorcontrol(int c) { return c <= ' ' || c == 0x7F; }

int hexvalue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The token's value, or false when it is not a number.
bool parsetoken(const std::string &t, int32_t &value) {
    if (t.empty()) return false;
    if (t[0] == '$') {
        size_t i = 1;
        if (i == t.size()) return false;
        uint32_t v = 0;
        int significant = 0;
        for (; i < t.size(); ++i) {
            int d = hexvalue(t[i]);
            if (d < 0) return false;
            if (significant > 0 || d != 0) ++significant;
            if (significant > 8) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        value = static_cast<int32_t>(v);
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (t[0] == '+' || t[0] == '-') {
        negative = t[0] == '-';
        i = 1;
    }
    if (i == t.size()) return false;
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
        if (v > int64_t{1} << 31) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

}  // namespace

int32_t readinteger(std::istream &in) {
    int c = in.get();
    while (c != EOF && isblankorcontrol(c)) c = in.get();
    if (c == EOF) {
        in.clear(in.rdstate() & ~std::ios::failbit);
        return 0;
    }
    std::string token;
    bool toolong = false;
    while (c != EOF && !isblankorcontrol(c)) {
        if (token.size() < maxtoken)
            token += static_cast<char>(c);
        else
            toolong = true;
        c = in.get();
    }
    // The rest of the line is discarded; a token ended by the line end has none.
    if (c != EOF && c != '\n') in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    if (in.eof()) in.clear(in.rdstate() & ~std::ios::failbit);
    int32_t value = 0;
    if (toolong || !parsetoken(token, value)) runerror::failio("Invalid numeric input");
    return value;
}

bool readline(std::istream &in, std::string &line) {
    line.clear();
    int c = in.get();
    if (c == EOF) {
        in.clear(in.rdstate() & ~std::ios::failbit);
        return false;
    }
    for (; c != EOF && c != '\n'; c = in.get())
        if (line.size() < maxline) line += static_cast<char>(c);
    if (in.eof()) in.clear(in.rdstate() & ~std::ios::failbit);
    return true;
}

}  // namespace consoleinput
