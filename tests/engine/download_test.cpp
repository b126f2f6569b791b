#include "engine/download.h"

#include "runtime/exceptions.h"
#include "runtime/unique_handle.h"
#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/scoped_hook.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace runtime;
using namespace engine;

namespace {


// Bytes that differ from read to read, so that a lost or repeated block shows.
std::string Body(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return body;
}

class DownloadFileTest : public ::testing::Test {
protected:
    TestSite site;
    TempFolder temp;
    FakeForm form;
};

TEST_F(DownloadFileTest, CopiesBodiesOfEverySizeIntoANewFolderChain) {
    // Around one read (10240 bytes of old, 64 KiB for a small body, 1 MiB for a
    // large one): a body that fills the block exactly ends with a read that
    // returns nothing.
    for (size_t size : {size_t{1}, size_t{10240}, size_t{65536}, size_t{65537}, size_t{1048576}, size_t{1048577},
                        size_t{2500000}}) {
        SCOPED_TRACE(size);
        const std::string body = Body(size);
        site.Put("files/data.bin", body);
        const std::string local = temp / ("chain" + std::to_string(size) + "\\Resources\\data.bin");

        EXPECT_EQ(DownloadFile(form, site.Url("files/data.bin"), local), static_cast<int>(size));
        EXPECT_EQ(ReadFileBytes(local), body);
        EXPECT_EQ(FolderNames(temp / ("chain" + std::to_string(size) + "\\Resources")),
                  std::vector<std::string>{"data.bin"});
    }
    EXPECT_TRUE(form.log.empty());
}

TEST_F(DownloadFileTest, ReplacesAnExistingFileInsteadOfAppending) {
    site.Put("new.txt", "new");
    const std::string local = temp / "file.txt";
    WriteFileBytes(local, "a much longer old content");

    EXPECT_EQ(DownloadFile(form, site.Url("new.txt"), local), 3);
    EXPECT_EQ(ReadFileBytes(local), "new");
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"file.txt"});
}

TEST_F(DownloadFileTest, BodyThatEndsWithTheConnectionIsComplete) {
    const std::string body = Body(50000);
    site.Put("close.bin", body);
    site.Fault("close.bin", "close");
    const std::string local = temp / "close.bin";

    EXPECT_EQ(DownloadFile(form, site.Url("close.bin"), local), 50000);
    EXPECT_EQ(ReadFileBytes(local), body);
}

TEST_F(DownloadFileTest, EmptyUrlOrPathFetchesNothing) {
    site.Put("x.txt", "x");
    EXPECT_EQ(DownloadFile(form, "", temp / "x.txt"), kDownloadEmpty);
    EXPECT_EQ(DownloadFile(form, site.Url("x.txt"), ""), kDownloadEmpty);
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_TRUE(FolderNames(temp.Path()).empty());
}

TEST_F(DownloadFileTest, UrlWithoutSchemeIsNotOpened) {
    site.Put("x.txt", "x");
    // What a site host without "www." gives: "127.0.0.1:PORT/x.txt".
    const std::string noScheme = site.Host().substr(4) + "/x.txt";

    EXPECT_EQ(DownloadFile(form, noScheme, temp / "sub\\x.txt"), kDownloadNotOpened);
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_TRUE(FolderNames(temp.Path()).empty());
}

struct FailedFetch {
    const char* name;
    std::string body;   // "<missing>" serves no file at all
    const char* fault;  // sidecar directives, "" for none
    int result;
};

// A site that stops sending fails at the time limit, shortened here.
constexpr int kShortTimeoutMs = 1000;

class DownloadFileFailureTest : public DownloadFileTest, public ::testing::WithParamInterface<FailedFetch> {
protected:
    ScopedHook timeout{SetTransferTimeoutForTesting, kShortTimeoutMs};
};

