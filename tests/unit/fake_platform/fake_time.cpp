// Fake platform: time and program services.
#include "fake_time.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace fake {
uint32_t nowMs = 0;
uint32_t totalSleptMs = 0;
std::vector<uint32_t> beeps;
char programPathText[300] = "C:\\norvalume\\norvalume.exe";

platform::SettingsClaim claimAnswer = platform::CLAIM_TAKEN;
std::string claimedPath;
bool claimHeld = false;
int consoleAttaches = 0;

void advance(uint32_t ms) { nowMs += ms; }

void resetTime() {
    nowMs = 0;
    totalSleptMs = 0;
    beeps.clear();
    std::strcpy(programPathText, "C:\\norvalume\\norvalume.exe");
    claimAnswer = platform::CLAIM_TAKEN;
    claimedPath.clear();
    claimHeld = false;
    consoleAttaches = 0;
}
}  // namespace fake

namespace platform {

uint32_t tickCount() { return fake::nowMs; }

void sleepMs(uint32_t ms) {
    fake::nowMs += ms;
    fake::totalSleptMs += ms;
}

uint32_t programPath(char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    size_t n = std::strlen(fake::programPathText);
    if (n >= size) n = size - 1;
    std::memcpy(buf, fake::programPathText, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}

void* programInstance() { return reinterpret_cast<void*>(0x400000); }

void attachParentConsole() { ++fake::consoleAttaches; }

SettingsClaim claimSettingsFile(const char* path) {
    fake::claimedPath = path ? path : "";
    fake::claimHeld = fake::claimAnswer == CLAIM_TAKEN;
    return fake::claimAnswer;
}

void releaseSettingsFile() { fake::claimHeld = false; }

void beep(uint32_t kind) { fake::beeps.push_back(kind); }

}  // namespace platform
