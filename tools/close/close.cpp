// norvalume-close: asks a running program to end the way a user's click on the window's
// close box does, by posting WM_CLOSE to its window, found by class; or the way the end of
// the user's session does, by sending the pair of end-session messages. For the tests of
// the Windows build, which have no other way to close the window in order or to log off.
//
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/common/common.h"

namespace {

constexpr char USAGE[] =
    "usage: norvalume-close [--end-session] [CLASS] | --help | --version\n"
    "  posts WM_CLOSE to the window of class CLASS (default NORVALUME); with\n"
    "  --end-session sends WM_QUERYENDSESSION and then WM_ENDSESSION as a log-off does,\n"
    "  and returns once the window has handled it\n"
    "exit status: 0 done, 1 no such window, 2 the message was refused or not answered,\n"
    "  3 the window refused to let the session end\n";

// How long the window may take over each end-session message; Windows itself gives a
// program about five seconds before it offers to end it.
constexpr UINT END_SESSION_TIMEOUT_MS = 5000;

int sendFailed(const char* what) {
    std::fprintf(stderr, "norvalume-close: %s was not answered (%lu)\n", what, GetLastError());
    return 2;
}

int endSession(HWND window) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                             END_SESSION_TIMEOUT_MS, &answer))
        return sendFailed("WM_QUERYENDSESSION");
    if (!answer) {
        std::fprintf(stderr, "norvalume-close: the window refused to let the session end\n");
        return 3;
    }
    if (!SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                             END_SESSION_TIMEOUT_MS, &answer))
        return sendFailed("WM_ENDSESSION");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && tools::answerInfoOption(argv[1], "norvalume-close", USAGE)) return 0;
    int next = 1;
    const bool session = argc > next && std::strcmp(argv[next], "--end-session") == 0;
    if (session) ++next;
    const char* windowClass = argc > next ? argv[next] : "NORVALUME";
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window) {
        std::fprintf(stderr, "norvalume-close: no window of class %s\n", windowClass);
        return 1;
    }
    if (session) return endSession(window);
    if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
        std::fprintf(stderr, "norvalume-close: the post was refused (%lu)\n", GetLastError());
        return 2;
    }
    return 0;
}
