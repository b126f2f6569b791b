// Manifest entries and the installer's verdict on each, from the table that
// the publishing tool's tests read too (tests/data/manifest_entries.tsv; the
// test run names it in MANIFEST_ENTRIES). Entries are held in the ANSI code
// page, as the install run holds a manifest line.
#pragma once

#include "runtime/narrow_text.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

struct ManifestEntryRow {
    int line;
    std::string entry;
    bool safe;  // stays inside the destination folder; otherwise the run stops at it
    std::string why;
};

struct ManifestEntryTable {
    std::vector<ManifestEntryRow> rows;
    std::string error;  // why there are no rows
};

namespace manifest_entries_detail {

// "{XX}" is the character of hexadecimal code XX; the text is UTF-8.
inline bool Unescape(const std::string& field, std::string& ansi) {
    std::string utf8;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '{' && i + 3 < field.size() && field[i + 3] == '}' && std::isxdigit(field[i + 1]) &&
            std::isxdigit(field[i + 2])) {
            utf8 += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 3;
        } else {
            utf8 += field[i];
        }
    }
    if (utf8.empty()) {
        ansi.clear();
        return true;
    }
    std::wstring wide(utf8.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                           wide.data(), static_cast<int>(wide.size()));
    if (length <= 0) return false;
    wide.resize(static_cast<size_t>(length));
    ansi = runtime::WideToNarrow(wide);
    return true;
}

inline ManifestEntryTable Read() {
    ManifestEntryTable table;
    const char* path = std::getenv("MANIFEST_ENTRIES");
    if (path == nullptr || *path == '\0') {
        table.error = "MANIFEST_ENTRIES is not set: the test run names tests\\data\\manifest_entries.tsv there";
        return table;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        table.error = std::string("cannot open ") + path;
        return table;
    }
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty() || text.front() == '#') continue;
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            const size_t tab = text.find('\t', start);
            fields.push_back(text.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        ManifestEntryRow row{number, {}, false, {}};
        if (fields.size() != 4 || (fields[1] != "safe" && fields[1] != "unsafe") || !Unescape(fields[0], row.entry)) {
            table.rows.clear();
            table.error = std::string(path) + ", line " + std::to_string(number) +
                          ": not an entry, safe or unsafe, publish's verdict and why between tabs";
            return table;
        }
        row.safe = fields[1] == "safe";
        row.why = fields[3];
        table.rows.push_back(row);
    }
    if (table.rows.empty()) table.error = std::string(path) + " holds no entries";
    return table;
}

inline std::vector<const char*> Unsafe(const ManifestEntryTable& table) {
    std::vector<const char*> entries;
    for (const ManifestEntryRow& row : table.rows) {
        if (!row.safe) entries.push_back(row.entry.c_str());
    }
    return entries;
}

}  // namespace manifest_entries_detail

// The table, read once.
inline const ManifestEntryTable& ManifestEntries() {
    static const ManifestEntryTable table = manifest_entries_detail::Read();
    return table;
}

// The entries the install run refuses; empty when the table cannot be read
// (the manifest tests then fail with the reason).
inline const std::vector<const char*> kUnsafeEntries = manifest_entries_detail::Unsafe(ManifestEntries());