// Every failed fetch leaves the target as it was, or absent, and no partial
// file beside it.
TEST_P(DownloadFileFailureTest, LeavesTheTargetAsItWas) {
    const FailedFetch& fetch = GetParam();
    if (fetch.body != "<missing>") site.Put("file.bin", fetch.body);
    if (*fetch.fault) site.Fault("file.bin", fetch.fault);
    const std::string local = temp / "file.bin";

    EXPECT_EQ(DownloadFile(form, site.Url("file.bin"), local), fetch.result);
    EXPECT_TRUE(FolderNames(temp.Path()).empty());

    const std::string old = Body(777);
    WriteFileBytes(local, old);
    EXPECT_EQ(DownloadFile(form, site.Url("file.bin"), local), fetch.result);
    EXPECT_EQ(ReadFileBytes(local), old);
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"file.bin"});
    EXPECT_TRUE(form.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    DownloadFile, DownloadFileFailureTest,
    ::testing::Values(FailedFetch{"NotFound", "<missing>", "", kDownloadNotOpened},
                      FailedFetch{"Status404", Body(5000), "status 404", kDownloadNotOpened},
                      FailedFetch{"Status500", Body(5000), "status 500", kDownloadNotOpened},
                      FailedFetch{"Status301WithoutTarget", Body(5000), "status 301", kDownloadNotOpened},
                      FailedFetch{"TruncatedInFirstBuffer", Body(5000), "truncate 100", kDownloadIncomplete},
                      FailedFetch{"TruncatedAfterSomeBuffers", Body(50000), "truncate 30000", kDownloadIncomplete},
                      FailedFetch{"TruncatedToNothing", Body(5000), "truncate 0", kDownloadIncomplete},
                      FailedFetch{"ShorterThanAnnounced", Body(5000), "length 9000", kDownloadIncomplete},
                      FailedFetch{"AnnouncedOverTheLimit", Body(5000), "length 1024000001", kDownloadIncomplete},
                      FailedFetch{"SilentAfterTheRequest", Body(5000), "stall head", kDownloadNotOpened},
                      FailedFetch{"SilentAfterTheHead", Body(5000), "stall body 0", kDownloadIncomplete},
                      FailedFetch{"SilentInTheBody", Body(50000), "stall body 30000", kDownloadIncomplete},
                      FailedFetch{"SilentInALargeBody", Body(3000000), "stall body 1500000", kDownloadIncomplete},
                      FailedFetch{"SilentInACloseDelimitedBody", Body(50000), "close\nstall body 20000",
                                  kDownloadIncomplete},
                      FailedFetch{"EmptyBody", "", "", kDownloadEmpty},
                      FailedFetch{"EmptyCloseDelimitedBody", "", "close", kDownloadEmpty}),
    [](const ::testing::TestParamInfo<FailedFetch>& info) { return std::string(info.param.name); });

TEST_F(DownloadFileTest, NothingListeningIsNotOpened) {
    // The discard port: nothing serves it here, so the connection is refused.
    const std::string url = "http://127.0.0.1:9/x.txt";
    EXPECT_EQ(DownloadFile(form, url, temp / "x.txt"), kDownloadNotOpened);
    EXPECT_TRUE(FolderNames(temp.Path()).empty());
}

TEST_F(DownloadFileTest, SlowSiteThatKeepsSendingIsNotCutOff) {
    // 30 pieces 100 ms apart: three times the limit in all, never silent for long.
    ScopedHook timeout(SetTransferTimeoutForTesting, kShortTimeoutMs);
    const std::string body = Body(300);
    site.Put("slow.bin", body);
    site.Fault("slow.bin", "trickle 10");
    const std::string local = temp / "slow.bin";

    EXPECT_EQ(DownloadFile(form, site.Url("slow.bin"), local), 300);
    EXPECT_EQ(ReadFileBytes(local), body);
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"slow.bin"});
}

TEST_F(DownloadFileTest, PartialFileOfAKilledFetchIsGoneAfterTheNextOne) {
    site.Put("file.bin", "whole");
    const std::string local = temp / "file.bin";
    WriteFileBytes(local, "old");
    WriteFileBytes(PartialPathFor(local), "half of a fetch that was killed");
    // A file of the user's that only looks like one.
    WriteFileBytes(temp / "file.bin.part", "mine");

    EXPECT_EQ(DownloadFile(form, site.Url("file.bin"), local), 5);
    EXPECT_EQ(ReadFileBytes(local), "whole");
    EXPECT_EQ(FolderNames(temp.Path()), (std::vector<std::string>{"file.bin", "file.bin.part"}));
}

