// The INI engine's file access on Windows: one read through a handle, a new file beside the
// old one that MoveFileEx puts in its place in one rename, and the write into a
// hard-linked file itself. ReplaceFile is not used: Wine carries it out as "move the old
// file away, delete it, move the new one in", which leaves no file at all in between.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/common/file_access.h"

namespace ini {

namespace {

// FILETIME counts 100 ns steps since 1601.
int64_t nanoseconds(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                t.dwLowDateTime) * 100;
}

uint64_t join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

FileState stateOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileState s;
    s.exists = true;
    s.volume = info.dwVolumeSerialNumber;
    s.fileId = join(info.nFileIndexHigh, info.nFileIndexLow);
    s.size = join(info.nFileSizeHigh, info.nFileSizeLow);
    s.modified = nanoseconds(info.ftLastWriteTime);
    s.links = info.nNumberOfLinks;
    s.mode = info.dwFileAttributes;
    return s;
}

bool missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the file at `path` to look at (`access` 0) or read it. Directories do not open.
HANDLE openExisting(const char* path, DWORD access) {
    return CreateFileA(path, access, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// What the open `file` is, false for a directory.
bool plainFileInfo(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    return GetFileInformationByHandle(file, info) != 0 &&
           !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Reads to the end, wherever it is now: a save that grows the file meanwhile makes the
// batch see a changed file at its end, never a short read.
bool readAll(HANDLE file, uint64_t size, std::string* out) {
    if (size <= MAX_FILE_SIZE) out->reserve(static_cast<size_t>(size));
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return false;
        if (got == 0) return true;
        if (out->size() + got > MAX_FILE_SIZE) return false;
        out->append(chunk, got);
    }
}

bool writeAll(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        DWORD want = static_cast<DWORD>(text.size() - done);
        if (!WriteFile(file, text.data() + done, want, &wrote, nullptr) || wrote == 0)
            return false;
        done += wrote;
    }
    return true;
}

// The attributes a new copy takes over from the file it replaces.
constexpr DWORD KEPT_ATTRIBUTES =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

bool statPath(const char* path, FileState* state) {
    *state = FileState{};
    HANDLE file = openExisting(path, 0);
    if (file == INVALID_HANDLE_VALUE) {
        if (missing(GetLastError())) return true;
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = plainFileInfo(file, &info);
    CloseHandle(file);
    if (ok) *state = stateOf(info);
    return ok;
}

bool glanceAt(const char* path, FileState* state) {
    *state = FileState{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    state->exists = true;
    state->size = join(data.nFileSizeHigh, data.nFileSizeLow);
    state->modified = nanoseconds(data.ftLastWriteTime);
    state->mode = data.dwFileAttributes;
    return true;
}

bool canRead(const char* path) {
    if (!path) return false;
    HANDLE file = openExisting(path, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool plain = plainFileInfo(file, &info);
    CloseHandle(file);
    return plain;
}

bool readFile(const char* path, std::string* out, FileState* state) {
    out->clear();
    if (state) *state = FileState{};
    if (!path) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = plainFileInfo(file, &info) &&
              readAll(file, join(info.nFileSizeHigh, info.nFileSizeLow), out);
    CloseHandle(file);
    if (!ok) {
        out->clear();
        return false;
    }
    if (state) *state = stateOf(info);
    return true;
}

bool userMayWrite(const char*, const FileState& state) {
    return !(state.mode & FILE_ATTRIBUTE_READONLY);
}

bool resolvePath(const char* path, std::string* out) {
    HANDLE file = openExisting(path, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    char final[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleA(file, final, sizeof final, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (n == 0 || n >= sizeof final) return false;
    // The answer is in the long-path form: \\?\C:\dir\file or \\?\UNC\server\share\file.
    if (std::strncmp(final, "\\\\?\\UNC\\", 8) == 0) {
        *out = std::string("\\\\") + (final + 8);
    } else if (std::strncmp(final, "\\\\?\\", 4) == 0) {
        *out = final + 4;
    } else {
        *out = final;
    }
    return true;
}

bool writeBeside(const char* target, const std::string& text, const FileState& old,
                 std::string* temp) {
    char name[MAX_PATH * 4 + 32];
    int len = std::snprintf(name, sizeof name, "%s.~%lu", target,
                            static_cast<unsigned long>(GetCurrentProcessId()));
    if (len <= 0 || static_cast<size_t>(len) >= sizeof name) return false;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (old.exists && (old.mode & KEPT_ATTRIBUTES)) attributes = old.mode & KEPT_ATTRIBUTES;
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = writeAll(file, text) && FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) != 0 && ok;
    if (!ok) DeleteFileA(name);
    if (ok) *temp = name;
    return ok;
}

Placed placeFile(const char* temp, const char* path, bool replace) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(temp, path, flags)) return Placed::DONE;
    DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
        return Placed::TAKEN;
    return Placed::FAILED;
}

bool overwriteFile(const char* path, const std::string& text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = writeAll(file, text) && SetEndOfFile(file) != 0 && FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) != 0 && ok;
    return ok;
}

void removeFile(const char* path) { DeleteFileA(path); }

int64_t clockNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return nanoseconds(now);
}

// The ANSI code page, as the profile functions convert with it. In a double-byte code page
// only ASCII stands alone; the other bytes are left without a unit.
void codePage(char16_t units[256]) {
    CPINFO info;
    const bool single = GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
    for (int b = 0; b < 256; ++b) {
        units[b] = b < 0x80 ? static_cast<char16_t>(b) : 0;
        if (b < 0x80 || !single) continue;
        char byte = static_cast<char>(b);
        wchar_t unit = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) == 1)
            units[b] = static_cast<char16_t>(unit);
    }
}

}  // namespace ini
