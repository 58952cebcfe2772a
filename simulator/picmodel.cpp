#include "picmodel.h"

#include <cstdio>
#include <cstring>

namespace picmodel {

namespace {

constexpr uint32_t pointermask = 0x3FFFFF;
constexpr uint8_t eepgd = 0x80, cfgs = 0x40;
constexpr uint32_t erasecontrol = 0x3C0004, erasecontrol2 = 0x3C0005, multipanelcontrol = 0x3C0006;
constexpr uint32_t deviceid1 = 0x3FFFFE, deviceid2 = 0x3FFFFF;

std::string hex6(uint32_t a) {
    char buf[16];
    snprintf(buf, sizeof buf, "%06X", a);
    return buf;
}

void note(const target &t, const std::string &text) {
    if (t.notes) t.notes->push_back(text);
}

bool inflash(const target &t, uint32_t a) { return a < t.chip->flashsize; }
bool inid(uint32_t a) { return a >= chipmemory::idaddress && a < chipmemory::idaddress + chipmemory::idsize; }

// The write buffer that a table write at `a` lands in: one per panel, and one
// for the ID locations.
chipmemory::writebuffer &bufferof(const target &t, uint32_t a) {
    auto &s = *t.chip->state;
    if (inid(a)) return s.buffers[chipmemory::idbuffer];
    return s.buffers[a / t.spec->geometry.panelsize];
}

uint32_t rowsize(const target &t, uint32_t a) {
    return inid(a) ? chipmemory::idsize : t.spec->geometry.writebuffer;
}

uint8_t *cell(const target &t, uint32_t a) {
    if (inflash(t, a)) return &t.chip->flash[a];
    if (inid(a)) return &t.chip->state->idlocs[a - chipmemory::idaddress];
    return nullptr;
}

// Flash cells only go from 1 to 0 when programmed: the new contents are the
// AND of old and new, as on the chip.
void programbuffer(const target &t, chipmemory::writebuffer &b, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i)
        if (uint8_t *p = cell(t, b.rowbase + i)) *p &= b.bytes[i];
    b.loaded = 0;
    std::memset(b.bytes, 0xFF, sizeof b.bytes);
}

// The table write with "start programming" at address `a`: with multi-panel
// writes enabled every loaded panel buffer is written at once, otherwise only
// the one that `a` lies in.
void startprogramming(const target &t, uint32_t a) {
    auto &s = *t.chip->state;
    if ((s.eecon1 & (eepgd | cfgs)) != eepgd) {
        note(t, "programming at " + hex6(a) + " ignored: EECON1 does not select program memory (EEPGD 1, CFGS 0)");
        chipmemory::clearbuffers(s);
        return;
    }
    if (s.multipanel && !inid(a)) {
        for (uint32_t p = 0; p < chipmemory::maxpanels; ++p)
            if (s.buffers[p].loaded) programbuffer(t, s.buffers[p], t.spec->geometry.writebuffer);
    } else {
        auto &b = bufferof(t, a);
        if (b.loaded) programbuffer(t, b, rowsize(t, a));
    }
    chipmemory::clearbuffers(s);
}

void bulkerase(const target &t) {
    chipmemory::erasememory(*t.chip, t.spec->configmask);
    chipmemory::clearbuffers(*t.chip->state);
}

// An armed erase runs during the NOP after the erase command (and its hold).
void runerase(const target &t) {
    auto &s = *t.chip->state;
    if (s.erase4 == 0 && s.erase5 == 0) return;
    const bool oldcommand = s.erase4 == 0x80;
    const bool newcommand = s.erase5 == 0x0F && s.erase4 == 0x87;
    const bool newpart = t.spec->geometry.newstyle;
    if ((oldcommand && !newpart) || (newcommand && newpart)) {
        bulkerase(t);
    } else if (oldcommand || newcommand) {
        note(t, std::string("bulk erase ignored: this part takes the ") + (newpart ? "new" : "old") +
                    "-style erase");
    } else if (s.erase4 != 0) {
        char buf[96];
        snprintf(buf, sizeof buf, "bulk erase ignored: erase command %02X %02X is not one this part knows",
                 s.erase5, s.erase4);
        note(t, buf);
    } else {
        return;  // only half of the new-style command so far
    }
    s.erase4 = 0;
    s.erase5 = 0;
}

}  // namespace

bool knowninstruction(uint16_t word) {
    if (word == 0x0000) return true;                 // NOP
    if ((word & 0xFF00) == 0x0E00) return true;      // MOVLW k
    if (word == 0x6EF8 || word == 0x6EF7 || word == 0x6EF6) return true;  // MOVWF TBLPTRU/H/L
    const uint16_t op = word & 0xF1FF;               // BSF/BCF with the bit number taken out
    if (op == 0x80A6 || op == 0x90A6) {
        const unsigned bit = (word >> 9) & 7;
        return bit == 7 || bit == 6 || bit == 3;
    }
    return false;
}

