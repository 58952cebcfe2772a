// The bench's trace file: every packet and every reply, one line each, in
// hexadecimal, and every protocol violation, fault and ignored operation.
//
//   <instance> <ordinal> out <packet bytes>
//   <instance> <ordinal> in <reply bytes>
//   <instance> <ordinal> violation <what was wrong; no reply given>
//   <instance> <ordinal> fault <the fault served>
//   <instance> <ordinal> note <what the chip ignored>
//
// Bytes are two upper-case hex digits separated by one blank; the ordinal is
// the packet's number since the programmer was opened, from 1.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace simtrace {

// Opens (appending) the trace of the bench `dir`; off when `enabled` is false.
void opentrace(const std::string &dir, bool enabled);
void closetrace();
void writeline(uint32_t instance, uint32_t ordinal, const char *kind, const std::string &text);
void writebytes(uint32_t instance, uint32_t ordinal, const char *kind, const uint8_t *bytes, size_t length);
std::string hexbytes(const uint8_t *bytes, size_t length);

}  // namespace simtrace
