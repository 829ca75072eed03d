// The live table: one row per output (and per condition) in the order the program
// evaluates them, with the line that applies, the value it read and what the output shows.
#include <algorithm>
#include <cctype>

#include "config/items.h"
#include "tools/watch/watch.h"

namespace watch {

namespace {

constexpr size_t LINE_WIDTH = 44;
constexpr size_t VALUE_WIDTH = 32;

struct Row {
    std::string section, key, line, value, shows;
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A line without its comment, cut to `width` with a ~ where it was cut.
std::string fitted(std::string text, size_t width, bool dropComment) {
    if (dropComment) {
        const size_t comment = text.find(';');
        if (comment != std::string::npos) text.erase(comment);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    }
    if (text.size() > width) text = text.substr(0, width - 1) + "~";
    return text;
}

Row rowFor(int32_t first) {
    const Line& line = session.lines[static_cast<size_t>(first)];
    const std::string key = line.key.substr(0, line.key.find('.'));
    const int32_t applying = applyingLine(first);
    Row row{line.section, key, "(none)", "", shownText(first)};
    if (applying >= 0) {
        row.line = fitted(lineText(applying), LINE_WIDTH, true);
        row.value = fitted(valueText(applying), VALUE_WIDTH, false);
    } else {
        row.value = fitted(notApplyingReason(first), VALUE_WIDTH, false);
    }
    return row;
}

std::string padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::string tableFrame(const std::string& filter) {
    std::vector<Row> rows;
    const std::string wanted = lower(filter);
    for (int32_t i = 0; i < itemCount(); i = outputEnd(i)) {
        Row row = rowFor(i);
        const std::string all = row.section + " " + row.key + " " + row.line + " " +
                                session.lines[static_cast<size_t>(i)].text;
        if (!wanted.empty() && lower(all).find(wanted) == std::string::npos) continue;
        rows.push_back(row);
    }
    Row widths{"SECTION", "KEY", "LINE", "VALUE", "SHOWS"};
    size_t w[4] = {widths.section.size(), widths.key.size(), widths.line.size(),
                   widths.value.size()};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], r.section.size());
        w[1] = std::max(w[1], r.key.size());
        w[2] = std::max(w[2], r.line.size());
        w[3] = std::max(w[3], r.value.size());
    }
    rows.insert(rows.begin(), widths);
    std::string out = simulatorLine() + "\n";
    for (const Row& r : rows)
        out += padded(r.section, w[0] + 2) + padded(r.key, w[1] + 2) + padded(r.line, w[2] + 2) +
               padded(r.value, w[3] + 2) + r.shows + "\n";
    if (rows.size() == 1)
        out += filter.empty() ? "(no line is read for these units)\n"
                              : "(no line matches \"" + filter + "\")\n";
    for (const Rejected& r : session.rejected) {
        const std::string line =
            "rejected, never read: [" + r.section + "] " + r.key + ":" + r.error;
        if (wanted.empty() || lower(line).find(wanted) != std::string::npos) out += line + "\n";
    }
    return out;
}

}  // namespace watch
