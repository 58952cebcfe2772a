// The PIC18 target under ICSP, as far as the programmer's scripts reach: the
// core instructions they use, the 22-bit table pointer, table reads and
// writes, the write buffers, bulk erase and flash programming.
//
// Without Vpp the chip is not in programming mode: it reads 0 and ignores
// everything else. With no chip attached the same holds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "benchconfig.h"
#include "chipmemory.h"

namespace picmodel {

// One chip as the firmware drives it. `notes` collects what the chip ignored
// and why (a wrong erase style, a write without the EECON1 set-up), for the
// trace.
struct target {
    chipmemory::chip *chip = nullptr;
    const benchconfig::target *spec = nullptr;
    std::vector<std::string> *notes = nullptr;
};

enum class writemode { plain, postinc, start };  // ICSP 1100, 1101, 1111

// True for the instruction words the model executes: NOP, MOVLW k, MOVWF to
// TBLPTRU/H/L, and BSF/BCF of EECON1 bits 7 (EEPGD), 6 (CFGS) and 3.
bool knowninstruction(uint16_t word);

bool inprogrammingmode(const target &t);
void setvpp(const target &t, bool on);  // raising from off enters programming mode afresh
void coreinstruction(const target &t, uint16_t word);
uint8_t tablereadpostinc(const target &t);
void tablewrite(const target &t, uint16_t word, writemode mode);
void settableptr(const target &t, uint32_t address);
void erasehold(const target &t);
// Programs one configuration byte at 0x300000 + index (EEPGD and CFGS set).
void programconfig(const target &t, uint32_t index, uint8_t value);

// What a table read at `address` gives in programming mode; also what the
// bench tools show. Outside implemented memory this is 0.
uint8_t peek(const chipmemory::chip &c, const benchconfig::target &spec, uint32_t address);

}  // namespace picmodel
