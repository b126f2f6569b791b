// Reading texts the way the tests need them: lines of a log or request list,
// and the message part of a log line.
#pragma once

#include <string>
#include <vector>

// The lines of text ended by separator; a final separator adds no empty line.
inline std::vector<std::string> SplitLines(const std::string& text, const std::string& separator = "\r\n") {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    return lines;
}

// The message part of a log line (after ") - "); the whole line when it has none.
inline std::string MessageOfLogLine(const std::string& line) {
    size_t at = line.find(") - ");
    return at == std::string::npos ? line : line.substr(at + 4);
}
