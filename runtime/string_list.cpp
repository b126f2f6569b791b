#include "runtime/string_list.h"

#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"

#include <windows.h>

#include <climits>
#include <string_view>

namespace runtime {

namespace {

std::wstring Decode(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
        if (bytes.empty()) return {};
        if (bytes.size() > INT_MAX) throw EEncodingError("No mapping for the Unicode character exists in the target multi-byte code page");
        const int size = static_cast<int>(bytes.size());
        const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
        if (length <= 0) {
            throw EEncodingError("No mapping for the Unicode character exists in the target multi-byte code page");
        }
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), length);
        return wide;
    }

    const bool littleEndian = bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE";
    const bool bigEndian = bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF";
    if (littleEndian || bigEndian) {
        bytes.remove_prefix(2);
        // A lone last byte is half a character and is dropped.
        std::wstring wide(bytes.size() / 2, L'\0');
        for (size_t i = 0; i < wide.size(); ++i) {
            const auto first = static_cast<unsigned char>(bytes[2 * i]);
            const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
            wide[i] = static_cast<wchar_t>(littleEndian ? first | second << 8 : first << 8 | second);
        }
        return wide;
    }

    return NarrowToWide(bytes);
}

}  // namespace

void TStringList::LoadFromFile(const std::string& fileName) {
    const std::wstring text = Decode(ReadWholeFile(fileName));

    // CR, LF and CR LF each end a line; LF CR is two breaks. U+0000 ends the text.
    std::vector<std::string> lines;
    const wchar_t* p = text.c_str();
    while (*p != L'\0') {
        const wchar_t* start = p;
        while (*p != L'\0' && *p != L'\r' && *p != L'\n') ++p;
        lines.push_back(WideToNarrow(std::wstring_view(start, static_cast<size_t>(p - start))));
        if (*p == L'\r') ++p;
        if (*p == L'\n') ++p;
    }
    lines_ = std::move(lines);
}

int TStringList::IndexOf(const std::string& text) const {
    if (text.size() > INT_MAX) return -1;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (line.size() > INT_MAX) continue;
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, line.data(), static_cast<int>(line.size()),
                           text.data(), static_cast<int>(text.size())) == CSTR_EQUAL) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace runtime
