#include "engine/manifest.h"

#include "runtime/narrow_text.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace engine {

using runtime::EqualsIgnoringCase;
using runtime::TStringList;

namespace {

// Windows opens the device whatever extension follows the name, and drops
// trailing blanks before it ("CON .txt").
bool IsDeviceName(std::string_view segment) {
    std::string_view base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view name : kPlain) {
        if (EqualsIgnoringCase(base, name)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        std::string_view stem = base.substr(0, 3);
        return EqualsIgnoringCase(stem, "COM") || EqualsIgnoringCase(stem, "LPT");
    }
    return false;
}

// Windows drops trailing dots and blanks from a segment, so ".. " may climb
// like "..".
bool IsParentSegment(std::string_view segment) {
    return segment.find_first_not_of(". ") == std::string_view::npos &&
           std::count(segment.begin(), segment.end(), '.') >= 2;
}

}  // namespace

bool IsSafeManifestEntry(const std::string& entry) {
    if (entry.empty()) return true;
    if (entry.front() == '\\' || entry.front() == '/') return false;
    // A drive, a stream or a device suffix.
    if (entry.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= entry.size()) {
        size_t end = entry.find_first_of("\\/", start);
        if (end == std::string::npos) end = entry.size();
        std::string_view segment(entry.data() + start, end - start);
        if (IsParentSegment(segment) || IsDeviceName(segment)) return false;
        start = end + 1;
    }
    return true;
}

int ReadIniSection(const TStringList& source, TStringList& entries, const std::string& name) {
    entries.Clear();
    int header = source.IndexOf("[" + name + "]");
    if (header < 0 || header == source.Count() - 1) return 0;
    for (int i = header + 1; i < source.Count(); ++i) {
        const std::string& line = source[i];
        if (!line.empty() && line.front() == '[') break;
        entries.Add(line);
    }
    return entries.Count();
}

}  // namespace engine
