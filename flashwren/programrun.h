// The programming run: one HEX file into the chip, from opening the
// programmer to lowering Vpp and closing it.
#pragma once
#include <cstdint>
#include <vector>

namespace programrun {

// The bytes globaldata::memimage points at; sized and filled by allocateimage.
extern std::vector<uint8_t> imagestore;

// The whole run, as flashwren's main runs it: argv[1] names the HEX file,
// standard input when there is none.
void run(int argc, char **argv);

// imagesize = panelsize x panelcount of a checked device entry; memimage that
// many bytes of 0xFF.
void allocateimage();

// Whether any byte of the write group at this offset, in any panel, differs
// from 0xFF.
bool groupholdsdata(int32_t offset);

// Sends every write group that holds data, a "*" after every sixteenth group,
// then the line end.
void writegroups();

void reset();

}  // namespace programrun
