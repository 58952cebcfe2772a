// Errors that end a run, and the two-line report that main writes for them.
#pragma once
#include <ostream>
#include <stdexcept>
#include <string>

namespace runerror {

// The kind names the run-time class of the error, as it appears in the report.
inline constexpr const char *kexception = "Exception";
inline constexpr const char *kinouterror = "EInOutError";
inline constexpr const char *kfcreateerror = "EFCreateError";

struct runfailure : std::runtime_error {
    std::string kind;
    runfailure(const char *k, const std::string &message) : std::runtime_error(message), kind(k) {}
};

// Ends the program with exit code 0 without a report: "no devices found".
struct quietend {};

[[noreturn]] void fail(const std::string &message);            // kind Exception
[[noreturn]] void failio(const std::string &message);          // kind EInOutError
[[noreturn]] void failcreate(const std::string &filename);     // "Cannot create file %s"

// The I/O error message for an errno from opening a file for reading:
// "File not found", "Invalid filename", "File access denied" or "I/O error %d".
std::string iomessage(int err);

// The file name of the running executable ("flashwren"), for the report.
std::string modulename();

// Writes the report:
//   Exception <kind> in module <module> at <8 hex digits>.\n<message>[.]\n
void writereport(std::ostream &out, const runfailure &e, const std::string &module);

// The code location shown in the report: a stable 32-bit tag of the message,
// so that the same failure gives byte-identical reports from run to run.
unsigned codelocation(const std::string &message);

// The whole of a program's main: runs body, and for an error that ends the run
// writes the report to `reportto` and gives exit code 1; quietend gives 0.
// A program without a console passes a title ("Application Error"), written
// as a line of its own above the report.
int runguarded(void (*body)(int, char **), int argc, char **argv, std::ostream &reportto,
               const char *title = nullptr);

}  // namespace runerror