// A folder of exactly `length` characters below temp: segments of up to 200.
std::string FolderOfLength(const TempFolder& temp, size_t length) {
    std::string folder = temp.Path();
    while (folder.size() < length) {
        const size_t segment = std::min<size_t>(200, length - folder.size() - 1);
        folder += "\\" + std::string(segment == 0 ? 1 : segment, 'd');
    }
    return folder;
}

struct LongTarget {
    size_t pathLength;
    size_t nameLength;
};

class DownloadFileLongPathTest : public DownloadFileTest, public ::testing::WithParamInterface<LongTarget> {};

// A target that fits the 259 characters of a path is fetched, however little
// room its name leaves for a temporary one.
TEST_P(DownloadFileLongPathTest, TargetThatFitsThePathLimitIsFetched) {
    const LongTarget target = GetParam();
    const std::string name = "f" + std::string(target.nameLength - 5, 'n') + ".bin";
    const std::string folder = FolderOfLength(temp, target.pathLength - name.size() - 1);
    const std::string local = folder + "\\" + name;
    ASSERT_EQ(local.size(), target.pathLength);
    ASSERT_TRUE(CheckDirectory(form, folder, true));
    site.Put("long.bin", Body(3000));
    WriteFileBytes(PartialPathFor(local), "left by a killed fetch");

    EXPECT_EQ(DownloadFile(form, site.Url("long.bin"), local), 3000);
    EXPECT_EQ(ReadFileBytes(local), Body(3000));
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{name});
    EXPECT_LE(PartialPathFor(local).size(), std::max<size_t>(local.size(), MAX_PATH - 1));
}

INSTANTIATE_TEST_SUITE_P(DownloadFile, DownloadFileLongPathTest,
                         ::testing::Values(LongTarget{250, 5}, LongTarget{254, 12}, LongTarget{255, 5},
                                           LongTarget{258, 40}, LongTarget{259, 5}, LongTarget{259, 6},
                                           LongTarget{259, 20}),
                         [](const ::testing::TestParamInfo<LongTarget>& info) {
                             return "Path" + std::to_string(info.param.pathLength) + "Name" +
                                    std::to_string(info.param.nameLength);
                         });

TEST(DownloadPartialPath, BesideTheTargetAndItsOwnForEachTarget) {
    const std::string folder = "C:\\Programs\\Pelmar\\";
    EXPECT_EQ(PartialPathFor(folder + "Pelmar.exe"), folder + "Pelmar.exe.~part");
    EXPECT_EQ(PartialPathFor(folder + "Pelmar.exe"), PartialPathFor(folder + "Pelmar.exe"));

    // Where the usual name would not fit: as long as the target's name at most,
    // still in its folder, and different for different entries.
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\";
    std::vector<std::string> partials;
    for (const char* name : {"Pelmar.exe", "Pelmar.dll", "pelmar.ini", "readme.txt", "a", "ab", "~", "~~",
                             "a very long name of a file.dat"}) {
        SCOPED_TRACE(name);
        const std::string target = deep + name;
        const std::string partial = PartialPathFor(target);
        EXPECT_EQ(partial.substr(0, deep.size()), deep);
        EXPECT_LE(partial.size(), target.size());
        EXPECT_NE(partial, target);
        EXPECT_EQ(partial.find_first_of("\\/:", deep.size()), std::string::npos);
        if (std::string(name).size() > 4) partials.push_back(partial);
    }
    std::sort(partials.begin(), partials.end());
    EXPECT_EQ(std::adjacent_find(partials.begin(), partials.end()), partials.end());
}

// The folder of a small disk that the test run mounts, or why there is none.
std::string SmallDiskFolder(std::string& whyNot) {
    const char* folder = std::getenv("SMALL_DISK");
    if (folder == nullptr || *folder == '\0') {
        whyNot = "SMALL_DISK is not set: the test run mounts a small disk there (tests/engine/small_disk)";
        return {};
    }
    ULARGE_INTEGER total{};
    if (!GetDiskFreeSpaceExA(folder, nullptr, &total, nullptr) || total.QuadPart > 4u << 20) {
        whyNot = std::string("no small disk mounted at ") + folder + " (mounting needs root)";
        return {};
    }
    return folder;
}

