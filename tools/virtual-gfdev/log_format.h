// The line format of the panel library's call log, shared by the virtual library and the
// unit tests' in-process fake so that both write exactly the same lines.
// NAME, then arguments separated by blanks: integers in decimal, indicator states as
// 0x-hex, texts in double quotes with \" and \\ escaped, segment buffers as 16 hex bytes.
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

inline void addText(std::string& line, const char* text) {
    line += " \"";
    if (text) {
        for (const char* p = text; *p; ++p) {
            if (*p == '"' || *p == '\\') line += '\\';
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
