// Narrow text: 8-bit strings in the system's ANSI code page, compared and cut
// byte by byte. Controls hold UTF-16; these convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// 1-based position of the first occurrence of pattern in text; 0 when it does
// not occur or the pattern is empty.
size_t Pos(std::string_view pattern, std::string_view text);

// Every occurrence of pattern replaced, left to right; text inserted by a
// replacement is never searched again. Empty pattern or text: text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement);

// Equal but for the letter case of the ASCII letters A to Z.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// text with its ASCII capitals made small: a key under which file names that
// differ only in the case of Latin letters are one.
std::string AsciiLowerCase(std::string_view text);

// Through the ANSI code page; a character it cannot hold becomes its default
// character (or a look-alike), never an error.
std::string WideToNarrow(std::wstring_view wide);
std::wstring NarrowToWide(std::string_view narrow);

}  // namespace runtime
