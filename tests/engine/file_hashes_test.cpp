// The manifest's size-and-hash lines and its release number.
#include "engine/file_hashes.h"
#include "engine/download.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using engine::FileHashes;
using engine::FileMatches;
using engine::ListedFile;
using runtime::TStringList;

namespace {

// SHA-256 of "abc".
constexpr char kAbcHash[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

FileHashes HashesOf(const std::vector<std::string>& lines) {
    TempFolder folder;
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteFileBytes(folder / "m.ini", text);
    TStringList manifest;
    manifest.LoadFromFile(folder / "m.ini");
    return FileHashes::Read(manifest);
}

TEST(FileHashesTest, ReadsEachWellFormedLineAndCountsTheRest) {
    const std::string hash = kAbcHash;
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const FileHashes hashes = HashesOf({
        "[UpdateFiles]", "Pelmar.exe", "[FileHashes]",
        "Pelmar.exe=3 " + hash,
        "Data\\a=b.txt=3 " + hash,             // an entry may hold "="
        "Data\\Upper.txt=3 " + upper,          // hex digits in either case
        "Data\\big.bin=1024000000 " + hash,    // the copy limit itself
        "",                                    // blank lines are no lines
        "Data\\over.bin=1024000001 " + hash,   // past the copy limit
        "Data\\short.txt=3 " + hash.substr(1),
        "Data\\long.txt=3 " + hash + "0",
        "Data\\nohex.txt=3 " + hash.substr(1) + "g",
        "Data\\nosize.txt= " + hash,
        "Data\\signed.txt=-3 " + hash,
        "Data\\two blanks.txt=3  " + hash,
        "Data\\tab.txt=3\t" + hash,
        "no equals sign " + hash,
        "=3 " + hash,
        "Twice.txt=3 " + hash,
        "Twice.txt=3 " + hash,
        "Twice.txt=3 " + hash,
        "[Release]", "Number=12",
    });
    EXPECT_TRUE(hashes.HasSection());
    for (const char* entry : {"Pelmar.exe", "Data\\a=b.txt", "Data\\Upper.txt", "Data\\big.bin"}) {
        const ListedFile* listed = hashes.Find(entry);
        ASSERT_NE(listed, nullptr) << entry;
        EXPECT_EQ(listed->sha256[0], 0xBA) << entry;
        EXPECT_EQ(listed->sha256[31], 0xAD) << entry;
    }
    EXPECT_EQ(hashes.Find("Pelmar.exe")->size, 3);
    EXPECT_EQ(hashes.Find("Data\\big.bin")->size, engine::kDownloadByteLimit);
    for (const char* entry : {"Data\\over.bin", "Data\\short.txt", "Data\\long.txt", "Data\\nohex.txt",
                              "Data\\nosize.txt", "Data\\signed.txt", "Data\\two blanks.txt", "Twice.txt",
                              // matched byte for byte, not by letter case
                              "pelmar.exe", "Data\\upper.txt"}) {
        EXPECT_EQ(hashes.Find(entry), nullptr) << entry;
    }
    EXPECT_EQ(hashes.MalformedLines(), 13);
    EXPECT_EQ(hashes.ReleaseNumber(), 12);
}

TEST(FileHashesTest, ReleaseNumbers) {
    const struct {
        std::vector<std::string> release;
        long long expected;
    } cases[] = {
        {{"[Release]", "Number=1"}, 1},
        {{"[release]", "number=41"}, 41},
        {{"[Release]", "Other=3", "Number=9"}, 9},
        {{"[Release]", "Number=0"}, 0},
        {{"[Release]", "Number=-4"}, 0},
        {{"[Release]", "Number=4.5"}, 0},
        {{"[Release]", "Number="}, 0},
        {{"[Release]", "Number=99999999999999999999"}, 0},
        {{"[Release]"}, 0},
        {{}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines = {"[UpdateFiles]", "Pelmar.exe"};
        lines.insert(lines.end(), c.release.begin(), c.release.end());
        const FileHashes hashes = HashesOf(lines);
        EXPECT_EQ(hashes.ReleaseNumber(), c.expected) << (c.release.size() > 1 ? c.release[1] : "none");
        EXPECT_FALSE(hashes.HasSection());
    }
}

TEST(FileHashesTest, FileMatchesOnlyTheListedSizeAndBytes) {
    TempFolder folder;
    WriteFileBytes(folder / "abc.txt", "abc");
    WriteFileBytes(folder / "abd.txt", "abd");
    WriteFileBytes(folder / "abcd.txt", "abcd");
    const FileHashes hashes = HashesOf({"[FileHashes]", std::string("f=3 ") + kAbcHash});
    const ListedFile& listed = *hashes.Find("f");
    EXPECT_TRUE(FileMatches(folder / "abc.txt", listed));
    EXPECT_FALSE(FileMatches(folder / "abd.txt", listed));
    EXPECT_FALSE(FileMatches(folder / "abcd.txt", listed));
    EXPECT_FALSE(FileMatches(folder / "missing.txt", listed));
    EXPECT_FALSE(FileMatches(folder.Path(), listed));
}

}  // namespace
