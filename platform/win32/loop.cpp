// Event-loop services (placeholder until the loop lands).
#include "platform/platform.h"

namespace platform {
bool registerMainClass(const char*, const WindowHandlers*) { return false; }
bool createMainWindow(const char*) { return false; }
void showMainMinimised() {}
void setTitle(const char*) {}
void setTimer(uint32_t, uint32_t) {}
void killTimer(uint32_t) {}
int runMainLoop() { return 0; }
void closeMainWindow() {}
bool postToLoop(void (*)()) { return false; }
}  // namespace platform
