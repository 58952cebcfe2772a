// Output files: created with replace semantics (a new file, or an existing one
// cut to length 0), opened for reading and writing and not shared while open
// (an exclusive advisory lock that a second opener cannot take).
#pragma once
#include <string>

namespace outputfile {

// The open file descriptor; raises "Cannot create file <name>" (EFCreateError)
// when the file cannot be created or another process holds it.
int createoutputfile(const std::string &name);

// Closes it (which also drops the lock). Returns false when the close reported
// an error, so that nothing written is lost silently.
bool closeoutputfile(int fd);

// Ends the run after a failed or short write (or close) of the file:
// "Cannot write file <name>: <reason>" (EInOutError), err the errno.
[[noreturn]] void failwrite(const std::string &name, int err);

}  // namespace outputfile
