// The bench console's single operations: each asks for what it needs, makes
// one exchange with the programmer and writes its outcome.
#pragma once

namespace consoleops {

void testcomms();      // menu 3: the programmer's communications-test text
void readlocation();   // menu 4: one byte, table pointer loaded by core instructions
void printblock();     // menu 5: 1 to 44 bytes from a location
void writetest1();     // menu 8: 8 pattern bytes at 0, multi-panel writes off
void readlocation2();  // menu 9: one byte, table pointer loaded by settableptr
void writetest2();     // menu 10: 32 pattern bytes at 0 as one 4 x 8 panel write

// printblock reads at most this many bytes: the read script of count + 20
// bytes must fit one 64-byte packet.
inline constexpr int maxblock = 44;

}  // namespace consoleops
