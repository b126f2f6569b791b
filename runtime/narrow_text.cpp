#include "runtime/narrow_text.h"

#include <windows.h>

#include <cctype>
#include <climits>

namespace runtime {

size_t Pos(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) return 0;
    size_t at = text.find(pattern);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement) {
    std::string result(text);
    if (pattern.empty() || text.empty()) return result;
    size_t at = result.find(pattern);
    while (at != std::string::npos) {
        result.replace(at, pattern.size(), replacement);
        // What the replacement inserted is never searched again.
        at = result.find(pattern, at + replacement.size());
    }
    return result;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string AsciiLowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::string WideToNarrow(std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX) return {};
    int wideLength = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring NarrowToWide(std::string_view narrow) {
    if (narrow.empty() || narrow.size() > INT_MAX) return {};
    int narrowLength = static_cast<int>(narrow.size());
    int length = MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, wide.data(), length);
    return wide;
}

}  // namespace runtime
