// The only door from the portable code to the operating system.
// Each group below is implemented once per platform (win32/, posix/) and once more,
// scriptable, for the unit tests (tests/unit/fake_platform). Nothing here knows about
// items, panels or the link protocol: it offers OS services and nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---------------------------------------------------------------------------
// Time

// Milliseconds since some fixed point, from the system tick counter. Wraps after
// about 49.7 days: callers compare two readings by unsigned difference, never by '<'.
uint32_t tickCount();

// Blocks the calling thread for about `ms` milliseconds.
void sleepMs(uint32_t ms);

// ---------------------------------------------------------------------------
// Program

// Writes the full path of the running executable into `buf` (at most `size` bytes,
// always terminated when size > 0). Returns the length written, 0 on failure.
// On Linux a file name without an extension is reported with ".exe" added, as Windows
// names programs, so that the settings file derived from it lies beside the program.
uint32_t programPath(char* buf, uint32_t size);

// The instance handle the process was started with (HINSTANCE on Windows); an opaque
// value elsewhere. Handed to libraries that want to know who loaded them.
void* programInstance();

// The full path of a file named on a command line, taken against the current folder, as
// the system reads the name: Windows resolves "." and ".." and turns '/' into '\'; Linux
// joins a relative name to the current folder, drops "." steps and leaves ".." and links
// as typed (dropping ".." after a link would name another folder). Writes it terminated
// into `out` (`size` bytes) and returns its length; 0 with `out` empty when the name is
// empty, there is no current folder, or the path does not fit.
uint32_t fullPath(const char* path, char* out, uint32_t size);

// For a program built without a console of its own (the Windows program): when it was
// started from a console window and its standard output or error goes nowhere else, they
// go to that console from now on. Started any other way (a double-click) nothing changes,
// and output is lost quietly. Elsewhere the streams are always there: nothing to do.
void attachParentConsole();

// One running copy per settings file. Claims the file at the full path `path` for this
// process until releaseSettingsFile or the end of the process, whichever comes first, so a
// copy that was killed never keeps the claim. On Windows a named mutex whose name comes
// from the path as Windows compares paths (any case, short or long names); on Linux a
// lock on a file in the run folder named after the path. One claim per process.
enum SettingsClaim : int {
    CLAIM_TAKEN = 0,        // this process holds it now
    CLAIM_HELD = 1,         // another process holds it
    CLAIM_UNAVAILABLE = 2,  // the system cannot tell (no run folder, a path too long)
};
SettingsClaim claimSettingsFile(const char* path);
void releaseSettingsFile();

// Audible signals for a failed start.
constexpr uint32_t BEEP_EXCLAMATION = 0x30;  // MB_ICONEXCLAMATION
constexpr uint32_t BEEP_ASTERISK = 0x40;     // MB_ICONASTERISK
void beep(uint32_t kind);

// ---------------------------------------------------------------------------
// Settings file, with the semantics of the Windows private-profile functions.

// Reads `key` of `section` of the file at `path` into `buf` with the default "".
// Copies at most size - 1 characters and a terminating zero; returns the number of
// characters copied. A missing file, section or key, and an empty value, give 0.
uint32_t profileGet(const char* path, const char* section, const char* key, char* buf,
                    uint32_t size);

// Writes `key=value` into `section`. A null `value` deletes the key; a null `key` deletes
// the whole section. Creates the file when it is missing (not its directory).
// Returns false when the file could not be written.
bool profilePut(const char* path, const char* section, const char* key, const char* value);

// A batch of calls on one settings file that belong together (a whole load). Until
// profileEnd, reads of `path` are answered from one reading of the file taken at
// profileBegin, and writes to it are held back; at profileEnd they replace the file in one
// step, only while it is still byte for byte that reading. Batches on up to
// PROFILE_BATCHES different files may be open at once (a load reads the settings file and
// an aircraft profile); a further one, or a second on the same path, is not opened and
// its calls go to the file as outside a batch. False when the file is there but could not
// be read: the batch's reads then find nothing. A missing file reads as empty.
constexpr int PROFILE_BATCHES = 2;
bool profileBegin(const char* path);
enum ProfileOutcome : int {
    PROFILE_NOTHING_WRITTEN = 0,  // no write was needed; the file is as it was read
    PROFILE_WRITTEN = 1,          // the batch's writes are in the file
    PROFILE_FILE_CHANGED = 2,     // saved by someone else meanwhile: writes were dropped
    PROFILE_WRITE_FAILED = 3,     // the file could not be written; it is as it was read
};
// Ends the batch on `path`; NOTHING_WRITTEN when none is open on it.
ProfileOutcome profileEnd(const char* path);

// Whether the file at `path` has a section of that name (any case), with or without keys.
// In a batch on `path`, answered from its reading. False for a missing or unreadable file.
bool profileHasSection(const char* path, const char* section);

// Whether the file at `path` is there, is a plain file, and may be opened for reading now.
bool fileReadable(const char* path);

// Size and last-write time of a file: what tells a save in progress from a finished one.
struct FileStamp {
    uint64_t size;
    uint64_t writeTime;  // in the platform's own unit; only compared
    uint64_t fileId;     // which file is at the path (0 where the system cannot tell)
};
// False when the file does not exist.
bool fileStamp(const char* path, FileStamp* stamp);

constexpr uint32_t FILE_ATTR_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTR_NORMAL = 0x80;
constexpr uint32_t FILE_ATTR_INVALID = 0xFFFFFFFFu;

// The file's attribute bits; FILE_ATTR_INVALID when it does not exist. The archive bit
// is set by any write to the file and cleared only by setFileAttributes(NORMAL). Where the
// system has no such bit (Linux) or never clears it (Wine), the platform keeps it itself.
uint32_t fileAttributes(const char* path);
bool setFileAttributes(const char* path, uint32_t attrs);

