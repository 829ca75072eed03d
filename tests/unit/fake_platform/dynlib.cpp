// Dynamic-library and registry services (placeholder until device binding lands).
#include "platform/platform.h"

namespace platform {
LibraryRef loadLibrary(const char*) { return nullptr; }
void* librarySymbol(LibraryRef, const char*) { return nullptr; }
void freeLibrary(LibraryRef) {}
int32_t registryGetString(const char*, const char*, char*, uint32_t) { return -1; }
}  // namespace platform
