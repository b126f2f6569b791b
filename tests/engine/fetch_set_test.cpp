#include "engine/fetch_set.h"

#include "engine/cng.h"
#include "engine/partial_file.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/scoped_hook.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace engine;
using runtime::FileExists;

namespace {

constexpr int kFiles = 20;
constexpr int kLimitMs = 3000;

std::string Name(int file) { return "f" + std::string(file < 10 ? "0" : "") + std::to_string(file) + ".bin"; }

// Each file's bytes its own, of a size its own.
std::string Body(int file) {
    std::string body(3000 + 977 * file, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 31 + file * 7 + i / 253) & 0xFF);
    return body;
}

ListedFile Listed(const std::string& body) {
    Sha256 hash;
    hash.Add(body.data(), body.size());
    return {static_cast<long long>(body.size()), hash.Finish()};
}

// Answers held so that within each six files the later ones come first:
// 240 ms for the first of them down to 40 ms for the sixth.
std::string Delay(int file) { return "delay " + std::to_string(0.04 * (6 - (file - 1) % 6)); }

// The most answers that the site had under way at once for this test: a
// stalled answer of an earlier test may still be open there.
int MostAnswersUnderWay(const TestSite& site) {
    std::multiset<std::string> underWay;
    size_t most = 0;
    for (const TestSite::AnswerEvent& event : site.AnswerEvents()) {
        if (event.began) {
            underWay.insert(event.path);
        } else if (auto found = underWay.find(event.path); found != underWay.end()) {
            underWay.erase(found);
        }
        most = std::max(most, underWay.size());
    }
    return static_cast<int>(most);
}

// Files f01.bin, f02.bin... served by the site and queued in that order, each
// checked against its size and hash, for the destination in temp.
class SetOfFiles : public ::testing::Test {
protected:
    // Serves files 1..count with fault(file) as each one's directives and queues them.
    template <typename Fault>
    void ServeAndQueue(int count, Fault fault) {
        for (int file = 1; file <= count; ++file) {
            site.Put(Name(file), Body(file));
            site.Fault(Name(file), fault(file));
            listed.push_back(Listed(Body(file)));
        }
        for (int file = 1; file <= count; ++file) {
            set.Queue({site.Url(Name(file)), temp / Name(file), &listed[file - 1], Name(file), file, count});
        }
    }
    // The paths whose answers the site has ended, in the order it did.
    std::vector<std::string> EndedAnswers() const {
        std::vector<std::string> ended;
        for (const TestSite::AnswerEvent& event : site.AnswerEvents()) {
            if (!event.began) ended.push_back(event.path);
        }
        return ended;
    }

    TestSite site;
    TempFolder temp;
    FakeForm form;
    std::vector<ListedFile> listed;  // before the set, which borrows them
    FetchSet set{form};
};

struct SetCase {
    const char* name;
    std::map<int, std::string> faults;  // by file, from 1, instead of its delay
    int endsAt;                         // the file whose result ends the set; 0 when all come
    int result;                         // that file's result
};

class FetchSetTest : public SetOfFiles, public ::testing::WithParamInterface<SetCase> {
protected:
    ScopedHook timeout{SetTransferTimeoutForTesting, kLimitMs};
};

