#include "runtime/narrow_text.h"

#include <gtest/gtest.h>

using namespace runtime;

namespace {

struct ReplaceCase {
    const char* text;
    const char* pattern;
    const char* replacement;
    const char* expected;
};

TEST(ReplaceAllTest, ReplacesLeftToRightWithoutSearchingInsertedText) {
    const ReplaceCase cases[] = {
        {"www.127.0.0.1:8080", "www.", "http://", "http://127.0.0.1:8080"},
        // Every occurrence, not only a leading one.
        {"www.pelmar.www.example", "www.", "http://", "http://pelmar.http://example"},
        {"Resources\\Pelmar.ini", "\\", "/", "Resources/Pelmar.ini"},
        {"a\\\\b", "\\", "/", "a//b"},
        // A replacement that holds the pattern is not searched again.
        {"aaa", "a", "aa", "aaaaaa"},
        {"aa", "a", "ba", "baba"},
        // Nor is a pattern that the replacement forms with the text after it.
        {"abb", "ab", "a", "ab"},
        // Occurrences do not overlap.
        {"aaa", "aa", "b", "ba"},
        {"aaaa", "aa", "b", "bb"},
        {"abab", "ab", "", ""},
        // Byte by byte and case-sensitive.
        {"WWW.pelmar.example", "www.", "http://", "WWW.pelmar.example"},
        {"Привет, привет", "привет", "пока", "Привет, пока"},
        {"abc", "abcd", "x", "abc"},
        {"abc", "", "x", "abc"},
        {"", "a", "x", ""},
        {"", "", "x", ""},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.expected)
            << "ReplaceAll(\"" << c.text << "\", \"" << c.pattern << "\", \"" << c.replacement << "\")";
    }
}

TEST(PosTest, IsOneBasedAndZeroWhenAbsent) {
    const struct {
        const char* pattern;
        const char* text;
        size_t expected;
    } cases[] = {
        {"a", "abc", 1},
        {"b", "abc", 2},
        {"c", "abcabc", 3},
        {"abc", "abc", 1},
        {"Resources\\Pelmar.ini", "Resources\\Pelmar.ini.bak", 1},
        {"x", "abc", 0},
        {"A", "abc", 0},
        {"abcd", "abc", 0},
        {"", "abc", 0},
        {"", "", 0},
        {"a", "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Pos(c.pattern, c.text), c.expected) << "Pos(\"" << c.pattern << "\", \"" << c.text << "\")";
    }
}

TEST(NarrowTextTest, ConvertsThroughTheAnsiCodePage) {
    EXPECT_EQ(WideToNarrow(L"Скачиваем файлы..."), "Скачиваем файлы...");
    EXPECT_EQ(NarrowToWide("Скачиваем файлы..."), L"Скачиваем файлы...");
    EXPECT_EQ(WideToNarrow(L""), "");
    EXPECT_EQ(NarrowToWide(""), L"");
    // A character the code page cannot hold is replaced, never an error.
    EXPECT_EQ(WideToNarrow(L"a\u4E2Db"), "a?b");
}

}  // namespace
