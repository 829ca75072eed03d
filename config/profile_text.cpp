// The read-back rule of the settings file, shared by the loader and norvalume-check.
#include "config/profile_text.h"

namespace {

bool trimmedOnRead(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == 0x1A;
}

}  // namespace

ReadBack readBack(const char* text, size_t length) {
    size_t begin = 0;
    size_t end = length;
    while (begin < end && trimmedOnRead(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && trimmedOnRead(static_cast<unsigned char>(text[end - 1]))) --end;
    char first = end - begin >= 2 ? text[begin] : '\0';
    bool quoted = (first == '"' || first == '\'') && text[end - 1] == first;
    return ReadBack{begin, end, quoted};
}
