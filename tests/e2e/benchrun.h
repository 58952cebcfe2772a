// Running the built programs against a virtual bench from a test: a fresh
// bench made once and copied for every run, a program run with its standard
// input, a time limit and its output captured, and the bench's files read
// back (trace, chip memory).
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chipmemory.h"

namespace benchrun {

namespace fs = std::filesystem;

inline std::string readfile(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void writefile(const fs::path &p, const std::string &text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// A fresh folder, removed with all it holds when the value goes.
struct scratch {
    fs::path path;
    explicit scratch(const char *tag) {
        std::string pattern = (fs::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    scratch(const scratch &) = delete;
    scratch &operator=(const scratch &) = delete;
    ~scratch() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
};

struct outcome {
    int exitcode = -1;  // 128 + signal when a signal ended it
    bool timedout = false;
    std::string out, err;
    long maxrsskb = 0;  // the program's peak resident memory
};

struct runspec {
    std::vector<std::string> argv;  // argv[0]: a program in bin, or a path
    fs::path dir;                   // working folder
    std::string input;              // standard input, written to a file first
    fs::path bench;                 // MPUSBAPI_SIM; empty: not set
    fs::path bin = PICWREN_BIN_DIR;
    int seconds = 20;               // killed after this: a hang fails
    fs::path inputfile;             // standard input from this file instead
    int uid = -1;                   // run as this user (and group) when not -1
    std::vector<std::pair<std::string, std::string>> env;  // more environment
};

inline outcome run(const runspec &r) {
    outcome result;
    fs::path input = r.inputfile;
    if (input.empty()) {
        input = r.dir / ".stdin";
        writefile(input, r.input);
    }
    int outpipe[2], errpipe[2];
    if (pipe(outpipe) != 0 || pipe(errpipe) != 0) return result;
    std::string program = (r.bin / r.argv[0]).string();
    if (!fs::exists(program)) program = r.argv[0];
    std::vector<std::string> args = r.argv;
    args[0] = program;
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(input.c_str(), O_RDONLY);
        dup2(in, 0);
        dup2(outpipe[1], 1);
        dup2(errpipe[1], 2);
        close(outpipe[0]);
        close(errpipe[0]);
        if (chdir(r.dir.c_str()) != 0) _exit(126);
        for (const auto &[name, value] : r.env) setenv(name.c_str(), value.c_str(), 1);
        if (r.uid >= 0 && (setgid(static_cast<gid_t>(r.uid)) != 0 || setuid(static_cast<uid_t>(r.uid)) != 0))
            _exit(125);
        if (r.bench.empty()) unsetenv("MPUSBAPI_SIM");
        else setenv("MPUSBAPI_SIM", r.bench.c_str(), 1);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());  // a bare name is looked up on PATH
        _exit(127);
    }
    close(outpipe[1]);
    close(errpipe[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(r.seconds);
    pollfd fds[2] = {{outpipe[0], POLLIN, 0}, {errpipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedout = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    result.maxrsskb = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exitcode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exitcode = 128 + WTERMSIG(status);
    return result;
}

// Runs a bench tool (simbench, gridseed) that must succeed; its output.
inline std::string tool(const std::vector<std::string> &argv, const fs::path &dir) {
    runspec r;
    r.argv = argv;
    r.dir = dir;
    outcome o = run(r);
    if (o.exitcode != 0) throw std::runtime_error(argv[0] + " failed: " + o.out + o.err);
    return o.out;
}

// The lines of a text, each without its line end.
inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// One event of the bench's trace: "<instance> <ordinal> <kind> <text>".
struct traceline {
    uint32_t ordinal = 0;
    std::string kind, text;
};

inline std::vector<traceline> readtrace(const fs::path &bench) {
    std::vector<traceline> events;
    for (const auto &line : lines(readfile(bench / "trace.txt"))) {
        std::istringstream in(line);
        std::string instance;
        traceline t;
        in >> instance >> t.ordinal >> t.kind;
        std::getline(in >> std::ws, t.text);
        events.push_back(t);
    }
    return events;
}

// The packets written, in order, as the trace shows them ("51 00").
inline std::vector<std::string> packetsout(const std::vector<traceline> &trace) {
    std::vector<std::string> out;
    for (const auto &t : trace)
        if (t.kind == "out") out.push_back(t.text);
    return out;
}

// What the chip holds: program memory, configuration bytes, ID locations.
struct chipcontent {
    std::string flash;
    std::string config;
    std::string idlocs;
    bool operator==(const chipcontent &) const = default;
};

inline chipcontent readchip(const fs::path &bench) {
    std::string file = readfile(bench / "chip0.mem");
    chipcontent c;
    if (file.size() < chipmemory::headersize) return c;
    c.flash = file.substr(chipmemory::headersize);
    c.config = file.substr(offsetof(chipmemory::chipstate, config), chipmemory::configsize);
    c.idlocs = file.substr(offsetof(chipmemory::chipstate, idlocs), chipmemory::idsize);
    return c;
}

// Copies a bench folder (bench.ini, the chip file) into a new place, with a
// fresh trace and the given faults line in the programmer's section.
inline void copybench(const fs::path &from, const fs::path &to, const std::string &faults) {
    fs::create_directories(to);
    fs::copy_file(from / "chip0.mem", to / "chip0.mem", fs::copy_options::overwrite_existing);
    std::string ini = readfile(from / "bench.ini");
    if (!faults.empty()) {
        const std::string section = "[programmer0]\n";
        size_t at = ini.find(section);
        if (at == std::string::npos) throw std::runtime_error("no [programmer0] in bench.ini");
        ini.insert(at + section.size(), "faults = " + faults + "\n");
    }
    writefile(to / "bench.ini", ini);
    std::error_code ec;
    fs::remove(to / "trace.txt", ec);
}

}  // namespace benchrun
