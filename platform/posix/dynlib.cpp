// Dynamic libraries and the registry on Linux. Library names arrive Windows-style and
// are mapped to shared objects (GFDEV.DLL -> libgfdev.so); the registry is not there,
// so a read of a value named "Path" answers from the environment variable GFCONFIG_PATH.
#include <dlfcn.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// "C:\dir\NAME.DLL" -> "C:/dir/libname.so"; names not ending in .dll keep their file part.
std::string sharedObjectName(const char* nameOrPath) {
    std::string path(nameOrPath);
    for (char& c : path)
        if (c == '\\') c = '/';
    size_t slash = path.rfind('/');
    size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    std::string file = path.substr(fileStart);
    if (file.size() > 4) {
        std::string ext = file.substr(file.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dll") {
            std::string stem = file.substr(0, file.size() - 4);
            for (char& c : stem)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            file = "lib" + stem + ".so";
        }
    }
    return path.substr(0, fileStart) + file;
}

// dlopen, noting whether a failure was a shared object of the other word size.
void* openNoting(const std::string& name, bool* otherBitness) {
    void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h && otherBitness) {
        const char* why = dlerror();
        if (why && std::strstr(why, "wrong ELF class")) *otherBitness = true;
    }
    return h;
}

}  // namespace

LibraryRef loadLibrary(const char* nameOrPath, bool* otherBitness) {
    if (otherBitness) *otherBitness = false;
    if (!nameOrPath || !*nameOrPath) return nullptr;
    std::string name = sharedObjectName(nameOrPath);
    if (name.find('/') == std::string::npos) {
        // Windows looks in the program's own folder before the system's search path.
        char exe[4096];
        uint32_t n = programPath(exe, sizeof exe);
        if (n > 0) {
            std::string beside(exe, n);
            size_t slash = beside.rfind('/');
            if (slash != std::string::npos) {
                beside = beside.substr(0, slash + 1) + name;
                if (void* h = openNoting(beside, otherBitness)) return h;
            }
        }
    }
    void* h = openNoting(name, otherBitness);
    if (h && otherBitness) *otherBitness = false;
    return h;
}

void* librarySymbol(LibraryRef library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

void freeLibrary(LibraryRef library) {
    if (library) dlclose(library);
}

int32_t registryGetString(const char* subKey, const char* valueName, char* buf,
                          uint32_t size) {
    if (!subKey || !valueName || !buf) return -1;
    if (std::strcmp(valueName, "Path") != 0) return -1;
    const char* value = std::getenv("GFCONFIG_PATH");
    if (!value) return -1;
    // Like a registry string: the data includes its terminator, and data that does not
    // fit the buffer is not read at all.
    size_t n = std::strlen(value) + 1;
    if (n > size) return -1;
    std::memcpy(buf, value, n);
    return static_cast<int32_t>(n);
}

}  // namespace platform
