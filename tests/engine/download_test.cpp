#include "engine/download.h"

#include "engine/folders.h"
#include "engine/partial_file.h"
#include "engine/timed_fetch.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/support/expected_texts.h"
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
#include <thread>
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

TEST_F(DownloadFileTest, ChunkedBodyIsComplete) {
    const std::string body = Body(50000);
    site.Put("chunked.bin", body);
    site.Fault("chunked.bin", "chunked");
    const std::string local = temp / "chunked.bin";
    WriteFileBytes(local, "old");

    EXPECT_EQ(DownloadFile(form, site.Url("chunked.bin"), local), 50000);
    EXPECT_EQ(ReadFileBytes(local), body);
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"chunked.bin"});
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
    // A silent site is given up at the limit, long before the site itself
    // would drop the connection (after a minute).
    const bool stalls = std::string(fetch.fault).find("stall") != std::string::npos;
    const auto fetchFile = [&] {
        const ULONGLONG start = GetTickCount64();
        const int result = DownloadFile(form, site.Url("file.bin"), local);
        if (stalls) {
            EXPECT_LE(GetTickCount64() - start, 3u * kShortTimeoutMs) << "the limit did not end the fetch";
        }
        return result;
    };

    EXPECT_EQ(fetchFile(), fetch.result);
    EXPECT_TRUE(FolderNames(temp.Path()).empty());

    const std::string old = Body(777);
    WriteFileBytes(local, old);
    EXPECT_EQ(fetchFile(), fetch.result);
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

// A body that announces no length is copied up to the limit and no further:
// one byte past it fails the fetch and leaves the target as it was.
TEST_F(DownloadFileTest, UnannouncedBodyPastTheCopyLimitFails) {
    constexpr long long kLimit = 100000;
    ScopedHook limit(SetCopyLimitForTesting, kLimit);
    struct Case {
        const char* fault;
        size_t size;
        int result;
    };
    for (const Case& c : {Case{"close", kLimit, static_cast<int>(kLimit)}, Case{"close", kLimit + 1, kDownloadIncomplete},
                          Case{"close", 3 * kLimit, kDownloadIncomplete}, Case{"chunked", kLimit, static_cast<int>(kLimit)},
                          Case{"chunked", kLimit + 1, kDownloadIncomplete}}) {
        SCOPED_TRACE(std::string(c.fault) + " " + std::to_string(c.size));
        site.Put("big.bin", Body(c.size));
        site.Fault("big.bin", c.fault);
        const std::string local = temp / "big.bin";
        WriteFileBytes(local, "old");

        EXPECT_EQ(DownloadFile(form, site.Url("big.bin"), local), c.result);
        EXPECT_EQ(ReadFileBytes(local), c.result > 0 ? Body(c.size) : "old");
        EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"big.bin"});
    }
}

// A fetch names no program: its user agent is there and empty.
TEST_F(DownloadFileTest, RequestCarriesAnEmptyUserAgent) {
    site.Put("x.txt", "x");
    ASSERT_EQ(DownloadFile(form, site.Url("x.txt"), temp / "x.txt"), 1);

    const std::vector<std::vector<std::string>> requests = site.RequestHeaders();
    ASSERT_EQ(requests.size(), 1u);
    const std::vector<std::string>& headers = requests[0];
    EXPECT_EQ(std::count_if(headers.begin(), headers.end(),
                            [](const std::string& header) { return header.rfind("User-Agent:", 0) == 0; }),
              1)
        << ::testing::PrintToString(headers);
    EXPECT_NE(std::find(headers.begin(), headers.end(), "User-Agent: "), headers.end())
        << ::testing::PrintToString(headers);
}

TEST_F(DownloadFileTest, NothingListeningIsNotOpened) {
    // The discard port: nothing serves it here, so the connection is refused.
    const std::string url = "http://127.0.0.1:9/x.txt";
    EXPECT_EQ(DownloadFile(form, url, temp / "x.txt"), kDownloadNotOpened);
    EXPECT_TRUE(FolderNames(temp.Path()).empty());
}

TEST_F(DownloadFileTest, SlowSiteThatKeepsSendingIsNotCutOff) {
    // 40 pieces 100 ms apart: twice the limit in all, never silent for more
    // than a twentieth of it, so that a busy machine's pause does not cut it off.
    ScopedHook timeout(SetTransferTimeoutForTesting, 2 * kShortTimeoutMs);
    const std::string body = Body(400);
    site.Put("slow.bin", body);
    site.Fault("slow.bin", "trickle 10");
    const std::string local = temp / "slow.bin";

    EXPECT_EQ(DownloadFile(form, site.Url("slow.bin"), local), 400);
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
        // Each segment costs its separator too; one character left over
        // could not be filled.
        const size_t room = length - folder.size() - 1;
        size_t segment = std::min<size_t>(200, room);
        if (room - segment == 1) --segment;
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

// The same failure wherever no small disk can be mounted: each write of the
// body into the partial file fails.
TEST_F(DownloadFileTest, FailedWriteFailsAndKeepsTheOldFile) {
    ScopedHook writeFails(SetWriteFailureForTesting, true);
    const std::string local = temp / "file.bin";
    const std::string old = Body(100000);
    WriteFileBytes(local, old);
    site.Put("big.bin", Body(200000));

    EXPECT_EQ(DownloadFile(form, site.Url("big.bin"), local), kDownloadIncomplete);
    EXPECT_EQ(ReadFileBytes(local), old);
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"file.bin"});
    EXPECT_TRUE(form.log.empty());
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

