#include "consoleops.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "bytestring.h"
#include "consoleinput.h"
#include "packets.h"
#include "picprocs.h"
#include "usbprocs.h"

namespace consoleops {

namespace {

using usbprocs::transfertimeout;

// "05", "AB": always two upper-case digits.
std::string hexbyte(uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

int32_t asklocation() {
    std::cout << "enter location\n";
    return consoleinput::readinteger(std::cin);
}

// Both single-byte reads: send the script, show the byte read (reply byte 1)
// and then the reply length as the exchange left it.
void readonebyte(const uint8_t *packet, int32_t packetlength) {
    std::array<uint8_t, packets::maxpacket> reply{};
    int32_t replylength = 2;  // reply byte 0, then the byte read
    int32_t result = usbprocs::usbtransfer(packet, packetlength, reply.data(), replylength,
                                           transfertimeout, transfertimeout);
    if (result == 1)
        std::cout << "success-" << hexbyte(reply[1]) << "\n";
    else
        std::cout << picprocs::usbfailed << "\n";
    std::cout << replylength << "\n";
}

// Both write tests: a fixed script whose one-byte reply only says it is done.
void sendwritetest(const uint8_t *script, int32_t scriptlength) {
    std::array<uint8_t, packets::maxpacket> packet{};
    std::array<uint8_t, packets::maxpacket> reply{};
    for (int32_t i = 0; i < scriptlength; ++i) packet[i] = script[i];
    int32_t replylength = 1;
    int32_t result = usbprocs::usbtransfer(packet.data(), scriptlength, reply.data(), replylength,
                                           transfertimeout, transfertimeout);
    std::cout << (result == 1 ? "success" : picprocs::usbfailed) << "\n";
}

// Both write tests begin alike: in configuration space they write the
// multi-panel write enable at 0x3C0006, then they go back to program memory.
//
// writetest1: the first 8 bytes of the pattern (1, 1, and each byte the sum
// of the two before it, modulo 256) as four two-byte table writes, the last of
// which starts the programming.
constexpr std::array<uint8_t, 41> writetest1script = {
    0x53,              // scriptpacket
    0x0D,              // 13 steps
    0x00, 0xA6, 0x8E,  // coreinstruction 0x8EA6: BSF EECON1, EEPGD
    0x00, 0xA6, 0x8C,  // coreinstruction 0x8CA6: BSF EECON1, CFGS
    0x00, 0xA6, 0x86,  // coreinstruction 0x86A6: BSF EECON1, 3
    0x30, 0x3C, 0x00, 0x06,  // settableptr 0x3C0006
    0x0C, 0x00, 0x00,  // tablewrite 0x0000: multi-panel writes off
    0x00, 0xA6, 0x8E,  // coreinstruction 0x8EA6: BSF EECON1, EEPGD
    0x00, 0xA6, 0x9C,  // coreinstruction 0x9CA6: BCF EECON1, CFGS
    0x30, 0x00, 0x00, 0x00,  // settableptr 0x000000
    0x0D, 0x01, 0x01,  // tablewritepostinc, pattern bytes 1-2
    0x0D, 0x02, 0x03,  // tablewritepostinc, pattern bytes 3-4
    0x0D, 0x05, 0x08,  // tablewritepostinc, pattern bytes 5-6
    0x0F, 0x0D, 0x15,  // tablewritestart, pattern bytes 7-8
    0x40,              // programhold
};

// writetest2: the first 32 bytes of the pattern as one panel write of four
// panels of 8 bytes at address 0.
constexpr std::array<uint8_t, 61> writetest2script = {
    0x53,              // scriptpacket
    0x09,              // 9 steps
    0x00, 0xA6, 0x8E,  // coreinstruction 0x8EA6: BSF EECON1, EEPGD
    0x00, 0xA6, 0x8C,  // coreinstruction 0x8CA6: BSF EECON1, CFGS
    0x00, 0xA6, 0x86,  // coreinstruction 0x86A6: BSF EECON1, 3
    0x30, 0x3C, 0x00, 0x06,  // settableptr 0x3C0006
    0x0C, 0x40, 0x00,  // tablewrite 0x0040: multi-panel writes on
    0x00, 0xA6, 0x8E,  // coreinstruction 0x8EA6: BSF EECON1, EEPGD
    0x00, 0xA6, 0x9C,  // coreinstruction 0x9CA6: BCF EECON1, CFGS
    0x58,              // panelwrite, last group, 4 panels of 8 bytes
    0x00, 0x00, 0x00,  // start address 0x000000: upper, high, low
    0x01, 0x01, 0x02, 0x03, 0x05, 0x08, 0x0D, 0x15,  // pattern bytes 1-8 (panel 0)
    0x22, 0x37, 0x59, 0x90, 0xE9, 0x79, 0x62, 0xDB,  // pattern bytes 9-16 (panel 1)
    0x3D, 0x18, 0x55, 0x6D, 0xC2, 0x2F, 0xF1, 0x20,  // pattern bytes 17-24 (panel 2)
    0x11, 0x31, 0x42, 0x73, 0xB5, 0x28, 0xDD, 0x05,  // pattern bytes 25-32 (panel 3)
    0x40,              // programhold
};

}  // namespace

void testcomms() {
    std::array<uint8_t, packets::maxpacket> packet{};
    std::array<uint8_t, packets::maxpacket> reply{};
    packet[0] = packets::commstest;  // "R"; byte 1 carries no value
    int32_t replylength = 8;         // 8 bytes of text
    int32_t result = usbprocs::usbtransfer(packet.data(), 2, reply.data(), replylength,
                                           transfertimeout, transfertimeout);
    if (result != 1) {
        std::cout << picprocs::usbfailed << "\n";
        return;
    }
    // The text runs up to the first zero byte, or all 8 bytes when none is zero.
    std::string text;
    for (int i = 0; i < 8 && reply[i] != 0; ++i) text += static_cast<char>(reply[i]);
    std::cout << "success-" << text << "\n";
}

void readlocation() {
    packets::addressbytes a = packets::splitaddress(asklocation());
    std::array<uint8_t, packets::maxpacket> packet{};
    packet[0] = packets::scriptpacket;
    packet[1] = 7;                          // 7 steps
    packet[2] = packets::coreinstruction;   // MOVLW upper
    packet[3] = a.upper;
    packet[4] = 0x0E;
    packet[5] = packets::coreinstruction;   // 0x6EF8: MOVWF TBLPTRU
    packet[6] = 0xF8;
    packet[7] = 0x6E;
    packet[8] = packets::coreinstruction;   // MOVLW high
    packet[9] = a.high;
    packet[10] = 0x0E;
    packet[11] = packets::coreinstruction;  // 0x6EF7: MOVWF TBLPTRH
    packet[12] = 0xF7;
    packet[13] = 0x6E;
    packet[14] = packets::coreinstruction;  // MOVLW low
    packet[15] = a.low;
    packet[16] = 0x0E;
    packet[17] = packets::coreinstruction;  // 0x6EF6: MOVWF TBLPTRL
    packet[18] = 0xF6;
    packet[19] = 0x6E;
    packet[20] = packets::tablereadpostinc;  // its byte is reply byte 1
    readonebyte(packet.data(), 21);
}

void readlocation2() {
    packets::addressbytes a = packets::splitaddress(asklocation());
    std::array<uint8_t, packets::maxpacket> packet{};
    packet[0] = packets::scriptpacket;
    packet[1] = 2;                        // 2 steps
    packet[2] = packets::settableptr;
    packet[3] = a.upper;                  // address, upper byte
    packet[4] = a.high;                   // address, high byte
    packet[5] = a.low;                    // address, low byte
    packet[6] = packets::tablereadpostinc;  // its byte is reply byte 1
    readonebyte(packet.data(), 7);
}

void printblock() {
    int32_t location = asklocation();
    std::cout << "enter count\n";
    int32_t count = consoleinput::readinteger(std::cin);
    // One read script holds at most maxblock reads, and a count of 0 would
    // read nothing and then look like a broken link: refuse both before
    // anything is sent.
    if (count < 1 || count > maxblock) {
        std::cout << "error-count must be 1 to " << maxblock << "\n";
        return;
    }
    bytestring block = picprocs::readblock(location, static_cast<uint8_t>(count));
    if (block.empty()) {
        std::cout << picprocs::usbfailed << "\n";
        return;
    }
    std::cout << "success-";
    for (uint8_t b : block) std::cout << hexbyte(b) << " ";
    std::cout << "\n";
}

void writetest1() {
    sendwritetest(writetest1script.data(), static_cast<int32_t>(writetest1script.size()));
}

void writetest2() {
    sendwritetest(writetest2script.data(), static_cast<int32_t>(writetest2script.size()));
}

}  // namespace consoleops
