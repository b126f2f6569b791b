// Broken and odd manifests, made by a seeded generator: each ends in entries,
// the refusal or EEncodingError, never a crash or a hang, and no entry that
// IsSafeManifestEntry refuses reaches a file operation.
#include "engine/install_run.h"
#include "engine/manifest.h"

#include "runtime/exceptions.h"
#include "runtime/narrow_text.h"
#include "runtime/string_list.h"
#include "tests/engine/unsafe_entries.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace runtime;
using namespace engine;

namespace {

using Lines = std::vector<std::string>;

constexpr unsigned kSeed = 20240611;
const char* const kUtf8Mark = "\xEF\xBB\xBF";

// Manifest lines as a maker might write them, or mistype them.
const Lines kSafeEntries = {"Pelmar.exe", "Data\\base.dat", "readme.txt", "Data/notes.txt", "Данные\\файл.txt"};
const Lines kHeaders = {"[UpdateFiles]", "[updatefiles]", "[UPDATEFILES]", "[uPdAtEfIlEs]", " [UpdateFiles]",
                        "[UpdateFiles] ", "[Other]", "[", "[]"};
const Lines kLineBreaks = {"\r\n", "\n", "\r", "\n\r"};

// What ReadIniSection is meant to give for lines.
Lines SectionOf(const Lines& lines) {
    auto header = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.size() == 13 && EqualsIgnoringCase(line, "[UpdateFiles]");
    });
    Lines entries;
    if (header == lines.end()) return entries;
    for (auto line = header + 1; line != lines.end() && (line->empty() || line->front() != '['); ++line) {
        entries.push_back(*line);
    }
    return entries;
}

std::string Utf16(const std::wstring& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        const char low = static_cast<char>(c & 0xFF);
        const char high = static_cast<char>((c >> 8) & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return kUtf8Mark;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return kUtf8Mark + bytes;
}

std::wstring Wide(const std::string& ansi) {
    std::wstring wide(ansi.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(std::max(length, 0)));
    return wide;
}

// One generated manifest: its bytes and, where the generator knows them, the
// lines a reader must see.
struct Manifest {
    std::string bytes;
    bool linesKnown = false;
    Lines lines;
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    std::string RandomBytes(size_t most) {
        std::string bytes(Below(most + 1), '\0');
        for (char& byte : bytes) byte = static_cast<char>(Below(256));
        return bytes;
    }

    // Lines from the pools and random text, joined by a mixture of breaks,
    // perhaps cut by a U+0000, in ANSI or behind one of the three marks.
    Manifest Structured() {
        Lines lines;
        const size_t count = Below(12);
        for (size_t i = 0; i < count; ++i) {
            switch (Below(6)) {
            case 0: lines.push_back(kHeaders[Below(kHeaders.size())]); break;
            case 1:
                if (!kUnsafeEntries.empty()) lines.push_back(kUnsafeEntries[Below(kUnsafeEntries.size())]);
                break;
            case 2: lines.push_back(""); break;
            case 3: lines.push_back(PrintableText()); break;
            default: lines.push_back(kSafeEntries[Below(kSafeEntries.size())]); break;
            }
        }
        Manifest manifest;
        manifest.linesKnown = true;
        std::string text;
        bool afterCr = false;
        bool endsWithBreak = true;
        for (size_t i = 0; i < lines.size(); ++i) {
            manifest.lines.push_back(lines[i]);
            text += lines[i];
            if (i + 1 == lines.size() && Below(3) == 0) {
                // No final break: an empty last line is no line at all.
                endsWithBreak = false;
                if (lines[i].empty()) manifest.lines.pop_back();
                break;
            }
            std::string lineBreak = kLineBreaks[Below(kLineBreaks.size())];
            // A CR and the LF after it make one break, even with an empty line between.
            if (afterCr && lines[i].empty()) lineBreak = "\r";
            text += lineBreak;
            // LF CR ends two lines: an empty one between.
            if (lineBreak == "\n\r") manifest.lines.push_back("");
            afterCr = lineBreak.back() == '\r';
        }
        if (endsWithBreak && Below(5) == 0) {
            // U+0000 ends the text, even in the middle of a line.
            const std::string prefix = PrintableText();
            text += prefix + '\0' + "[UpdateFiles]\r\nafter.the.end\r\n";
            if (!prefix.empty()) manifest.lines.push_back(prefix);
        }
        switch (Below(4)) {
        case 0: manifest.bytes = Utf8(Wide(text)); break;
        case 1: manifest.bytes = Utf16(Wide(text), false); break;
        case 2: manifest.bytes = Utf16(Wide(text), true); break;
        default: manifest.bytes = text; break;
        }
        return manifest;
    }

    // Random bytes, alone or behind a mark; odd counts after the UTF-16 marks
    // and broken sequences after the UTF-8 one.
    Manifest Broken() {
        static const char* const kBrokenUtf8[] = {"\x80", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC0\xAF",
                                                  "\xED\xA0\x80", "\xFF", "\xF8\x88\x80\x80\x80"};
        Manifest manifest;
        switch (Below(5)) {
        case 0: manifest.bytes = RandomBytes(300); break;
        case 1: manifest.bytes = "\xFF\xFE" + RandomBytes(300); break;
        case 2: manifest.bytes = "\xFE\xFF" + RandomBytes(300); break;
        case 3: manifest.bytes = kUtf8Mark + RandomBytes(300); break;
        default:
            manifest.bytes = kUtf8Mark + std::string("[UpdateFiles]\r\n") + kBrokenUtf8[Below(std::size(kBrokenUtf8))] +
                             "\r\nPelmar.exe\r\n";
            break;
        }
        return manifest;
    }

private:
    std::string PrintableText() {
        static const char kCharacters[] = "abcXYZ019 .\\/[]:;=-_~\xC0\xE0\xFF";
        std::string text(Below(10), ' ');
        for (char& c : text) c = kCharacters[Below(sizeof(kCharacters) - 1)];
        return text;
    }

    std::mt19937 random_;
};

class ManifestFuzzTest : public ::testing::Test {
protected:
    // Loads bytes as the install run loads its manifest; false for EEncodingError.
    bool Load(const std::string& bytes, TStringList& lines) {
        WriteFileBytes(file_, bytes);
        try {
            lines.LoadFromFile(file_);
            return true;
        } catch (const EEncodingError&) {
            return false;
        }
    }

    TempFolder temp_;
    const std::string file_ = temp_ / "manifest.ini";
};

Lines Listed(const TStringList& list) {
    Lines lines;
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
    return lines;
}

TEST_F(ManifestFuzzTest, EveryManifestEndsInEntriesOrTheEncodingError) {
    Generator generator(kSeed);
    for (int i = 0; i < 3000; ++i) {
        const Manifest manifest = i % 2 == 0 ? generator.Structured() : generator.Broken();
        SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(kSeed));
        TStringList lines;
        if (!Load(manifest.bytes, lines)) {
            EXPECT_EQ(manifest.bytes.rfind(kUtf8Mark, 0), 0u) << "only invalid UTF-8 after its mark is refused";
            EXPECT_FALSE(manifest.linesKnown);
            continue;
        }
        TStringList entries;
        const int count = ReadIniSection(lines, entries, "UpdateFiles");
        ASSERT_EQ(count, entries.Count());
        EXPECT_EQ(Listed(entries), SectionOf(Listed(lines)));
        if (manifest.linesKnown) {
            EXPECT_EQ(Listed(lines), manifest.lines) << ::testing::PrintToString(manifest.bytes);
        }
        for (const std::string& line : Listed(lines)) {
            EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
        }
    }
}

