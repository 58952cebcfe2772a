// The target chip's memory and state in a file of the bench, memory-mapped so
// that everything the simulated chip did is in the file the moment it is
// done, whatever happens to the process afterwards.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace chipmemory {

inline constexpr uint32_t maxpanels = 16;
inline constexpr uint32_t idbuffer = maxpanels;  // the write buffer of the ID locations
inline constexpr uint32_t maxwritebuffer = 64;
inline constexpr uint32_t configaddress = 0x300000;
inline constexpr uint32_t configsize = 14;
inline constexpr uint32_t idaddress = 0x200000;
inline constexpr uint32_t idsize = 8;
inline constexpr size_t headersize = 4096;  // program memory starts here in the file

// The holding registers of one panel, loaded by table writes.
struct writebuffer {
    uint32_t rowbase;  // address of the row that the last table write went to
    uint8_t loaded;    // 1 once a table write went here since the last programming
    uint8_t pad[3];
    uint8_t bytes[maxwritebuffer];
};

// The file's header: layout marker, the chip's registers and small memories.
struct chipstate {
    char magic[8];       // "PWCHIP1"
    uint32_t flashsize;  // program memory bytes after the header
    uint8_t vpp;         // 1: programming voltage on (the chip is in programming mode)
    uint8_t wreg;        // W register
    uint8_t eecon1;      // EECON1
    uint8_t multipanel;  // 1: multi-panel writes enabled (0x3C0006 bit 6)
    uint32_t tblptr;     // 22-bit table pointer
    uint8_t erase4;      // erase control register 0x3C0004
    uint8_t erase5;      // erase control register 0x3C0005
    uint8_t pad[2];
    uint8_t config[configsize];  // 0x300000 to 0x30000D
    uint8_t pad2[2];
    uint8_t idlocs[idsize];      // 0x200000 to 0x200007
    writebuffer buffers[maxpanels + 1];
};
static_assert(sizeof(chipstate) <= headersize);

struct chip {
    chipstate *state = nullptr;
    uint8_t *flash = nullptr;  // flashsize bytes
    uint32_t flashsize = 0;
    void *map = nullptr;
    size_t maplen = 0;
    int fd = -1;
};

enum class openresult { opened, created, busy, failed };

// Opens the chip file at `path` and maps it. A missing file, or one whose
// program memory is not `flashsize` bytes, is (re)made as an erased chip.
// With `lock`, the file is locked for this process first (flock, not
// waiting): `busy` when another process holds it.
openresult openchip(const std::string &path, uint32_t flashsize, const std::array<uint8_t, 14> &configmask,
                    bool lock, chip &c, std::string &error);
void closechip(chip &c);

// Every memory to its erased state: program memory and ID locations 0xFF,
// configuration bytes all implemented bits set.
void erasememory(chip &c, const std::array<uint8_t, 14> &configmask);
// Leaves programming mode: registers, write buffers and erase registers cleared.
void resetregisters(chipstate &s);
void clearbuffers(chipstate &s);

}  // namespace chipmemory