TEST_F(DownloadFileTest, FullDiskFailsAndKeepsTheOldFile) {
    std::string whyNot;
    const std::string disk = SmallDiskFolder(whyNot);
    if (disk.empty()) GTEST_SKIP() << whyNot;
    const std::string folder = disk + "\\full";
    RemoveTree(folder);
    const std::string local = folder + "\\file.bin";
    const std::string old = Body(100000);
    WriteFileBytes(local, old);
    site.Put("big.bin", Body(2 << 20));

    EXPECT_EQ(DownloadFile(form, site.Url("big.bin"), local), kDownloadIncomplete);
    EXPECT_EQ(ReadFileBytes(local), old);
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"file.bin"});
    RemoveTree(folder);
}

TEST_F(DownloadFileTest, TargetOpenElsewhereCannotBeCreated) {
    site.Put("file.bin", "new contents");
    const std::string local = temp / "file.bin";
    WriteFileBytes(local, "old contents");
    UniqueFileHandle held(CreateFileA(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    try {
        DownloadFile(form, site.Url("file.bin"), local);
        FAIL() << "no EFCreateError";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(error.Message(),
                  "Cannot create file \"" + local + "\". " + SystemErrorText(ERROR_SHARING_VIOLATION));
    }
    held.reset();
    EXPECT_EQ(ReadFileBytes(local), "old contents");
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"file.bin"});
}

TEST_F(DownloadFileTest, FolderCannotBeCreatedAsAFile) {
    site.Put("Resources", "a file where a folder is");
    site.Put("x", "body");
    CreateDirectoryA((temp / "Resources").c_str(), nullptr);

    // A folder of that name, and a path with no file name at all.
    for (const std::string& local : {temp / "Resources", temp.Path() + "\\"}) {
        SCOPED_TRACE(local);
        try {
            DownloadFile(form, site.Url(local.back() == '\\' ? "x" : "Resources"), local);
            FAIL() << "no EFCreateError";
        } catch (const EFCreateError& error) {
            const std::string prefix = "Cannot create file \"" + local + "\". ";
            EXPECT_EQ(error.Message().substr(0, prefix.size()), prefix);
            EXPECT_GT(error.Message().size(), prefix.size());
        }
    }
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"Resources"});
    EXPECT_TRUE(FolderNames(temp / "Resources").empty());
}

TEST_F(DownloadFileTest, FolderThatCannotBeMadeIsLoggedAndTheFileNotCreated) {
    site.Put("x.txt", "x");
    WriteFileBytes(temp / "blocker", "a file, not a folder");
    const std::string folder = temp / "blocker\\sub";

    EXPECT_THROW(DownloadFile(form, site.Url("x.txt"), folder + "\\x.txt"), EFCreateError);
    EXPECT_EQ(form.Messages(), std::vector<std::string>{"Не могу создать директорию - " + folder});
}

TEST(DownloadCheckDirectory, ExistingOrMadeFoldersPassSilently) {
    TempFolder temp;
    FakeForm form;
    EXPECT_TRUE(CheckDirectory(form, temp.Path(), true));
    EXPECT_TRUE(CheckDirectory(form, temp / "a\\b\\c", true));
    EXPECT_EQ(FolderNames(temp / "a\\b"), std::vector<std::string>{"c"});
    EXPECT_TRUE(form.log.empty());
}

TEST(DownloadCheckDirectory, FolderUnderAFileFailsWithOneLineWhenReporting) {
    TempFolder temp;
    FakeForm form;
    WriteFileBytes(temp / "file", "x");
    const std::string folder = temp / "file\\sub";

    EXPECT_FALSE(CheckDirectory(form, folder, false));
    EXPECT_TRUE(form.log.empty());
    EXPECT_FALSE(CheckDirectory(form, folder, true));
    EXPECT_EQ(form.Messages(), std::vector<std::string>{"Не могу создать директорию - " + folder});
}

}  // namespace
