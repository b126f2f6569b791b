// Reading texts the way the tests need them: lines of a log or request list,
// the message part of a log line, and the lines that end an install run.
#pragma once

#include "tests/support/expected_texts.h"

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

// The message of a log line: what follows "<stamp> (<ms>) - "; empty for a
// line that is no log line (the welcome text, say).
inline std::string MessageOfLogLine(const std::string& line) {
    size_t at = line.find(") - ");
    return at == std::string::npos ? std::string() : line.substr(at + 4);
}

// The line a successful run ends with.
inline bool IsOkLine(const std::string& line) { return MessageOfLogLine(line) == expected::kRunSucceeded; }

// A line with which the program ends a failed run.
inline bool IsErrorLine(const std::string& line) {
    const std::string message = MessageOfLogLine(line);
    for (const char* start : {expected::kFetchFailed, expected::kCannotMakeDestination, expected::kEntryRefused}) {
        if (message.rfind(start, 0) == 0) return true;
    }
    return false;
}