TEST_F(ManifestFuzzTest, HugeManifestsAreReadWhole) {
    const std::string longLine(1 << 20, 'x');
    TStringList lines;
    ASSERT_TRUE(Load("[UpdateFiles]\r\n" + longLine + "\r\nPelmar.exe\r\n", lines));
    TStringList entries;
    EXPECT_EQ(ReadIniSection(lines, entries, "UpdateFiles"), 2);
    EXPECT_EQ(entries[0], longLine);

    std::string many = "[UpdateFiles]\n";
    for (int i = 0; i < 100000; ++i) many += "Data\\f" + std::to_string(i) + ".bin\n";
    ASSERT_TRUE(Load(many, lines));
    EXPECT_EQ(ReadIniSection(lines, entries, "UpdateFiles"), 100000);
    EXPECT_EQ(entries[99999], "Data\\f99999.bin");
}

// The install run over generated manifests: nothing it requests or writes
// belongs to an entry that IsSafeManifestEntry refuses.
TEST(ManifestFuzzRun, RefusedEntriesNeverReachTheSiteOrTheDisk) {
    TestSite site;
    for (const std::string& entry : kSafeEntries) {
        // Under a code page whose names the Unix side cannot hold, the Cyrillic entry stays unserved.
        if (std::any_of(entry.begin(), entry.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            continue;
        }
        std::string path = "Updates/Pelmar/" + entry;
        std::replace(path.begin(), path.end(), '\\', '/');
        site.Put(path, "file " + entry);
    }
    Generator generator(kSeed + 1);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE("run " + std::to_string(i) + " of seed " + std::to_string(kSeed + 1));
        Manifest manifest = generator.Structured();
        // A header first, so that most runs reach their entries.
        if (generator.Below(4) != 0) manifest.bytes = "[UpdateFiles]\r\nreadme.txt\r\n" + manifest.bytes;
        site.Put("Updates/Pelmar/Resources/Pelmar.ini", manifest.bytes);
        TempFolder temp;
        FakeForm form;
        form.destination = temp / "Pelmar";
        form.siteHost = site.Host();
        const size_t requestsBefore = site.Requests().size();
        try {
            RunInstall(form);
        } catch (const Exception&) {
            // A blank entry or a name the disk refuses ends in the error box.
        }

        const Lines requests = site.Requests();
        for (size_t r = requestsBefore; r < requests.size(); ++r) {
            const std::string entry = requests[r].substr(std::string("/Updates/Pelmar/").size());
            EXPECT_TRUE(IsSafeManifestEntry(entry)) << "requested " << requests[r];
        }
        for (const std::string& message : form.Messages()) {
            const std::string refused = expected::kEntryRefused;
            if (message.rfind(refused, 0) == 0) {
                EXPECT_FALSE(IsSafeManifestEntry(message.substr(refused.size()))) << message;
            }
        }
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp.Path() + "\\*").c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        do {
            const std::string name = found.cFileName;
            EXPECT_TRUE(name == "." || name == ".." || name == "Pelmar") << "written outside: " << name;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
}

}  // namespace