// Twenty files of one product, their answers held for varied times, taken in
// their order: what was there before stays for every file from the one that
// ends the set on, and nothing of theirs is left beside them.
TEST_P(FetchSetTest, ResultsComeInQueueOrderAndTheFirstFailureEndsTheSet) {
    const SetCase& row = GetParam();
    for (int file = 1; file <= kFiles; ++file) WriteFileBytes(temp / Name(file), "old " + Name(file));
    ServeAndQueue(kFiles, [&](int file) {
        const auto fault = row.faults.find(file);
        return fault != row.faults.end() ? fault->second : Delay(file);
    });
    const DWORD start = GetTickCount();
    for (int file = 1; file <= kFiles; ++file) {
        SCOPED_TRACE(Name(file));
        ASSERT_TRUE(set.HasNext());
        const int result = set.TakeNext();
        const DWORD took = GetTickCount() - start;
        if (file != row.endsAt) {
            EXPECT_EQ(result, static_cast<int>(Body(file).size()));
            continue;
        }
        EXPECT_EQ(result, row.result);
        EXPECT_FALSE(set.HasNext()) << "the failure ends the set";
        if (row.faults.at(file) == "stall head") {
            EXPECT_GE(took + 50, static_cast<DWORD>(kLimitMs)) << "the stalled file waited for the limit";
            // Every later file was asked for and answered meanwhile.
            const std::vector<std::string> answered = EndedAnswers();
            for (int later = file + 1; later <= kFiles; ++later) {
                EXPECT_NE(std::find(answered.begin(), answered.end(), "/" + Name(later)), answered.end())
                    << Name(later) << " had not come";
            }
        }
        break;
    }
    for (int file = 1; file <= kFiles; ++file) {
        SCOPED_TRACE(Name(file));
        const bool fetched = row.endsAt == 0 || file < row.endsAt;
        EXPECT_EQ(ReadFileBytes(temp / Name(file)), fetched ? Body(file) : "old " + Name(file));
    }
    std::vector<std::string> names;
    for (int file = 1; file <= kFiles; ++file) names.push_back(Name(file));
    EXPECT_EQ(FolderNames(temp.Path()), names) << "a temporary file was left";

    EXPECT_LE(MostAnswersUnderWay(site), kFetchesInFlight);
    EXPECT_GE(MostAnswersUnderWay(site), 2) << "the fetches did not overlap";
}

INSTANTIATE_TEST_SUITE_P(
    FetchSet, FetchSetTest,
    ::testing::Values(SetCase{"LaterFilesFinishingFirst", {}, 0, 0},
                      SetCase{"ServerErrorAtFile7", {{7, "status 500"}}, 7, kDownloadNotOpened},
                      SetCase{"DamagedFile12", {{12, "length 3"}}, 12, kDownloadDamaged},
                      SetCase{"StalledFile3", {{3, "stall head"}}, 3, kDownloadNotOpened},
                      SetCase{"StalledBodyOfFile5", {{5, "stall body 1000"}}, 5, kDownloadIncomplete}),
    [](const ::testing::TestParamInfo<SetCase>& info) { return std::string(info.param.name); });

TEST_F(SetOfFiles, LaterFilesFinishFirstAtTheSite) {
    // The table's premise: the site answers later files of a window first.
    ServeAndQueue(6, Delay);
    while (set.HasNext()) EXPECT_GT(set.TakeNext(), 0);
    const std::vector<std::string> ended = EndedAnswers();
    ASSERT_EQ(ended.size(), 6u);
    EXPECT_EQ(ended.front(), "/" + Name(6));
    EXPECT_EQ(ended.back(), "/" + Name(1));
}

TEST_F(SetOfFiles, WhatAFetchThrowsIsThrownInItsTurn) {
    // A target that cannot be written throws when its file is taken, after
    // the files before it, as when they came one by one.
    ASSERT_TRUE(CreateDirectoryA((temp / Name(3)).c_str(), nullptr));
    ServeAndQueue(4, [](int) { return std::string(); });
    EXPECT_GT(set.TakeNext(), 0);
    EXPECT_GT(set.TakeNext(), 0);
    EXPECT_THROW(set.TakeNext(), runtime::EFCreateError);
    EXPECT_FALSE(set.HasNext());
    EXPECT_FALSE(FileExists(temp / Name(4))) << "the file after it was abandoned";
    EXPECT_FALSE(FileExists(PartialPathFor(temp / Name(4))));
}

TEST_F(SetOfFiles, ShowsTheProgressOfTheFileTakenInItsPlace) {
    // The third comes before the others are taken.
    ServeAndQueue(3, [](int file) { return std::string(file == 3 ? "" : "delay 0.2"); });
    for (int file = 1; file <= 3; ++file) {
        form.progress.clear();
        EXPECT_GT(set.TakeNext(), 0);
        ASSERT_FALSE(form.progress.empty()) << Name(file);
        for (const FakeForm::Progress& shown : form.progress) {
            EXPECT_EQ(shown.entry, Name(file));
            EXPECT_EQ(shown.index, file);
            EXPECT_EQ(shown.count, 3);
        }
        EXPECT_EQ(form.progress.front().received, 0);
        EXPECT_EQ(form.progress.back().received, static_cast<long long>(Body(file).size()));
    }
}

}  // namespace
