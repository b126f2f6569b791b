#include "runtime/string_list.h"

#include "runtime/exceptions.h"
#include "runtime/unique_handle.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

using namespace runtime;

using namespace std::string_literals;

namespace {

std::vector<std::string> Lines(const TStringList& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    return lines;
}

class StringListTest : public ::testing::Test {
protected:
    std::vector<std::string> Load(const std::string& bytes) {
        WriteFileBytes(path, bytes);
        TStringList list;
        list.LoadFromFile(path);
        return Lines(list);
    }

    TempFolder temp;
    const std::string path = temp / "Pelmar.ini";
};

using L = std::vector<std::string>;

TEST_F(StringListTest, LoadsEveryEncodingAndLineBreak) {
    const struct {
        const char* name;
        std::string bytes;
        L expected;
    } cases[] = {
        {"empty file", "", {}},
        {"CR LF", "[UpdateFiles]\r\nPelmar.exe\r\n", {"[UpdateFiles]", "Pelmar.exe"}},
        {"LF", "a\nb", {"a", "b"}},
        {"CR", "a\rb\rc", {"a", "b", "c"}},
        {"mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"LF then CR is two breaks", "a\n\rb", {"a", "", "b"}},
        {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"final break adds no line", "a\r\n", {"a"}},
        {"two final breaks", "a\n\n", {"a", ""}},
        {"only a break", "\r\n", {""}},
        {"empty lines stay", "\n\na\n\nb", {"", "", "a", "", "b"}},
        {"nothing trimmed", "  [UpdateFiles]\t \r\n ; x = y ", {"  [UpdateFiles]\t ", " ; x = y "}},
        {"U+0000 ends the text", "a\nb\0c\nd"s, {"a", "b"}},
        {"U+0000 first", "\0abc"s, {}},
        {"ANSI Cyrillic", "Папка\\Файл.exe\r\n", {"Папка\\Файл.exe"}},
        // Without a mark UTF-8 is not guessed: the bytes are ANSI.
        {"UTF-8 without mark", "\xD0\x9F", {"\xD0\x9F"}},
        {"UTF-8 mark", "\xEF\xBB\xBF" "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0\r\nb", {"Папка", "b"}},
        {"UTF-8 mark only", "\xEF\xBB\xBF", {}},
        {"UTF-8 mark not first", "a\xEF\xBB\xBF", {"a\xEF\xBB\xBF"}},
        {"UTF-8 outside the code page", "\xEF\xBB\xBF" "a\xE4\xB8\xAD" "b", {"a?b"}},
        {"UTF-8 U+0000", "\xEF\xBB\xBF" "a\nb\0c"s, {"a", "b"}},
        {"UTF-16 LE", "\xFF\xFE" "a\0\r\0\n\0\x1F\x04\x30\x04"s, {"a", "Па"}},
        {"UTF-16 BE", "\xFE\xFF" "\0a\0\n\0\r\x04\x1F\x04\x30"s, {"a", "", "Па"}},
        {"UTF-16 LE mark only", "\xFF\xFE", {}},
        {"UTF-16 LE U+0000", "\xFF\xFE" "a\0\0\0b\0"s, {"a"}},
        {"UTF-16 odd last byte dropped", "\xFF\xFE" "a\0b"s, {"a"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load(c.bytes), c.expected) << c.name;
    }
}

TEST_F(StringListTest, LoadReplacesWhatTheListHeld) {
    WriteFileBytes(path, "new");
    TStringList list;
    list.Add("old");
    list.Add("older");
    list.LoadFromFile(path);
    EXPECT_EQ(Lines(list), L{"new"});
}

TEST_F(StringListTest, InvalidUtf8AfterTheMarkIsAnErrorAndLeavesTheListAsItWas) {
    const char* invalid[] = {
        "ok\n\xC3\x28",         // a lead byte without its continuation
        "\x80",                 // a lone continuation byte
        "ok\xE2\x82",           // cut off at the end
        "\xC0\xAF",             // overlong
        "\xED\xA0\x80",         // a surrogate
        "\xF8\x88\x80\x80\x80", // beyond U+10FFFF
        "\xFF",
    };
    for (const char* body : invalid) {
        WriteFileBytes(path, "\xEF\xBB\xBF"s + body);
        TStringList list;
        list.Add("kept");
        try {
            list.LoadFromFile(path);
            ADD_FAILURE() << "no error for a body of " << std::string(body).size() << " bytes";
        } catch (const EEncodingError& error) {
            EXPECT_EQ(error.Message(), "No mapping for the Unicode character exists in the target multi-byte code page");
        }
        EXPECT_EQ(Lines(list), L{"kept"});
    }
}

TEST_F(StringListTest, FileThatCannotBeOpenedRaisesEFOpenError) {
    ASSERT_TRUE(CreateDirectoryA((temp / "folder.ini").c_str(), nullptr));
    const struct {
        std::string path;
        DWORD code;
    } cases[] = {
        {temp / "missing.ini", ERROR_FILE_NOT_FOUND},
        {temp / "Resources\\missing.ini", ERROR_PATH_NOT_FOUND},
        {temp / "folder.ini", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.Add("kept");
        try {
            list.LoadFromFile(c.path);
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const EFOpenError& error) {
            const std::string reason = SystemErrorText(c.code);
            EXPECT_FALSE(reason.empty());
            EXPECT_NE(reason.back(), '.');
            EXPECT_EQ(error.Message(), "Cannot open file \"" + c.path + "\". " + reason);
        }
        EXPECT_EQ(Lines(list), L{"kept"});
    }
}

TEST_F(StringListTest, MissingFileIsNamedByItsAbsolutePath) {
    char current[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    ASSERT_GT(length, 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(temp.Path().c_str()));
    TStringList list;
    try {
        list.LoadFromFile("Resources\\..\\missing.ini");
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.Message(),
                  "Cannot open file \"" + (temp / "missing.ini") + "\". " + SystemErrorText(ERROR_FILE_NOT_FOUND));
    }
    SetCurrentDirectoryA(std::string(current, length).c_str());
}

TEST_F(StringListTest, ReadsAFileThatIsOpenForWritingElsewhere) {
    WriteFileBytes(path, "a\r\nb");
    UniqueFileHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    TStringList list;
    list.LoadFromFile(path);
    EXPECT_EQ(Lines(list), (L{"a", "b"}));
}

TEST(StringListIndexOfTest, FindsTheFirstLineIgnoringLetterCase) {
    TStringList list;
    EXPECT_EQ(list.IndexOf("[UpdateFiles]"), -1);
    for (const char* line : {"Pelmar.exe", "[UpdateFiles] ", "[updatefiles]", "[UpdateFiles]", "", "Привет Ёж",
                             "Resources\\Pelmar.ini"}) {
        list.Add(line);
    }
    EXPECT_EQ(list.IndexOf("[UpdateFiles]"), 2);
    EXPECT_EQ(list.IndexOf("[UPDATEFILES]"), 2);
    EXPECT_EQ(list.IndexOf("[UpdateFiles] "), 1);  // nothing trimmed
    EXPECT_EQ(list.IndexOf("[UpdateFile]"), -1);
    EXPECT_EQ(list.IndexOf(""), 4);
    EXPECT_EQ(list.IndexOf("ПРИВЕТ ЁЖ"), 5);
    EXPECT_EQ(list.IndexOf("привет ёж"), 5);
    EXPECT_EQ(list.IndexOf("Привет Еж"), -1);
    EXPECT_EQ(list.IndexOf("resources\\pelmar.INI"), 6);
    EXPECT_EQ(list.IndexOf("Resources/Pelmar.ini"), -1);
}

}  // namespace
