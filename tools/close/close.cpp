// norvalume-close: asks a running program to end the way a user's click on the window's
// close box does, by posting WM_CLOSE to its window, found by class. For the tests of the
// Windows build, which have no other way to close the window in order.
//
#include <windows.h>

#include <cstdio>

#include "tools/common/common.h"

namespace {

constexpr char USAGE[] =
    "usage: norvalume-close [CLASS] | --help | --version\n"
    "  posts WM_CLOSE to the window of class CLASS (default NORVALUME)\n"
    "exit status: 0 posted, 1 no such window, 2 the post was refused\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && tools::answerInfoOption(argv[1], "norvalume-close", USAGE)) return 0;
    const char* windowClass = argc > 1 ? argv[1] : "NORVALUME";
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window) {
        std::fprintf(stderr, "norvalume-close: no window of class %s\n", windowClass);
        return 1;
    }
    if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
        std::fprintf(stderr, "norvalume-close: the post was refused (%lu)\n", GetLastError());
        return 2;
    }
    return 0;
}
