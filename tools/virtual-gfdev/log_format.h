// The line format of the panel library's call log, shared by the virtual library and the
// unit tests' in-process fake so that both write exactly the same lines.
// NAME, then arguments separated by blanks: integers in decimal, indicator states as
// 0x-hex, texts in double quotes with \" and \\ escaped and control characters as \n, \r,
// \t or \xHH, segment buffers as 16 hex bytes. One call is one line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/common/common.h"

namespace gflog {

inline void addInt(std::string& line, long long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %lld", value);
    line += buf;
}

inline void addState(std::string& line, unsigned long long state) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " 0x%llX", state);
    line += buf;
}

// A text from the simulator may hold any byte. Control characters are escaped, the C1
// ones of Latin-1 too, so that one call stays one line for every reader of the log
// (Python's splitlines breaks at \x85 and \x1C as well as at \n).
inline void addText(std::string& line, const char* text) {
    line += " \"";
    for (const char* p = text ? text : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            line += '\\';
            line += *p;
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            line += hex;
        } else {
            line += *p;
        }
    }
    line += '"';
}

// A segment buffer is 16 bytes; a null pointer is logged as sixteen zero bytes so that a
// faulty caller still leaves a readable line.
inline void addSegments(std::string& line, const unsigned char* segments) {
    static const unsigned char none[16] = {};
    tools::appendHexBytes(line, segments ? segments : none, sizeof none);
}

}  // namespace gflog
