#include "engine/install_run.h"

#include "engine/download.h"

#include "runtime/date_time.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/string_list.h"
#include "runtime/unique_handle.h"
#include "tests/engine/unsafe_entries.h"
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
#include <string>
#include <vector>

using namespace runtime;
using namespace engine;

namespace {

using Lines = std::vector<std::string>;

using expected::kCancelCaption;
using expected::kCloseCaption;
using expected::kFetchFailed;
using expected::kFetching;
using expected::kRunSucceeded;

class InstallRunTest : public ::testing::Test {
protected:
    InstallRunTest() {
        form.destination = dest;
        form.siteHost = site.Host();
        form.log = {"welcome text"};
    }

    // Serves a file of the product at its manifest entry.
    void PutFile(const std::string& entry, const std::string& body) const {
        site.PutProduct("Pelmar", {{entry, body}});
    }
    void PutManifest(const std::string& text) const { PutFile("Resources\\Pelmar.ini", text); }
    // The same after the manifest in name order: the listed files are
    // fetched several at a time.
    Lines FetchedAfterTheManifest() const {
        Lines fetched = Fetched();
        if (!fetched.empty()) std::sort(fetched.begin() + 1, fetched.end());
        return fetched;
    }
    // Entries fetched from the site, manifest first, as relative paths.
    Lines Fetched() const {
        Lines fetched;
        for (const std::string& path : site.Requests()) {
            const std::string base = "/Updates/Pelmar/";
            fetched.push_back(path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path);
        }
        return fetched;
    }

    TestSite site;
    TempFolder temp;
    const std::string dest = temp / "Programs\\Pelmar";
    const std::string manifestLocal = dest + "\\Resources\\Pelmar.ini";
    FakeForm form;
};

TEST_F(InstallRunTest, FetchesEveryListedFileThenLaunchesTheProductAndCloses) {
    const std::string manifest = "; Pelmar\r\n[Other]\r\nNot.me\r\n[UpdateFiles]\r\nPelmar.exe\r\nData\\base.dat\r\n";
    PutManifest(manifest);
    PutFile("Pelmar.exe", "MZ program");
    PutFile("Data\\base.dat", std::string(30000, 'd'));
    Lines logAtMessages;
    form.onProcessMessages = [&] { logAtMessages.push_back(std::to_string(form.log.size())); };

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe",
                                      dest + "\\Data\\base.dat", kRunSucceeded}));
    // The cleared log is painted first, then the window repaints after each file.
    EXPECT_EQ(logAtMessages, (Lines{"0", "3", "4"}));
    EXPECT_EQ(FetchedAfterTheManifest(), (Lines{"Resources/Pelmar.ini", "Data/base.dat", "Pelmar.exe"}));
    EXPECT_EQ(ReadFileBytes(manifestLocal), manifest);
    EXPECT_EQ(ReadFileBytes(dest + "\\Pelmar.exe"), "MZ program");
    EXPECT_EQ(ReadFileBytes(dest + "\\Data\\base.dat"), std::string(30000, 'd'));
    EXPECT_EQ(form.shellOpened, Lines{dest + "\\Pelmar.exe"});
    EXPECT_EQ(form.closeCount, 1);
    EXPECT_EQ(form.cancelCaption, kCancelCaption);
    EXPECT_FALSE(InstallRunning());
}

TEST_F(InstallRunTest, WithoutTheRunFlagOpensTheFolderTwiceAndStaysOpen) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nPelmar.dll\r\n");
    PutFile("Pelmar.exe", "exe");
    PutFile("Pelmar.dll", "dll");
    form.runAfterInstall = false;

    RunInstall(form);

    EXPECT_EQ(form.Messages().back(), kRunSucceeded);
    EXPECT_EQ(form.shellOpened, (Lines{dest, dest}));
    EXPECT_EQ(form.cancelCaption, kCloseCaption);
    EXPECT_EQ(form.closeCount, 0);
}

TEST_F(InstallRunTest, ManifestListedInItsSectionIsNotFetchedAgain) {
    PutManifest("[UpdateFiles]\r\nResources\\Pelmar.ini\r\nPelmar.exe\r\n");
    PutFile("Pelmar.exe", "exe");

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe", kRunSucceeded}));
    EXPECT_EQ(Fetched(), (Lines{"Resources/Pelmar.ini", "Pelmar.exe"}));
    EXPECT_EQ(form.shellOpened, Lines{dest + "\\Pelmar.exe"});
}

