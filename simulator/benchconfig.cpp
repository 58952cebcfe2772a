#include "benchconfig.h"

#include <ini.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace benchconfig {

namespace {

int onentry(void *user, const char *section, const char *key, const char *value) {
    auto &f = *static_cast<inifile *>(user);
    if (f.sections.empty() || f.sections.back().name != section) {
        inisection s;
        s.name = section;
        f.sections.push_back(s);
    }
    if (key) f.sections.back().keys.emplace_back(key, value ? value : "");
    return 1;
}

inisection *findsection(inifile &f, const std::string &name) {
    for (auto &s : f.sections)
        if (strcasecmp(s.name.c_str(), name.c_str()) == 0) return &s;
    return nullptr;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parseunsigned(const std::string &text, uint64_t &out) {
    if (text.empty()) return false;
    const char *p = text.c_str();
    int base = 10;
    if (text.size() > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '$') {
        base = 16;
        ++p;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(p, &end, base);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

bool parsehexbyte(const std::string &text, uint8_t &out) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    out = static_cast<uint8_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

bool parsebool(const std::string &text, bool &out) {
    std::string t = lower(text);
    if (t == "1" || t == "yes" || t == "on" || t == "true") out = true;
    else if (t == "0" || t == "no" || t == "off" || t == "false") out = false;
    else return false;
    return true;
}

// Parses one [programmerN] section.
bool parseprogrammer(const inisection &s, uint32_t instance, const std::string &tablepath,
                     programmer &p, std::string &error) {
    p = programmer{};
    p.instance = instance;
    parsecommstext(defaultcommstext, p.commstext);
    p.chip.revision = defaultrevision;
    p.chip.configmask.fill(0xFF);

    std::string part, erase;
    bool haveid = false;
    parttable::partgeometry g;
    uint64_t n = 0;
    struct explicitkeys {
        bool flashsize = false, panelsize = false, writebuffer = false, erase = false, name = false;
    } given;
    uint16_t deviceid = 0;

    for (const auto &[rawkey, value] : s.keys) {
        const std::string key = lower(rawkey);
        auto bad = [&](const char *what) {
            error = "[" + s.name + "] " + rawkey + " = " + value + ": " + what;
            return false;
        };
        if (key == "present") {
            if (!parsebool(value, p.present)) return bad("not 0 or 1");
        } else if (key == "outpipe") {
            if (!parsebool(value, p.outpipe)) return bad("not 0 or 1");
        } else if (key == "inpipe") {
            if (!parsebool(value, p.inpipe)) return bad("not 0 or 1");
        } else if (key == "firmware") {
            if (!parseversion(value, p.firmware)) return bad("not a version like 00.00.02");
        } else if (key == "lastbreak") {
            if (!parseversion(value, p.lastbreak)) return bad("not a version like 00.00.01");
        } else if (key == "commstext") {
            if (!parsecommstext(value, p.commstext)) return bad("more than 8 bytes or a bad escape");
        } else if (key == "part") {
            part = value;
        } else if (key == "name") {
            g.name = value;
            given.name = true;
        } else if (key == "deviceid") {
            uint64_t id = 0;
            std::string t = value;
            if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
            if (t.empty() || t.size() > 4 || !parseunsigned("0x" + t, id) || (id & 0x1F) != 0)
                return bad("not a masked device id of four hex digits (revision bits clear)");
            deviceid = static_cast<uint16_t>(id);
            haveid = true;
        } else if (key == "revision") {
            uint8_t r = 0;
            if (!parsehexbyte(value, r) || r > 0x1F) return bad("not a revision 00 to 1F");
            p.chip.revision = r;
        } else if (key == "flashsize") {
            if (!parseunsigned(value, n) || n > 0x200000) return bad("not a size up to 0x200000");
            g.flashsize = static_cast<uint32_t>(n);
            given.flashsize = true;
        } else if (key == "panelsize") {
            if (!parseunsigned(value, n) || n > 0x200000) return bad("not a size up to 0x200000");
            g.panelsize = static_cast<uint32_t>(n);
            given.panelsize = true;
        } else if (key == "writebuffer") {
            if (!parseunsigned(value, n) || n > 64) return bad("not 8, 16, 32 or 64");
            g.writebuffer = static_cast<uint32_t>(n);
            given.writebuffer = true;
        } else if (key == "erase") {
            erase = lower(value);
            if (erase != "old" && erase != "new") return bad("not old or new");
            g.newstyle = erase == "new";
            given.erase = true;
        } else if (key == "configmask") {
            std::array<uint8_t, 14> m{};
            size_t i = 0;
            std::string word;
            for (size_t k = 0; k <= value.size(); ++k) {
                char c = k < value.size() ? value[k] : ' ';
                if (c == ' ' || c == '\t' || c == ',') {
                    if (word.empty()) continue;
                    if (i >= m.size() || !parsehexbyte(word, m[i])) return bad("not 14 hex bytes");
                    ++i;
                    word.clear();
                } else {
                    word += c;
                }
            }
            if (i != m.size()) return bad("not 14 hex bytes");
            p.chip.configmask = m;
        } else if (key == "faults") {
            std::string item;
            for (size_t k = 0; k <= value.size(); ++k) {
                char c = k < value.size() ? value[k] : ',';
                if (c == ',') {
                    size_t a = item.find_first_not_of(" \t"), b = item.find_last_not_of(" \t");
                    if (a != std::string::npos) {
                        fault f;
                        std::string why;
                        if (!parsefault(item.substr(a, b - a + 1), f, why)) return bad(why.c_str());
                        p.faults.push_back(f);
                    }
                    item.clear();
                } else {
                    item += c;
                }
            }
        } else {
            error = "[" + s.name + "]: unknown key " + rawkey;
            return false;
        }
    }

    if (lower(part) == "none" || (part.empty() && !haveid)) {
        p.chip.attached = false;
        return true;
    }
    p.chip.attached = true;
    if (!part.empty()) {
        parttable::partgeometry fromtable;
        if (!parttable::findpart(tablepath, part, fromtable, error)) {
            error = "[" + s.name + "] part = " + part + ": " + error;
            return false;
        }
        // Keys given in the section win over the table.
        if (!given.name) g.name = fromtable.name;
        if (!given.flashsize) g.flashsize = fromtable.flashsize;
        if (!given.panelsize) g.panelsize = fromtable.panelsize;
        if (!given.writebuffer) g.writebuffer = fromtable.writebuffer;
        if (!given.erase) g.newstyle = fromtable.newstyle;
        if (!haveid) deviceid = fromtable.deviceid;
    } else if (!given.flashsize || !given.erase || !given.writebuffer) {
        error = "[" + s.name + "]: a target given by deviceid needs flashsize, writebuffer and erase";
        return false;
    } else if (!given.panelsize) {
        g.panelsize = g.flashsize;
    }
    g.deviceid = deviceid;
    if (!parttable::checkgeometry(g, error)) {
        error = "[" + s.name + "]: " + error;
        return false;
    }
    p.chip.geometry = g;
    return true;
}

}  // namespace

bool readinifile(const std::string &path, inifile &out, std::string &error) {
    out = inifile{};
    FILE *fp = std::fopen(path.c_str(), "r");
    if (!fp) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    int rc = ini_parse_file(fp, onentry, &out);
    std::fclose(fp);
    if (rc != 0) {
        error = path + ": syntax error on line " + std::to_string(rc);
        return false;
    }
    return true;
}

bool writeinifile(const std::string &path, const inifile &f, std::string &error) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        for (size_t i = 0; i < f.sections.size(); ++i) {
            if (i) out << "\n";
            out << "[" << f.sections[i].name << "]\n";
            for (const auto &[k, v] : f.sections[i].keys) out << k << " = " << v << "\n";
        }
        out.flush();
        if (!out) {
            error = "cannot write " + temp;
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

const std::string *getkey(const inifile &f, const std::string &section, const std::string &key) {
    for (const auto &s : f.sections)
        if (strcasecmp(s.name.c_str(), section.c_str()) == 0)
            for (const auto &[k, v] : s.keys)
                if (strcasecmp(k.c_str(), key.c_str()) == 0) return &v;
    return nullptr;
}

void setkey(inifile &f, const std::string &section, const std::string &key, const std::string &value) {
    inisection *s = findsection(f, section);
    if (!s) {
        f.sections.push_back(inisection{section, {}});
        s = &f.sections.back();
    }
    for (auto &[k, v] : s->keys)
        if (strcasecmp(k.c_str(), key.c_str()) == 0) {
            v = value;
            return;
        }
    s->keys.emplace_back(key, value);
}

void removekey(inifile &f, const std::string &section, const std::string &key) {
    inisection *s = findsection(f, section);
    if (!s) return;
    std::erase_if(s->keys, [&](const auto &kv) { return strcasecmp(kv.first.c_str(), key.c_str()) == 0; });
}

std::string inipath(const std::string &dir) { return dir + "/bench.ini"; }
std::string tracepath(const std::string &dir) { return dir + "/trace.txt"; }
std::string chippath(const std::string &dir, uint32_t instance) {
    return dir + "/chip" + std::to_string(instance) + ".mem";
}
std::string sectionof(uint32_t instance) { return "programmer" + std::to_string(instance); }

bool parsebench(const inifile &f, const std::string &tablepath, bench &out, std::string &error) {
    out = bench{};
    for (const auto &s : f.sections) {
        const std::string name = lower(s.name);
        if (name == benchsection) {
            for (const auto &[rawkey, value] : s.keys) {
                const std::string key = lower(rawkey);
                uint64_t n = 0;
                if (key == "count") {
                    if (!parseunsigned(value, n) || n > 0xFFFFFFFFu) {
                        error = "[bench] count = " + value + ": not a count";
                        return false;
                    }
                    out.count = static_cast<int64_t>(n);
                } else if (key == "trace") {
                    if (!parsebool(value, out.trace)) {
                        error = "[bench] trace = " + value + ": not 0 or 1";
                        return false;
                    }
                } else {
                    error = "[bench]: unknown key " + rawkey;
                    return false;
                }
            }
        } else if (name.rfind("programmer", 0) == 0) {
            uint64_t instance = 0;
            const std::string digits = name.substr(10);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
                !parseunsigned(digits, instance) || instance > 0xFFFFFFFFu) {
                error = "[" + s.name + "]: not a programmer instance";
                return false;
            }
            for (const auto &p : out.programmers)
                if (p.instance == instance) {
                    error = "[" + s.name + "] appears twice";
                    return false;
                }
            programmer p;
            if (!parseprogrammer(s, static_cast<uint32_t>(instance), tablepath, p, error)) return false;
            out.programmers.push_back(p);
        } else {
            error = "[" + s.name + "]: unknown section";
            return false;
        }
    }
    return true;
}

bool loadbench(const std::string &dir, const std::string &tablepath, bench &out, std::string &error) {
    inifile f;
    if (!readinifile(inipath(dir), f, error)) return false;
    return parsebench(f, tablepath, out, error);
}

const programmer *findprogrammer(const bench &b, uint32_t instance) {
    for (const auto &p : b.programmers)
        if (p.instance == instance) return &p;
    return nullptr;
}

std::string kindname(faultkind k) {
    switch (k) {
    case faultkind::writefail: return "writefail";
    case faultkind::readfail: return "readfail";
    case faultkind::shortreply: return "short";
    case faultkind::longreply: return "long";
    case faultkind::gone: return "gone";
    }
    return "?";
}

bool parsefault(const std::string &text, fault &out, std::string &error) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t k = 0; k <= text.size(); ++k)
        if (k == text.size() || text[k] == ':') {
            parts.push_back(text.substr(start, k - start));
            start = k + 1;
        }
    uint64_t ordinal = 0;
    if (parts.size() < 2 || parts.size() > 3 || parts[0].find_first_not_of("0123456789") != std::string::npos ||
        !parseunsigned(parts[0], ordinal) || ordinal == 0 || ordinal > 0xFFFFFFFFu) {
        error = "fault " + text + ": not ORDINAL:KIND[:ERRNO] with an ordinal from 1";
        return false;
    }
    out = fault{};
    out.ordinal = static_cast<uint32_t>(ordinal);
    const std::string kind = lower(parts[1]);
    if (kind == "writefail") {
        out.kind = faultkind::writefail;
        out.err = EIO;
    } else if (kind == "readfail") {
        out.kind = faultkind::readfail;
        out.err = ETIMEDOUT;
    } else if (kind == "short") {
        out.kind = faultkind::shortreply;
    } else if (kind == "long") {
        out.kind = faultkind::longreply;
    } else if (kind == "gone") {
        out.kind = faultkind::gone;
        out.err = ENXIO;
    } else {
        error = "fault " + text + ": kind is not writefail, readfail, short, long or gone";
        return false;
    }
    if (parts.size() == 3) {
        uint64_t e = 0;
        if (out.kind != faultkind::writefail && out.kind != faultkind::readfail) {
            error = "fault " + text + ": only writefail and readfail take an errno";
            return false;
        }
        if (parts[2].find_first_not_of("0123456789") != std::string::npos || !parseunsigned(parts[2], e) ||
            e == 0 || e > 4095) {
            error = "fault " + text + ": errno must be a number from 1 to 4095";
            return false;
        }
        out.err = static_cast<int>(e);
    }
    return true;
}

std::string faulttext(const fault &f) {
    std::string t = std::to_string(f.ordinal) + ":" + kindname(f.kind);
    if (f.kind == faultkind::writefail || f.kind == faultkind::readfail) t += ":" + std::to_string(f.err);
    return t;
}

bool parseversion(const std::string &text, std::array<uint8_t, 3> &out) {
    std::array<uint8_t, 3> v{};
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t dot = text.find('.', start);
        if ((i < 2) != (dot != std::string::npos)) return false;
        std::string part = text.substr(start, i < 2 ? dot - start : std::string::npos);
        if (!parsehexbyte(part, v[i])) return false;
        start = dot + 1;
    }
    out = v;
    return true;
}

std::string versiontext(const std::array<uint8_t, 3> &v) {
    char buf[16];
    snprintf(buf, sizeof buf, "%02X.%02X.%02X", v[0], v[1], v[2]);
    return buf;
}

bool parsecommstext(const std::string &text, std::array<uint8_t, 8> &out) {
    std::array<uint8_t, 8> t{};
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        uint8_t byte = static_cast<uint8_t>(text[i]);
        if (text[i] == '\\') {
            if (i + 1 >= text.size()) return false;
            char e = text[++i];
            if (e == '\\') byte = '\\';
            else if (e == '0') byte = 0;
            else if (e == 's') byte = ' ';
            else if (e == 'x' && i + 2 < text.size() && parsehexbyte(text.substr(i + 1, 2), byte)) i += 2;
            else return false;
        }
        if (n >= t.size()) return false;
        t[n++] = byte;
    }
    out = t;
    return true;
}

}  // namespace benchconfig
