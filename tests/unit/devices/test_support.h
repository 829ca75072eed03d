// Helpers for the device-output tests: a bound fake panel library and the log lines its
// entry points write.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "devices/devices.h"
#include "fake_platform/fake_dl.h"

// The expected log line of a segments entry point: the given bytes, then zeros to 16.
inline std::string segmentLine(const char* name, int unit, std::initializer_list<int> bytes) {
    std::string line = std::string(name) + " " + std::to_string(unit);
    int n = 0;
    char buf[4];
    for (int b : bytes) {
        std::snprintf(buf, sizeof buf, " %02X", b);
        line += buf;
        ++n;
    }
    for (; n < 16; ++n) line += " 00";
    return line;
}

// Six 0xFF then nine 0x00: the test pattern as segments.
inline std::string patternLine(const char* name, int unit) {
    return segmentLine(name, unit, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

class BoundLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        fake::installFakeLibrary();
        resetDevices();
        ASSERT_TRUE(bindDeviceLibrary(nullptr));
        fake::clearDlLog();
    }
    void TearDown() override {
        unbindDeviceLibrary();
        fake::removeFakeLibrary();
    }
};