TEST_F(InstallRunTest, SectionOfOnlyManifestEntriesSucceedsWithTheManifestAlone) {
    // Both begin with the manifest's own path.
    PutManifest("[UpdateFiles]\r\nResources\\Pelmar.ini\r\nResources\\Pelmar.ini.old\r\n");

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, kRunSucceeded}));
    EXPECT_EQ(Fetched(), Lines{"Resources/Pelmar.ini"});
    EXPECT_EQ(form.shellOpened, Lines{dest + "\\Pelmar.exe"});
    EXPECT_EQ(form.closeCount, 1);
}

TEST_F(InstallRunTest, ManifestEntryInOtherLetterCaseIsFetchedAgain) {
    // The site's folder cannot hold both spellings under Wine, so the second
    // fetch finds nothing; that it is asked for at all is the point.
    const std::string manifest = "[UpdateFiles]\r\nPelmar.exe\r\nresources\\pelmar.ini\r\n";
    PutManifest(manifest);
    PutFile("Pelmar.exe", "exe");

    RunInstall(form);

    EXPECT_EQ(FetchedAfterTheManifest(), (Lines{"Resources/Pelmar.ini", "Pelmar.exe", "resources/pelmar.ini"}));
    EXPECT_EQ(form.Messages().back(), std::string(kFetchFailed) + dest + "\\resources\\pelmar.ini");
    // A failed run puts no manifest in place: there was none before.
    EXPECT_FALSE(FileExists(manifestLocal));
}

// A manifest that cannot be used ends the run with its error line; nothing
// more is fetched and nothing is opened.
struct RefusedManifest {
    const char* name;
    const char* text;  // nullptr: not on the site
};

class InstallRunRefusedManifestTest : public InstallRunTest,
                                      public ::testing::WithParamInterface<RefusedManifest> {};

TEST_P(InstallRunRefusedManifestTest, EndsWithTheManifestErrorLine) {
    if (GetParam().text) PutManifest(GetParam().text);
    PutFile("Pelmar.exe", "exe");

    RunInstall(form);

    // An empty or missing manifest is not even logged as fetched.
    const bool fetched = GetParam().text && *GetParam().text;
    EXPECT_EQ(form.Messages(), (fetched ? Lines{kFetching, manifestLocal, std::string(kFetchFailed) + manifestLocal}
                                        : Lines{kFetching, std::string(kFetchFailed) + manifestLocal}));
    EXPECT_EQ(Fetched(), Lines{"Resources/Pelmar.ini"});
    EXPECT_TRUE(form.shellOpened.empty());
    EXPECT_EQ(form.closeCount, 0);
    EXPECT_EQ(form.cancelCaption, kCancelCaption);
}

INSTANTIATE_TEST_SUITE_P(
    InstallRun, InstallRunRefusedManifestTest,
    ::testing::Values(RefusedManifest{"NotOnTheSite", nullptr},
                      RefusedManifest{"EmptyOnTheSite", ""},
                      RefusedManifest{"NoSection", "[Other]\r\nPelmar.exe\r\nPelmar.dll\r\n"},
                      RefusedManifest{"OneEntry", "[UpdateFiles]\r\nPelmar.exe\r\n"},
                      RefusedManifest{"OneEntryBeforeNextSection", "[UpdateFiles]\r\nPelmar.exe\r\n[Next]\r\nPelmar.dll\r\n"},
                      RefusedManifest{"HeaderOnLastLine", "Pelmar.exe\r\nPelmar.dll\r\n[UpdateFiles]\r\n"}),
    [](const ::testing::TestParamInfo<RefusedManifest>& info) { return std::string(info.param.name); });

TEST_F(InstallRunTest, FailedFileStopsTheRunAndPutsNoFileInPlace) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nMissing.dll\r\nLater.dll\r\n");
    PutFile("Pelmar.exe", "exe");
    PutFile("Later.dll", "later");

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe",
                                      std::string(kFetchFailed) + dest + "\\Missing.dll"}));
    // Later.dll may have been under way meanwhile; it is abandoned.
    Lines fetched = FetchedAfterTheManifest();
    fetched.erase(std::remove(fetched.begin(), fetched.end(), "Later.dll"), fetched.end());
    EXPECT_EQ(fetched, (Lines{"Resources/Pelmar.ini", "Missing.dll", "Pelmar.exe"}));
    EXPECT_EQ(FilesBelow(dest), Lines{});
    EXPECT_TRUE(form.shellOpened.empty());
    EXPECT_EQ(form.closeCount, 0);
}

