// norvalume-check's view of a settings file as lines, classified the way the program's
// settings-file reads see them: section headers, keys and the rest, the section each
// key is in, and which of them a read can ever find (only the first section of a name
// counts, and in it only the first key of a name). Line and column numbers are what an
// editor shows, so that a warning can point at them.
#pragma once

#include <string>
#include <vector>

namespace check {

enum class LineKind { BLANK, COMMENT, HEADER, KEY, OTHER };

struct SettingsLine {
    LineKind kind;
    int number;           // from 1
    std::string section;  // HEADER: its name; KEY, OTHER: the section it is in
    int sectionLine;      // the header of that section; 0 above the first header
    std::string key;      // KEY: the name, trimmed
    std::string value;    // KEY: the value as a read gives it back
    int valueColumn;      // KEY: the column of the value's first character, from 1
    bool quotePair;       // KEY: the read dropped a pair of quotes around the value
    // HEADER: the line of the first header of this name. KEY: the line of the first key of
    // this name in the first section of this name; 0 for a key in a later section.
    int firstLine;
};

std::vector<SettingsLine> readSettingsLines(const std::string& text);

// A name as reads compare them: ASCII letters in lower case.
std::string lowerName(const std::string& name);

}  // namespace check