// A body that stops early. Where the client can tell (a Content-Length short
// of the bytes, a read that fails), the fetch fails and the target stays.
// Where WinINet reports a clean end (download.h says which), the result is
// the bytes that were sent, never more and never other bytes.
struct CutOffBody {
    const char* name;
    const char* fault;
    int sent;   // bytes of the body that the site sends
    bool told;  // whether WinINet reports it: a short Content-Length, a reset
};

class DownloadFileCutOffTest : public DownloadFileTest, public ::testing::WithParamInterface<CutOffBody> {};

TEST_P(DownloadFileCutOffTest, FailsWhereTheClientCanTell) {
    const CutOffBody& cut = GetParam();
    const std::string body = Body(50000);
    site.Put("cut.bin", body);
    site.Fault("cut.bin", cut.fault);
    const std::string local = temp / "cut.bin";
    const std::string old = Body(777);
    WriteFileBytes(local, old);

    const int result = DownloadFile(form, site.Url("cut.bin"), local);
    if (cut.told || result == kDownloadIncomplete) {
        EXPECT_EQ(result, kDownloadIncomplete);
        EXPECT_EQ(ReadFileBytes(local), old);
    } else {
        EXPECT_EQ(result, cut.sent);
        EXPECT_EQ(ReadFileBytes(local), body.substr(0, static_cast<size_t>(cut.sent)));
    }
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"cut.bin"});
    EXPECT_TRUE(form.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    DownloadFile, DownloadFileCutOffTest,
    ::testing::Values(CutOffBody{"ChunkedCutInAChunk", "chunked cut 30000", 30000, false},
                      CutOffBody{"ChunkedWithoutTheLastChunk", "chunked nolast", 50000, false},
                      CutOffBody{"ResetShortOfTheLength", "reset 30000", 30000, true},
                      CutOffBody{"ResetWithoutALength", "close\nreset 30000", 30000, true}),
    [](const ::testing::TestParamInfo<CutOffBody>& info) { return std::string(info.param.name); });

// Another program (an antivirus, an indexer) holds the target for a while,
// when the fetch probes it or when it replaces it.
struct HeldTarget {
    const char* name;
    bool atReplace;  // held once the body is being written, else from the start
    DWORD holdMs;
    bool replaced;
};

class DownloadFileHeldTargetTest : public DownloadFileTest, public ::testing::WithParamInterface<HeldTarget> {};

TEST_P(DownloadFileHeldTargetTest, IsWaitedForAMoment) {
    const HeldTarget& held = GetParam();
    const std::string body = Body(300);
    site.Put("held.bin", body);
    // Three pieces 100 ms apart: time to take hold of the target meanwhile.
    if (held.atReplace) site.Fault("held.bin", "trickle 100");
    const std::string local = temp / "held.bin";
    WriteFileBytes(local, "old");

    UniqueEventHandle holding(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(holding);
    std::thread holder([&] {
        if (held.atReplace) {
            for (int i = 0; i < 500 && !FileExists(PartialPathFor(local)); ++i) Sleep(5);
        }
        UniqueFileHandle file(CreateFileA(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        SetEvent(holding.get());
        if (file) Sleep(held.holdMs);
    });
    if (!held.atReplace) WaitForSingleObject(holding.get(), 5000);

    int result = 0;
    std::string error;
    try {
        result = DownloadFile(form, site.Url("held.bin"), local);
    } catch (const EFCreateError& e) {
        error = e.Message();
    }
    holder.join();

    if (held.replaced) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(result, 300);
        EXPECT_EQ(ReadFileBytes(local), body);
    } else {
        const std::string prefix = "Cannot create file \"" + local + "\". ";
        EXPECT_EQ(error.substr(0, prefix.size()), prefix);
        EXPECT_EQ(ReadFileBytes(local), "old");
    }
    EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"held.bin"});
}

