#include "parttable.h"

#include <dlfcn.h>
#include <ini.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace parttable {

namespace {

struct tablerow {
    std::string name;
    long panelsize = 0, panelcount = 0, bytestowriteperpanel = 0, newstyle = 0;
};

// Used only when no picspecs.ini stands beside the module.
const struct {
    uint16_t id;
    const char *name;
    uint32_t panelsize, panelcount, writebuffer;
    bool newstyle;
} builtin[] = {
    {0x0480, "PIC18F242", 8192, 2, 8, false},   {0x0400, "PIC18F252", 8192, 4, 8, false},
    {0x04A0, "PIC18F442", 8192, 2, 8, false},   {0x0420, "PIC18F452", 8192, 4, 8, false},
    {0x07E0, "PIC18F1220", 4096, 1, 8, false},  {0x1100, "PIC18F2520", 32768, 1, 32, true},
    {0x1080, "PIC18F4520", 32768, 1, 32, true}, {0x1200, "PIC18F4550", 32768, 1, 32, true},
    {0x0C80, "PIC18F2620", 65536, 1, 64, true}, {0x0C00, "PIC18F4620", 65536, 1, 64, true},
};

// The table's integer syntax: blanks, optional sign, decimal digits; or hex
// digits after "$" or "0x". Anything else reads as 0.
long tableinteger(const char *text) {
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int base = 10;
    if (*text == '$') {
        base = 16;
        ++text;
    } else if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*text))) return 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, base);
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return 0;
    return negative ? -v : v;
}

int onentry(void *user, const char *section, const char *key, const char *value) {
    auto &rows = *static_cast<std::map<std::string, tablerow> *>(user);
    std::string id = section;
    for (char &c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tablerow &row = rows[id];
    if (strcasecmp(key, "name") == 0) row.name = value;
    else if (strcasecmp(key, "panelsize") == 0) row.panelsize = tableinteger(value);
    else if (strcasecmp(key, "panelcount") == 0) row.panelcount = tableinteger(value);
    else if (strcasecmp(key, "bytestowriteperpanel") == 0) row.bytestowriteperpanel = tableinteger(value);
    else if (strcasecmp(key, "newstyle") == 0) row.newstyle = tableinteger(value);
    return 1;
}

bool namematches(const std::string &wanted, const std::string &name) {
    if (strcasecmp(wanted.c_str(), name.c_str()) == 0) return true;
    return name.size() > 3 && strncasecmp(name.c_str(), "PIC", 3) == 0 &&
           strcasecmp(wanted.c_str(), name.c_str() + 3) == 0;
}

// A masked id given as 1 to 4 hex digits, with or without 0x.
bool parseid(const std::string &key, uint16_t &id) {
    std::string digits = key;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 4) return false;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    id = static_cast<uint16_t>(std::strtoul(digits.c_str(), nullptr, 16) & 0xFFE0);
    return true;
}

std::string idtext(uint16_t id) {
    char buf[8];
    snprintf(buf, sizeof buf, "%04X", id);
    return buf;
}

}  // namespace

bool checkgeometry(const partgeometry &g, std::string &error) {
    const uint32_t wb = g.writebuffer;
    if (g.panelsize == 0 || g.flashsize == 0 || g.flashsize % g.panelsize != 0)
        error = "program memory must be a whole number of panels";
    else if (g.flashsize > 0x200000)
        error = "program memory over 2 MB does not fit below the ID locations";
    else if (g.flashsize / g.panelsize > 16)
        error = "more than 16 panels";
    else if (wb != 8 && wb != 16 && wb != 32 && wb != 64)
        error = "write buffer must be 8, 16, 32 or 64 bytes";
    else if (g.panelsize % wb != 0)
        error = "panel size must be a multiple of the write buffer";
    else if ((g.deviceid & 0x1F) != 0)
        error = "device id has revision bits set";
    else
        return true;
    return false;
}

std::string tablebesidemodule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&tablebesidemodule), &info) == 0 || !info.dli_fname)
        return "picspecs.ini";
    std::error_code ec;
    std::filesystem::path self = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) self = info.dli_fname;
    return (self.parent_path() / "picspecs.ini").string();
}

bool findpart(const std::string &tablepath, const std::string &key, partgeometry &out,
              std::string &error) {
    std::map<std::string, tablerow> rows;
    std::error_code ec;
    if (std::filesystem::exists(tablepath, ec)) {
        int rc = ini_parse(tablepath.c_str(), onentry, &rows);
        if (rc < 0) {
            error = "cannot read device table " + tablepath;
            return false;
        }
    } else {
        for (const auto &b : builtin) {
            tablerow &row = rows[idtext(b.id)];
            row.name = b.name;
            row.panelsize = b.panelsize;
            row.panelcount = b.panelcount;
            row.bytestowriteperpanel = b.writebuffer;
            row.newstyle = b.newstyle;
        }
    }

    const tablerow *found = nullptr;
    std::string foundid;
    for (const auto &[id, row] : rows)
        if (!row.name.empty() && namematches(key, row.name)) {
            found = &row;
            foundid = id;
            break;
        }
    uint16_t id = 0;
    if (!found && parseid(key, id)) {
        auto it = rows.find(idtext(id));
        if (it != rows.end() && !it->second.name.empty()) {
            found = &it->second;
            foundid = it->first;
        }
    }
    if (!found) {
        error = "unknown part " + key + " (not in " + tablepath + ")";
        return false;
    }
    uint16_t masked = 0;
    if (!parseid(foundid, masked)) {
        error = "device table section [" + foundid + "] is not a device id";
        return false;
    }
    out.name = found->name;
    out.deviceid = masked;
    out.panelsize = found->panelsize > 0 ? static_cast<uint32_t>(found->panelsize) : 0;
    long size = found->panelsize * found->panelcount;
    out.flashsize = (found->panelsize > 0 && found->panelcount > 0 && size <= 0x200000)
                        ? static_cast<uint32_t>(size)
                        : 0;
    out.writebuffer = found->bytestowriteperpanel > 0 ? static_cast<uint32_t>(found->bytestowriteperpanel) : 0;
    out.newstyle = found->newstyle != 0;
    if (!checkgeometry(out, error)) {
        error = "part " + out.name + ": " + error;
        return false;
    }
    return true;
}

}  // namespace parttable