bool inprogrammingmode(const target &t) { return t.chip->state->vpp && t.spec->attached; }

void setvpp(const target &t, bool on) {
    auto &s = *t.chip->state;
    if (on && !s.vpp) chipmemory::resetregisters(s);
    if (!on) chipmemory::resetregisters(s);
    s.vpp = on ? 1 : 0;
}

void coreinstruction(const target &t, uint16_t word) {
    if (!inprogrammingmode(t)) return;
    auto &s = *t.chip->state;
    if (word == 0x0000) {
        runerase(t);
    } else if ((word & 0xFF00) == 0x0E00) {
        s.wreg = static_cast<uint8_t>(word);
    } else if (word == 0x6EF8) {
        s.tblptr = (s.tblptr & 0x00FFFF) | (static_cast<uint32_t>(s.wreg & 0x3F) << 16);
    } else if (word == 0x6EF7) {
        s.tblptr = (s.tblptr & 0x3F00FF) | (static_cast<uint32_t>(s.wreg) << 8);
    } else if (word == 0x6EF6) {
        s.tblptr = (s.tblptr & 0x3FFF00) | s.wreg;
    } else if ((word & 0xF1FF) == 0x80A6) {
        s.eecon1 |= static_cast<uint8_t>(1u << ((word >> 9) & 7));
    } else if ((word & 0xF1FF) == 0x90A6) {
        s.eecon1 &= static_cast<uint8_t>(~(1u << ((word >> 9) & 7)));
    }
}

uint8_t peek(const chipmemory::chip &c, const benchconfig::target &spec, uint32_t a) {
    if (!spec.attached) return 0;
    if (a < c.flashsize) return c.flash[a];
    if (a >= chipmemory::idaddress && a < chipmemory::idaddress + chipmemory::idsize)
        return c.state->idlocs[a - chipmemory::idaddress];
    if (a >= chipmemory::configaddress && a < chipmemory::configaddress + chipmemory::configsize)
        return c.state->config[a - chipmemory::configaddress];
    if (a == deviceid1) return static_cast<uint8_t>((spec.geometry.deviceid & 0xE0) | (spec.revision & 0x1F));
    if (a == deviceid2) return static_cast<uint8_t>(spec.geometry.deviceid >> 8);
    return 0;
}

uint8_t tablereadpostinc(const target &t) {
    if (!inprogrammingmode(t)) return 0;
    auto &s = *t.chip->state;
    const uint8_t v = peek(*t.chip, *t.spec, s.tblptr);
    s.tblptr = (s.tblptr + 1) & pointermask;
    return v;
}

void tablewrite(const target &t, uint16_t word, writemode mode) {
    if (!inprogrammingmode(t)) return;
    auto &s = *t.chip->state;
    const uint32_t a = s.tblptr;
    const uint8_t low = static_cast<uint8_t>(word), high = static_cast<uint8_t>(word >> 8);
    const uint8_t bytehere = (a & 1) ? high : low;  // byte-wide registers take the byte of their parity

    if (inflash(t, a) || inid(a)) {
        auto &b = bufferof(t, a);
        const uint32_t size = rowsize(t, a);
        const uint32_t even = a & ~1u;
        b.bytes[even % size] = low;
        b.bytes[(even + 1) % size] = high;
        b.rowbase = even - even % size;
        b.loaded = 1;
        if (mode == writemode::start) startprogramming(t, a);
    } else if (a == erasecontrol) {
        s.erase4 = bytehere;
    } else if (a == erasecontrol2) {
        s.erase5 = bytehere;
    } else if (a == multipanelcontrol) {
        s.multipanel = (bytehere & 0x40) ? 1 : 0;
    } else if (a >= chipmemory::configaddress && a < chipmemory::configaddress + chipmemory::configsize) {
        if (mode == writemode::start) programconfig(t, a - chipmemory::configaddress, bytehere);
    }
    if (mode == writemode::postinc) s.tblptr = (s.tblptr + 2) & pointermask;
}

void settableptr(const target &t, uint32_t address) {
    if (!inprogrammingmode(t)) return;
    t.chip->state->tblptr = address & pointermask;
}

void erasehold(const target &t) {
    if (!inprogrammingmode(t)) return;
    runerase(t);
}

void programconfig(const target &t, uint32_t index, uint8_t value) {
    if (!inprogrammingmode(t) || index >= chipmemory::configsize) return;
    auto &s = *t.chip->state;
    if ((s.eecon1 & (eepgd | cfgs)) != (eepgd | cfgs)) {
        note(t, "configuration write at " + hex6(chipmemory::configaddress + index) +
                    " ignored: EECON1 does not select configuration memory (EEPGD 1, CFGS 1)");
        return;
    }
    // Configuration cells are written byte by byte, not ANDed; bits the part
    // does not implement stay 0.
    s.config[index] = value & t.spec->configmask[index];
}

}  // namespace picmodel