INSTANTIATE_TEST_SUITE_P(DownloadFile, DownloadFileHeldTargetTest,
                         ::testing::Values(HeldTarget{"ForAMomentAtTheProbe", false, 300, true},
                                           HeldTarget{"ForAMomentAtTheReplace", true, 300, true},
                                           HeldTarget{"PastTheRetryAtTheProbe", false, 2 * kHeldFileRetryMs, false},
                                           HeldTarget{"PastTheRetryAtTheReplace", true, 2 * kHeldFileRetryMs, false}),
                         [](const ::testing::TestParamInfo<HeldTarget>& info) { return std::string(info.param.name); });

// Fetches one after another, some of them given up at the time limit: what
// one leaves behind never ends the next early or breaks it.
struct FetchInSequence {
    const char* path;
    const char* fault;  // "" serves the file normally
    int result;
};

struct FetchSequence {
    const char* name;
    std::vector<FetchInSequence> fetches;
};

class DownloadFileSequenceTest : public DownloadFileTest, public ::testing::WithParamInterface<FetchSequence> {
protected:
    ScopedHook timeout{SetTransferTimeoutForTesting, kShortTimeoutMs};
};

TEST_P(DownloadFileSequenceTest, EachStalledFetchEndsAtTheLimitAndTheLastSucceeds) {
    // Scheduling under Wine on a busy machine: the limit is kept to this.
    constexpr DWORD kSlackMs = 1500;
    for (const FetchInSequence& fetch : GetParam().fetches) {
        SCOPED_TRACE(std::string(fetch.path) + " " + fetch.fault);
        const std::string body = Body(50000);
        site.Put(fetch.path, body);
        site.Fault(fetch.path, fetch.fault);
        const std::string local = temp / "file.bin";

        const DWORD start = GetTickCount();
        EXPECT_EQ(DownloadFile(form, site.Url(fetch.path), local), fetch.result);
        const DWORD elapsed = GetTickCount() - start;
        if (*fetch.fault) {
            EXPECT_GE(elapsed + 50, static_cast<DWORD>(kShortTimeoutMs));
            EXPECT_LE(elapsed, kShortTimeoutMs + kSlackMs);
        } else {
            EXPECT_EQ(ReadFileBytes(local), body);
        }
    }
}

const FetchInSequence kStalledBody{"a.bin", "stall body 20000", kDownloadIncomplete};
const FetchInSequence kStalledHead{"a.bin", "stall head", kDownloadNotOpened};

INSTANTIATE_TEST_SUITE_P(
    DownloadFile, DownloadFileSequenceTest,
    ::testing::Values(
        FetchSequence{"ThreeStalledBodiesThenANormalFetch",
                      {kStalledBody, {"b.bin", "stall body 0", kDownloadIncomplete}, kStalledBody, {"c.bin", "", 50000}}},
        FetchSequence{"ThreeStalledHeadsThenANormalFetch",
                      {kStalledHead, {"b.bin", "stall head", kDownloadNotOpened}, kStalledHead, {"c.bin", "", 50000}}},
        FetchSequence{"StalledBodyThenTheSameUrlServedNormally", {kStalledBody, {"a.bin", "", 50000}}}),
    [](const ::testing::TestParamInfo<FetchSequence>& info) { return std::string(info.param.name); });

// What a completed open hands over: the request handle, from the result or,
// where the result is the documented Boolean, from the handle WinINet
// announced when it made it.
TEST(DownloadCompletedOpen, TakesTheRequestFromTheResultOrTheCreatedHandle) {
    const auto request = reinterpret_cast<HINTERNET>(static_cast<DWORD_PTR>(0xC0DE0));
    const auto other = reinterpret_cast<HINTERNET>(static_cast<DWORD_PTR>(0xC0DE4));
    struct Case {
        DWORD_PTR result;
        DWORD error;
        HINTERNET created;
        HINTERNET expected;
    };
    for (const Case& c : {Case{reinterpret_cast<DWORD_PTR>(request), ERROR_SUCCESS, request, request},
                          Case{reinterpret_cast<DWORD_PTR>(request), ERROR_SUCCESS, nullptr, request},
                          Case{TRUE, ERROR_SUCCESS, other, other},
                          Case{TRUE, ERROR_SUCCESS, nullptr, nullptr},
                          Case{FALSE, ERROR_SUCCESS, other, nullptr},
                          Case{FALSE, ERROR_INTERNET_CANNOT_CONNECT, other, nullptr},
                          Case{reinterpret_cast<DWORD_PTR>(request), ERROR_INTERNET_CONNECTION_ABORTED, request, nullptr},
                          Case{TRUE, ERROR_INTERNET_TIMEOUT, other, nullptr}}) {
        SCOPED_TRACE(testing::Message() << c.result << " " << c.error);
        EXPECT_EQ(RequestOfCompletedOpen(c.result, c.error, c.created), c.expected);
    }
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
    EXPECT_EQ(form.Messages(), std::vector<std::string>{expected::kCannotMakeFolder + folder});
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
    EXPECT_EQ(form.Messages(), std::vector<std::string>{expected::kCannotMakeFolder + folder});
}

}  // namespace