// ---------------------------------------------------------------------------
// Event loop: one main window, its timers and its title.

struct WindowHandlers {
    void (*onCreate)();            // runs inside createMainWindow, before it returns
    void (*onTimer)(uint32_t id);  // a timer fell due
    // The user's session ends (Windows: log-off, restart, shutdown). The process may be
    // ended as soon as this returns, with no close first; after it the window closes as
    // if the user had closed it. May come in while another handler waits. Null: none.
    void (*onSessionEnd)();
};

// Registers the main window class. False when the system refuses it. From then on the
// requests to end that Linux sends as signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) close
// the main window, and SIGPIPE is ignored.
bool registerMainClass(const char* className, const WindowHandlers* handlers);

// Creates the main window (minimised, never drawn) with `title`; runs onCreate before
// returning. False when the window cannot be created.
bool createMainWindow(const char* title);

// Shows the main window minimised.
void showMainMinimised();

// Replaces the title of the main window.
void setTitle(const char* title);

// Arms timer `id` to fire once after `ms` milliseconds and then every `ms` until killed;
// arming a running timer restarts its period. Timers fire only inside runMainLoop.
void setTimer(uint32_t id, uint32_t ms);
void killTimer(uint32_t id);

// Runs the message loop until the main window is closed. Returns the exit code of the
// last message fetched (0 after an ordinary close).
int runMainLoop();

// Whether the program has been asked to close while the loop thread was busy (a signal,
// or a close message waiting in the queue): long waits on the loop thread give up then.
bool stopRequested();

// For a console tool that runs without a window: from now on a stop request (Ctrl-C,
// SIGTERM, SIGHUP, SIGQUIT, the console closing) is seen by stopRequested() instead of
// ending the process at once, a reader of standard output that went away makes writes
// fail instead of ending it (Linux: SIGPIPE), and the console takes escape sequences
// where it can. True when standard output
// is a terminal that takes them, so a screen can be redrawn in place; false for a file
// or a pipe.
bool startConsole();

// Asks the loop thread to run `work` soon. The one call that may come from any thread.
// Returns false when it cannot be queued (no window, or the queue is full).
bool postToLoop(void (*work)());

// ---------------------------------------------------------------------------
// Inter-process communication with the simulator interface module.

typedef uintptr_t WindowRef;    // 0 = none
typedef uintptr_t MappingRef;   // 0 = none

// Makes sure that only this user can stand in for the module's windows, before any is
// looked for. Linux: the run folder where a window is a socket is created where needed
// and must be ours (posix/rundir.h); false then with a message in `why` (`size` bytes,
// always terminated) naming the folder and what is wrong. Windows: nothing to prepare.
bool prepareIpc(char* why, uint32_t size);

// Finds a top-level window by class name only; 0 when there is none.
WindowRef findWindowByClass(const char* className);

// A system-wide message id for `name`; 0 on failure.
uint32_t registerMessage(const char* name);

// A global atom named `name`; 0 on failure. deleteAtom releases one.
uint16_t addAtom(const char* name);
void deleteAtom(uint16_t atom);

// Creates named shared memory of `size` bytes. 0 on failure. When memory of that name
// existed already a reference is still returned and *existed is set.
MappingRef createSharedMemory(const char* name, uint32_t size, bool* existed);
// Maps the whole of it writable; nullptr on failure.
void* mapSharedMemory(MappingRef mapping, uint32_t size);
void unmapSharedMemory(void* view, uint32_t size);
void closeSharedMemory(MappingRef mapping);
// Removes shared memory that createSharedMemory made in an earlier process which ended
// without closing it (killed, say). Memory whose creator still runs, or that was made by
// anything else, stays. Windows frees a process's memory when it ends: nothing to do there.
void removeOrphanedSharedMemory();

// Sends `message` to `window` and waits at most `timeoutMs` for the answer, blocking.
// True when it was delivered and answered; then *result holds the answer.
bool sendMessageTimeout(WindowRef window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam, uint32_t timeoutMs, uint32_t* result);

// The system's error code of the last failed call on this thread (0 = none).
uint32_t lastErrorCode();

// Whether `errorCode` (from lastErrorCode) says that the call was refused for want of
// rights, as a send to a program that runs with higher rights is on Windows.
bool accessDenied(uint32_t errorCode);

uint32_t processId();

// ---------------------------------------------------------------------------
// Dynamic libraries and the registry.

typedef void* LibraryRef;  // nullptr = none

// Loads a library by bare name (searched for as the system does) or by full path.
// Names are Windows-style: posix/ turns '\' into '/' and a file name NAME.DLL into
// libname.so. nullptr on failure; then *otherBitness (when given) is set if a file was
// found that is a library for the other word size (32-bit for a 64-bit program or the
// reverse), and cleared otherwise.
LibraryRef loadLibrary(const char* nameOrPath, bool* otherBitness = nullptr);
// The address of an exported symbol, nullptr when the library does not export it.
void* librarySymbol(LibraryRef library, const char* name);
void freeLibrary(LibraryRef library);

// Reads one string value of a key under HKEY_LOCAL_MACHINE. Copies at most `size` raw
// bytes into `buf`; they need not be terminated (the caller terminates). Returns the
// number of bytes copied, or -1 when the key or the value is missing or unreadable.
// Only string values are read. Linux has no registry: there any read of a value named
// "Path" answers the environment variable GFCONFIG_PATH (with its terminator), whatever
// the key, and every other read fails.
int32_t registryGetString(const char* subKey, const char* valueName, char* buf,
                          uint32_t size);

}  // namespace platform
