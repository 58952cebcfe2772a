#include "firmware.h"

#include <cstdio>

#include "picmodel.h"

namespace firmware {

namespace {

constexpr uint8_t cmdversion = 0x50, cmdvpp = 0x51, cmdcomms = 0x52, cmdscript = 0x53;

enum stepop : uint8_t {
    opcore = 0x00,
    optablewrite = 0x0C,
    optablewritepostinc = 0x0D,
    optablewritestart = 0x0F,
    optablereadpostinc = 0x19,
    operasehold = 0x20,
    opsettableptr = 0x30,
    opprogramhold = 0x40,
    opconfigwrite = 0x60,
};

bool ispanelwrite(uint8_t op) { return (op & 0xD0) == 0x50; }  // 0x50-0x5F, 0x70-0x7F
uint32_t panelcountof(uint8_t op) { return 1u << ((op >> 2) & 3); }
uint32_t panelbytesof(uint8_t op) { return 8u << (op & 3); }

// The operand bytes after each op byte; -1 for an op byte outside the set.
int operandsize(uint8_t op) {
    switch (op) {
    case opcore: case optablewrite: case optablewritepostinc: case optablewritestart: case operasehold:
        return 2;
    case optablereadpostinc: case opprogramhold:
        return 0;
    case opsettableptr:
        return 3;
    case opconfigwrite:
        return 14;
    default:
        if (ispanelwrite(op)) return static_cast<int>(3 + panelcountof(op) * panelbytesof(op));
        return -1;
    }
}

struct step {
    uint8_t op;
    const uint8_t *operand;
};

std::string hex2(uint8_t b) {
    char buf[4];
    snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}
std::string hex4(uint16_t w) {
    char buf[8];
    snprintf(buf, sizeof buf, "%04X", w);
    return buf;
}

uint16_t wordat(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t addressat(const uint8_t *p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

// Splits a script into its steps and checks each against the protocol.
// Returns the violation, or an empty string when the script is sound.
std::string parsescript(const uint8_t *packet, size_t length, std::vector<step> &steps, size_t &reads) {
    const unsigned count = packet[1];
    size_t at = 2;
    reads = 0;
    for (unsigned k = 1; k <= count; ++k) {
        const std::string where = "step " + std::to_string(k) + " of " + std::to_string(count);
        if (at >= length)
            return "step count " + std::to_string(count) + " but the packet ends after " +
                   std::to_string(k - 1) + " steps";
        const uint8_t op = packet[at];
        const int size = operandsize(op);
        if (size < 0) return where + ": unknown op byte " + hex2(op) + " at offset " + std::to_string(at);
        if (at + 1 + size > length)
            return where + ": op " + hex2(op) + " needs " + std::to_string(size) + " operand bytes, the packet ends after " +
                   std::to_string(length - at - 1);
        const uint8_t *operand = packet + at + 1;
        if (op == opcore && !picmodel::knowninstruction(wordat(operand)))
            return where + ": instruction " + hex4(wordat(operand)) + " is not one the chip model knows";
        if (op == operasehold && wordat(operand) != 0)
            return where + ": erasehold word " + hex4(wordat(operand)) + ", not 0000";
        if (op == optablereadpostinc) ++reads;
        steps.push_back({op, operand});
        at += 1 + static_cast<size_t>(size);
    }
    if (at != length)
        return std::to_string(length - at) + " bytes after the last of " + std::to_string(count) + " steps";
    if (1 + reads > maxpacket) return "a reply of " + std::to_string(1 + reads) + " bytes does not fit 64";
    return "";
}

// One panelwrite step as the firmware clocks it out: each panel's bytes as
// 16-bit table writes with post-increment from address + i x the panel size;
// the very last word of a closing write ("5x") starts programming.
void panelwrite(const picmodel::target &t, uint8_t op, const uint8_t *operand) {
    const uint32_t n = panelcountof(op), b = panelbytesof(op);
    const bool last = (op & 0x20) == 0;
    const uint32_t address = addressat(operand);
    const uint8_t *data = operand + 3;
    const uint32_t panelsize = t.spec->attached ? t.spec->geometry.panelsize : 0;
    for (uint32_t i = 0; i < n; ++i) {
        picmodel::settableptr(t, address + i * panelsize);
        for (uint32_t j = 0; j < b; j += 2) {
            const uint16_t word = wordat(data + i * b + j);
            const bool final = last && i == n - 1 && j + 2 == b;
            picmodel::tablewrite(t, word, final ? picmodel::writemode::start : picmodel::writemode::postinc);
        }
    }
}

// The fourteen configuration bytes, each programmed on its own from the table
// pointer on, which the host has set to 0x300000.
bool configwrite(const picmodel::target &t, const uint8_t *operand, std::string &violation) {
    if (!picmodel::inprogrammingmode(t)) return true;
    const uint32_t at = t.chip->state->tblptr;
    if (at != chipmemory::configaddress) {
        char buf[96];
        snprintf(buf, sizeof buf, "configwrite with the table pointer at %06X, not 300000", at);
        violation = buf;
        return false;
    }
    for (uint32_t k = 0; k < chipmemory::configsize; ++k) {
        picmodel::settableptr(t, chipmemory::configaddress + k);
        picmodel::programconfig(t, k, operand[k]);
    }
    return true;
}

outcome runscript(const benchconfig::programmer &p, chipmemory::chip &c, const uint8_t *packet, size_t length) {
    outcome out;
    std::vector<step> steps;
    size_t reads = 0;
    out.violation = parsescript(packet, length, steps, reads);
    if (!out.violation.empty()) return out;

    const picmodel::target t{&c, &p.chip, &out.notes};
    out.reply.assign(1 + reads, 0);
    size_t r = 1;
    for (size_t k = 0; k < steps.size(); ++k) {
        const step &s = steps[k];
        switch (s.op) {
        case opcore: picmodel::coreinstruction(t, wordat(s.operand)); break;
        case optablewrite: picmodel::tablewrite(t, wordat(s.operand), picmodel::writemode::plain); break;
        case optablewritepostinc: picmodel::tablewrite(t, wordat(s.operand), picmodel::writemode::postinc); break;
        case optablewritestart: picmodel::tablewrite(t, wordat(s.operand), picmodel::writemode::start); break;
        case optablereadpostinc: out.reply[r++] = picmodel::tablereadpostinc(t); break;
        case operasehold: picmodel::erasehold(t); break;
        case opsettableptr:
            // The firmware loads TBLPTRU with the whole upper byte; the chip
            // keeps its low 6 bits, as a user-typed location may need.
            if (s.operand[0] > 0x3F)
                out.notes.push_back("address " + hex2(s.operand[0]) + hex2(s.operand[1]) + hex2(s.operand[2]) +
                                    " beyond 22 bits: the table pointer keeps the low 22");
            picmodel::settableptr(t, addressat(s.operand));
            break;
        case opprogramhold: break;  // programming already completed with the write that started it
        case opconfigwrite:
            if (!configwrite(t, s.operand, out.violation)) {
                out.violation = "step " + std::to_string(k + 1) + ": " + out.violation;
                out.reply.clear();
                return out;
            }
            break;
        default: panelwrite(t, s.op, s.operand); break;
        }
    }
    out.replied = true;
    return out;
}

}  // namespace

size_t expectedreply(const uint8_t *packet, size_t length) {
    if (length < 2 || length > maxpacket) return 0;
    switch (packet[0]) {
    case cmdversion: case cmdcomms: return length == 2 ? 8 : 0;
    case cmdvpp: return length == 2 && packet[1] <= 1 ? 1 : 0;
    case cmdscript: {
        std::vector<step> steps;
        size_t reads = 0;
        return parsescript(packet, length, steps, reads).empty() ? 1 + reads : 0;
    }
    default: return 0;
    }
}

outcome handlepacket(const benchconfig::programmer &p, chipmemory::chip &c, const uint8_t *packet, size_t length) {
    outcome out;
    if (length > maxpacket) {
        out.violation = "packet of " + std::to_string(length) + " bytes, longer than 64";
        return out;
    }
    if (length == 0) {
        out.violation = "empty packet";
        return out;
    }
    const uint8_t command = packet[0];
    if (command != cmdscript && command != cmdversion && command != cmdvpp && command != cmdcomms) {
        out.violation = "unknown command " + hex2(command);
        return out;
    }
    if (command != cmdscript && length != 2) {
        out.violation = "command " + hex2(command) + " of " + std::to_string(length) + " bytes, not 2";
        return out;
    }
    if (command == cmdscript && length < 2) {
        out.violation = "script packet without a step count";
        return out;
    }
    switch (command) {
    case cmdversion:
        // Last break version, then the firmware's own version; two bytes spare.
        out.reply = {p.lastbreak[0], p.lastbreak[1], p.lastbreak[2], p.firmware[0], p.firmware[1],
                     p.firmware[2], 0, 0};
        out.replied = true;
        return out;
    case cmdvpp: {
        if (packet[1] > 1) {
            out.violation = "Vpp argument " + hex2(packet[1]) + ", not 00 (on) or 01 (off)";
            return out;
        }
        const bool on = packet[1] == 0;
        picmodel::setvpp(picmodel::target{&c, &p.chip, &out.notes}, on);
        out.reply = {static_cast<uint8_t>(on ? 1 : 0)};
        out.replied = true;
        return out;
    }
    case cmdcomms:
        out.reply.assign(p.commstext.begin(), p.commstext.end());
        out.replied = true;
        return out;
    default:
        return runscript(p, c, packet, length);
    }
}

}  // namespace firmware
