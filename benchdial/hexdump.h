// The memory dump: the first 32 KB of program memory to an Intel HEX file.
#pragma once

namespace hexdump {

inline constexpr int reads = 1024;         // 32 bytes each: addresses 0 to 0x7FFF
inline constexpr int readsize = 32;
inline constexpr int recordsize = 16;      // two data records a read
inline constexpr int readspermark = 16;    // one "*" every 16 reads, 64 in all

// Asks for the file name (the whole line), creates the file (replace
// semantics, not shared while open; raises "Cannot create file <name>") and
// writes the dump with progress marks. A failed read or write stops it with
// one line, "error-reading aborted" or "error-writing aborted"; the file is
// closed on every way out.
void dumphexfile();

}  // namespace hexdump