TEST_F(InstallRunTest, TruncatedFileFailsLikeAMissingOne) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nPelmar.dll\r\n");
    PutFile("Pelmar.exe", std::string(20000, 'x'));
    site.Fault("Updates/Pelmar/Pelmar.exe", "truncate 15000");
    PutFile("Pelmar.dll", "dll");

    RunInstall(form);

    EXPECT_EQ(form.Messages().back(), std::string(kFetchFailed) + dest + "\\Pelmar.exe");
    EXPECT_FALSE(FileExists(dest + "\\Pelmar.exe"));
    EXPECT_TRUE(form.shellOpened.empty());
}

TEST_F(InstallRunTest, BlankEntryEndsInCannotCreateFile) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\n\r\nLater.dll\r\n");
    PutFile("Pelmar.exe", "exe");
    PutFile("Later.dll", "later");

    try {
        RunInstall(form);
        FAIL() << "no EFCreateError";
    } catch (const EFCreateError& error) {
        const std::string prefix = "Cannot create file \"" + dest + "\\\". ";
        EXPECT_EQ(error.Message().substr(0, prefix.size()), prefix);
    }
    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe"}));
    EXPECT_FALSE(FileExists(dest + "\\Later.dll"));
    EXPECT_TRUE(form.shellOpened.empty());
    EXPECT_FALSE(InstallRunning());
}

TEST_F(InstallRunTest, ProductOpenElsewhereEndsInCannotCreateFile) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nPelmar.dll\r\n");
    PutFile("Pelmar.exe", "new exe");
    PutFile("Pelmar.dll", "dll");
    WriteFileBytes(dest + "\\Pelmar.exe", "running exe");
    UniqueFileHandle running(
        CreateFileA((dest + "\\Pelmar.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(running);

    EXPECT_THROW(RunInstall(form), EFCreateError);
    running.reset();

    EXPECT_EQ(ReadFileBytes(dest + "\\Pelmar.exe"), "running exe");
    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal}));
    EXPECT_TRUE(form.shellOpened.empty());
}

class InstallRunUnsafeEntryTest : public InstallRunTest, public ::testing::WithParamInterface<const char*> {};

// Nothing is fetched for the entry or after it, and the run ends like a failed file.
TEST_P(InstallRunUnsafeEntryTest, IsRefusedBeforeAnythingIsFetched) {
    const std::string entry = GetParam();
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\n" + entry + "\r\nLater.dll\r\n");
    PutFile("Pelmar.exe", "exe");
    PutFile("Later.dll", "later");

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe",
                                      expected::kEntryRefused + entry}));
    EXPECT_EQ(Fetched(), (Lines{"Resources/Pelmar.ini", "Pelmar.exe"}));
    EXPECT_TRUE(form.shellOpened.empty());
    EXPECT_EQ(form.closeCount, 0);
    EXPECT_EQ(form.cancelCaption, kCancelCaption);
}

INSTANTIATE_TEST_SUITE_P(InstallRun, InstallRunUnsafeEntryTest, ::testing::ValuesIn(kUnsafeEntries));

TEST_F(InstallRunTest, DestinationThatCannotBeMadeIsLogged) {
    WriteFileBytes(temp / "blocker", "a file, not a folder");
    form.destination = temp / "blocker\\Pelmar";

    RunInstall(form);

    EXPECT_EQ(form.Messages(), Lines{expected::kCannotMakeDestination + form.destination});
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_TRUE(form.shellOpened.empty());
}

TEST_F(InstallRunTest, EmptyDestinationCannotEvenBeAttempted) {
    form.destination = "";

    try {
        RunInstall(form);
        FAIL() << "no EInOutError";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Message(), "Unable to create directory");
    }
    EXPECT_TRUE(form.log.empty());
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_FALSE(InstallRunning());
}

TEST_F(InstallRunTest, SiteHostWithoutWwwCannotBeOpened) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nPelmar.dll\r\n");
    form.siteHost = site.Host().substr(4);

    RunInstall(form);

    EXPECT_EQ(form.Messages(), (Lines{kFetching, std::string(kFetchFailed) + manifestLocal}));
    EXPECT_TRUE(site.Requests().empty());
}

