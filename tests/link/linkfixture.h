// Common ground of the link tests: process-wide state reset, the console
// captured, and the scripted device checked for unused exchanges at the end.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>

#include "fakempusb.h"
#include "globaldata.h"
#include "picprocs.h"
#include "usbprocs.h"

class linkfixture : public testing::Test {
protected:
    void SetUp() override {
        usbprocs::reset();
        globaldata::reset();
        picprocs::reset();
        fakempusb::reset();
        saved = std::cout.rdbuf(console.rdbuf());
    }
    void TearDown() override {
        std::cout.rdbuf(saved);
        EXPECT_EQ(fakempusb::pending(), 0u) << "queued exchanges were never sent";
    }

    // Both pipes open as after a successful openprogrammer, without its calls.
    void openlink() {
        auto [out, in] = fakempusb::openpipes();
        usbprocs::outpipe = out;
        usbprocs::inpipe = in;
    }

    std::string output() const { return console.str(); }

    std::ostringstream console;
    std::streambuf *saved = nullptr;
};

inline bytestring bytes(std::initializer_list<int> values) {
    bytestring b;
    for (int v : values) b.push_back(static_cast<uint8_t>(v));
    return b;
}

// A scripted exchange whose reply has `replysize` bytes (values 0xA0, 0xA1, ...).
inline fakempusb::exchange answered(const bytestring &packet, uint32_t readlength,
                                    size_t replysize) {
    fakempusb::exchange e;
    e.packet = packet;
    e.readlength = readlength;
    for (size_t i = 0; i < replysize; ++i) e.reply.push_back(static_cast<uint8_t>(0xA0 + i));
    return e;
}

// The console line of a recoverable USB failure, line end included.
inline const std::string failedline = "USB Operation Failed\\r\\n\n";
