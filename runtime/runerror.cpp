#include "runerror.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <iostream>
#include <new>
#include <unistd.h>

namespace runerror {

void fail(const std::string &message) { throw runfailure(kexception, message); }
void failio(const std::string &message) { throw runfailure(kinouterror, message); }
void failcreate(const std::string &filename) {
    throw runfailure(kfcreateerror, "Cannot create file " + filename);
}

std::string iomessage(int err) {
    switch (err) {
    case ENOENT: return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG: return "Invalid filename";
    case EACCES:
    case EPERM: return "File access denied";
    default: return "I/O error " + std::to_string(err);
    }
}

std::string modulename() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "unknown";
    path[n] = 0;
    std::string s(path);
    return s.substr(s.find_last_of('/') + 1);
}

unsigned codelocation(const std::string &message) {
    // FNV-1a, folded into the range where a small program's code lives.
    unsigned h = 2166136261u;
    for (unsigned char c : message) h = (h ^ c) * 16777619u;
    return 0x00400000u | (h & 0x000FFFF0u);
}

void writereport(std::ostream &out, const runfailure &e, const std::string &module) {
    char location[9];
    std::snprintf(location, sizeof location, "%08X", codelocation(e.what()));
    std::string message = e.what();
    if (!message.empty() && message.back() != '.') message += '.';
    out << "Exception " << e.kind << " in module " << module << " at " << location << ".\n"
        << message << "\n";
    out.flush();
}

int runguarded(void (*body)(int, char **), int argc, char **argv, std::ostream &reportto,
               const char *title) {
    auto report = [&](const runfailure &e) {
        std::cout.flush();
        if (title != nullptr) reportto << title << "\n";
        writereport(reportto, e, modulename());
        return 1;
    };
    try {
        body(argc, argv);
        return 0;
    } catch (const quietend &) {
        return 0;
    } catch (const runfailure &e) {
        return report(e);
    } catch (const std::bad_alloc &) {
        return report(runfailure("EOutOfMemory", "Out of memory"));
    } catch (const std::exception &e) {
        // Not one of ours: still a report and exit code 1, never an abort.
        return report(runfailure(kexception, e.what()));
    }
}

}  // namespace runerror