TEST_F(InstallRunTest, PressWhileARunIsInProgressIsIgnored) {
    PutManifest("[UpdateFiles]\r\nPelmar.exe\r\nPelmar.dll\r\n");
    PutFile("Pelmar.exe", "exe");
    PutFile("Pelmar.dll", "dll");
    form.onProcessMessages = [&] { RunInstall(form); };

    RunInstall(form);

    EXPECT_EQ(FetchedAfterTheManifest(), (Lines{"Resources/Pelmar.ini", "Pelmar.dll", "Pelmar.exe"}));
    EXPECT_EQ(form.Messages(), (Lines{kFetching, manifestLocal, dest + "\\Pelmar.exe",
                                      dest + "\\Pelmar.dll", kRunSucceeded}));
    EXPECT_EQ(form.closeCount, 1);
    EXPECT_EQ(form.processMessagesCount, 3);

    // A later press starts a new run.
    form.onProcessMessages = nullptr;
    RunInstall(form);
    EXPECT_EQ(Fetched().size(), 6u);
}

TEST_F(InstallRunTest, FirstLineCountsFromTheLastLogLineBeforeTheRun) {
    struct FixedClock {
        static TDateTime Now() { return EncodeDateTime(2024, 3, 1, 12, 0, 1, 500); }
    };
    ScopedHook clock(SetClockForTesting, &FixedClock::Now);
    form.lastLogTime = EncodeDateTime(2024, 3, 1, 12, 0, 0, 0);
    form.siteHost = site.Host().substr(4);

    RunInstall(form);

    ASSERT_EQ(form.log.size(), 2u);
    EXPECT_NE(form.log[0].find(std::string(" (1500) - ") + kFetching), std::string::npos) << form.log[0];
    EXPECT_NE(form.log[1].find(" (0) - "), std::string::npos) << form.log[1];
}

TEST_F(InstallRunTest, OpenDestinationOpensOnlyAnExistingFolder) {
    OpenDestination(form);
    EXPECT_TRUE(form.shellOpened.empty());

    CreateDirectoryA((temp / "Programs").c_str(), nullptr);
    CreateDirectoryA(dest.c_str(), nullptr);
    OpenDestination(form);
    EXPECT_EQ(form.shellOpened, Lines{dest});
}

}  // namespace

// Twenty files whose answers come in another order than they are listed
// (later ones first, in groups): the log names them in manifest order, and the
// first failure in that order ends the run with nothing put in place.
TEST(InstallRunManyFilesTest, FilesAreLoggedInManifestOrderAndTheFirstFailureEndsTheRun) {
    ScopedHook shortLimit(engine::SetTransferTimeoutForTesting, 1500);
    const struct {
        const char* what;
        int failing;             // the file that fails, from 1; 0: none
        const char* directives;  // its fault
    } cases[] = {
        {"every file comes", 0, ""},
        {"a 500 at file 7", 7, "status 500"},
        {"file 3 says nothing", 3, "stall head"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestSite site;
        TempFolder temp;
        const std::string dest = temp / "Pelmar";
        FakeForm form;
        form.destination = dest;
        form.siteHost = site.Host();
        form.runAfterInstall = false;
        std::string manifest = "[UpdateFiles]\r\n";
        for (int n = 1; n <= 20; ++n) {
            const std::string entry = "file" + std::to_string(100 + n).substr(1) + ".txt";
            manifest += entry + "\r\n";
            site.PutProduct("Pelmar", {{entry, entry + " body"}});
            const std::string path = TestSite::ProductPath("Pelmar", entry);
            if (n == c.failing) {
                site.Fault(path, c.directives);
            } else {
                site.Fault(path, "delay " + std::to_string((5 - n % 5) * 0.04));
            }
        }
        site.PutProduct("Pelmar", {{"Resources\\Pelmar.ini", manifest}});

        RunInstall(form);

        Lines expected = {kFetching, dest + "\\Resources\\Pelmar.ini"};
        const int logged = c.failing == 0 ? 20 : c.failing - 1;
        for (int n = 1; n <= logged; ++n) expected.push_back(dest + "\\file" + std::to_string(100 + n).substr(1) + ".txt");
        expected.push_back(c.failing == 0 ? std::string(kRunSucceeded)
                                          : kFetchFailed + dest + "\\file" + std::to_string(100 + c.failing).substr(1) + ".txt");
        EXPECT_EQ(form.Messages(), expected);
        if (c.failing != 0) {
            EXPECT_EQ(FilesBelow(dest), Lines{}) << "nothing put in place, nothing left beside";
        }
        if (c.failing == 3) {
            // The other files went on meanwhile, each on a connection of its own.
            EXPECT_EQ(site.Requests().size(), 21u);
        }
    }
}
