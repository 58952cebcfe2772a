// A programmer on a umockdev testbed, served to the real libusb: its usbdevfs
// requests are answered here, and its bulk pipes play a script of exchanges,
// each expected OUT packet paired with the IN reply that follows it.
#pragma once
#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bytestring.h"

namespace fakeprogrammer {

// How the device takes an OUT packet, or answers the IN request after it.
enum class act {
    answer,   // OUT accepted; IN answered with the reply
    stall,    // the endpoint halts until the host clears it
    silence,  // nothing happens: the host's request times out
};

struct exchange {
    bytestring out;             // the packet the device expects
    bytestring in;              // its reply (may be longer than a packet)
    act onout = act::answer;
    act onin = act::answer;
};

// A request libusb has submitted, until it is reaped.
struct urb {
    UMockdevIoctlClient *client;  // the connection it came on (one per open)
    UMockdevIoctlData *data;      // the usbdevfs_urb, as resolved
    UMockdevIoctlData *buffer;    // its data buffer, as resolved
};

struct device {
    // Set by plug() in usbbus.cpp.
    std::string syspath;  // /sys/devices/...
    std::string devnode;  // /dev/bus/usb/BBB/DDD
    UMockdevIoctlBase *handler = nullptr;

    // Everything below is shared with umockdev's worker thread.
    std::mutex lock;
    std::deque<exchange> script;
    std::optional<exchange> answering;  // the exchange whose IN reply is due
    std::vector<urb> inflight;
    std::vector<urb> completed;
    bool halted[2] = {false, false};  // endpoint 0x01, endpoint 0x81
    bool gone = false;
    UMockdevIoctlClient *claimedby = nullptr;  // interface 0
    int claims = 0;                            // claims granted so far
    std::vector<UMockdevIoctlClient *> connections;  // one per open of the node
    std::vector<std::string> problems;         // mismatches and surprises
};

// Attaches the request handler; the device starts with an empty script.
void attach(device &d);
// Detaches the handler and drops whatever libusb left in flight.
void detach(device &d);

void expect(device &d, const exchange &e);
// The device disappears: requests in flight end with "no device", new ones fail.
void unplug(device &d);

// What is left of the script, and every problem seen, as text; empty when the
// device was used exactly as scripted.
std::string leftover(device &d);
bool claimed(device &d);
int claims(device &d);
// Connections to the device node still open.
int clients(device &d);

// "50 00 1F" for a problem report.
std::string hex(const bytestring &bytes);

}  // namespace fakeprogrammer
