// Command packets and the ICSP script builder.
#pragma once
#include <array>
#include <cstdint>

namespace packets {

inline constexpr int maxpacket = 64;

// Command letters.
inline constexpr uint8_t versionquery = 0x50;  // "P"
inline constexpr uint8_t vppcontrol = 0x51;    // "Q"
inline constexpr uint8_t commstest = 0x52;     // "R"
inline constexpr uint8_t scriptpacket = 0x53;  // "S"

// Script step op bytes.
inline constexpr uint8_t coreinstruction = 0x00;
inline constexpr uint8_t tablewrite = 0x0C;
inline constexpr uint8_t tablewritepostinc = 0x0D;
inline constexpr uint8_t tablewritestart = 0x0F;
inline constexpr uint8_t tablereadpostinc = 0x19;
inline constexpr uint8_t erasehold = 0x20;
inline constexpr uint8_t settableptr = 0x30;
inline constexpr uint8_t programhold = 0x40;
inline constexpr uint8_t configwrite = 0x60;

// Instruction words of coreinstruction steps.
inline constexpr uint16_t nop = 0x0000;
inline constexpr uint16_t movlw = 0x0E00;  // + k
inline constexpr uint16_t movwftblptru = 0x6EF8;
inline constexpr uint16_t movwftblptrh = 0x6EF7;
inline constexpr uint16_t movwftblptrl = 0x6EF6;
inline constexpr uint16_t bsfeepgd = 0x8EA6;
inline constexpr uint16_t bsfcfgs = 0x8CA6;
inline constexpr uint16_t bsfbit3 = 0x86A6;
inline constexpr uint16_t bcfcfgs = 0x9CA6;

// A target address as three bytes upper, high, low: the low 8 bits of the
// address divided by 65536, by 256 and by 1, the divisions truncating toward zero.
struct addressbytes {
    uint8_t upper, high, low;
};
addressbytes splitaddress(int32_t address);

// The panelwrite op byte for n panels of b bytes: 0x50 + 4 round(log2 n) +
// round(log2(b/8)), plus 0x20 when more panel writes of the group follow.
uint8_t panelwriteop(int32_t n, int32_t b, bool lastgroup);

// A script packet under construction in a 64-byte buffer: 0x53, the step
// count, then the steps back to back. The builder counts steps and reads, so
// the packet length and the expected reply length come out of it.
struct script {
    std::array<uint8_t, maxpacket> bytes{};
    int32_t length = 2;  // packet length so far
    int32_t steps = 0;
    int32_t reads = 0;   // tablereadpostinc steps
    bool overflow = false;  // a step did not fit in 64 bytes (nothing of it was added)
};

void beginscript(script &s);
void addcore(script &s, uint16_t instruction);
void addword(script &s, uint8_t op, uint16_t word);  // tablewrite/postinc/start, erasehold
void addread(script &s);                             // tablereadpostinc
void addsettableptr(script &s, int32_t address);
void addprogramhold(script &s);
void addpanelwrite(script &s, uint8_t op, int32_t address, const uint8_t *data, int32_t count);
void addconfigwrite(script &s, const uint8_t *fourteen);
// The finished packet: bytes[1] holds the step count. Expected reply 1 + reads.
int32_t replylengthof(const script &s);

}  // namespace packets
