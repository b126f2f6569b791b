#include "engine/manifest.h"

#include "runtime/string_list.h"
#include "tests/engine/unsafe_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace runtime;
using namespace engine;

namespace {

using Lines = std::vector<std::string>;

// Each entry of the table the publishing tool is held to as well.
TEST(ManifestEntry, EachEntryOfTheTableGetsTheInstallersVerdict) {
    const ManifestEntryTable& table = ManifestEntries();
    ASSERT_TRUE(table.error.empty()) << table.error;
    for (const ManifestEntryRow& row : table.rows) {
        EXPECT_EQ(IsSafeManifestEntry(row.entry), row.safe)
            << "line " << row.line << ": \"" << row.entry << "\" (" << row.why << ")";
    }
}

struct SectionCase {
    const char* name;
    Lines source;
    Lines entries;
};

class ReadIniSectionTest : public ::testing::TestWithParam<SectionCase> {};

TEST_P(ReadIniSectionTest, ReadsTheLinesOfTheSection) {
    TStringList source;
    for (const std::string& line : GetParam().source) source.Add(line);
    TStringList entries;
    entries.Add("left from before");

    EXPECT_EQ(ReadIniSection(source, entries, "UpdateFiles"), static_cast<int>(GetParam().entries.size()));
    Lines read;
    for (int i = 0; i < entries.Count(); ++i) read.push_back(entries[i]);
    EXPECT_EQ(read, GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    ReadIniSection, ReadIniSectionTest,
    ::testing::Values(
        SectionCase{"ToTheEnd", {"[UpdateFiles]", "a", "b"}, {"a", "b"}},
        SectionCase{"HeaderInAnyCase", {"x", "[updateFILES]", "a"}, {"a"}},
        SectionCase{"FirstHeaderWins", {"[UpdateFiles]", "a", "[Other]", "[UPDATEFILES]", "b"}, {"a"}},
        SectionCase{"EndsAtNextBracket", {"[UpdateFiles]", "a", "[", "b"}, {"a"}},
        SectionCase{"IndentedBracketIsAnEntry", {"[UpdateFiles]", "a", "  [x]", "b"}, {"a", "  [x]", "b"}},
        SectionCase{"EmptyLinesAreEntries", {"[UpdateFiles]", "", "a", ""}, {"", "a", ""}},
        SectionCase{"WholeLinesUntrimmed", {"[UpdateFiles]", "; note", "key = value ", " b"}, {"; note", "key = value ", " b"}},
        SectionCase{"EmptySection", {"[UpdateFiles]", "[Next]", "a"}, {}},
        SectionCase{"HeaderOnLastLine", {"a", "[UpdateFiles]"}, {}},
        SectionCase{"NoHeader", {"UpdateFiles", " [UpdateFiles]", "[UpdateFiles] ", "[Update Files]", "a"}, {}},
        SectionCase{"EmptySource", {}, {}}),
    [](const ::testing::TestParamInfo<SectionCase>& info) { return std::string(info.param.name); });

}  // namespace
