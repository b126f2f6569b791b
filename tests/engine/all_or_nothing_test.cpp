// An update of an installed product either puts every new file in place or
// leaves every old one as it was: a table of the points where a run can fail
// or be killed, each followed by the run that installs the new version.
#include "engine/install_run.h"
#include "engine/staged_update.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fake_form.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/scoped_hook.h"
#include "tests/support/signed_site.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Lines = std::vector<std::string>;

constexpr char kManifest[] = "Resources\\Pelmar.ini";

// The product's five files in manifest order (ProductFiles sorts by name).
const Lines kEntries = {"Data\\base.dat", "Data\\more.dat", "Help\\readme.txt", "Pelmar.dll", "Pelmar.exe"};

ProductFiles Release(int number) {
    ProductFiles files;
    for (const std::string& entry : kEntries) files[entry] = entry + ", release " + std::to_string(number);
    // Release 2 brings a file in a folder of its own.
    if (number == 2) files["Plugins\\Extra\\new.dll"] = "a new library";
    return files;
}

// The path of entry number n (from 1) as the site serves it.
std::string SitePath(int n) { return TestSite::ProductPath("Pelmar", kEntries.at(static_cast<size_t>(n - 1))); }

// Holds a file open so that it cannot be moved or replaced, while it lives.
class HeldFile {
public:
    void Hold(const std::string& path) {
        file_.reset(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file_) << path;
    }
    void Release() { file_.reset(); }

private:
    runtime::UniqueFileHandle file_;
};

// Public: the rows of the table below arrange their faults through it.
class AllOrNothingTest : public ::testing::Test {
public:
    AllOrNothingTest() {
        form.destination = dest;
        form.siteHost = site.Host();
        form.runAfterInstall = false;
    }

    std::string LocalPath(const std::string& entry) const { return dest + "\\" + entry; }
    std::string LocalPath(int n) const { return LocalPath(kEntries.at(static_cast<size_t>(n - 1))); }

    // Installs release 1 and publishes release 2; returns what release 1 left.
    Tree InstallReleaseOne() {
        PutCheckedProduct(site, "Pelmar", Release(1), 1);
        RunInstall(form);
        EXPECT_EQ(form.Messages().back(), expected::kRunSucceeded);
        Tree installed = TreeOf(dest);
        PutCheckedProduct(site, "Pelmar", Release(2), 2);
        return installed;
    }

    // What release 2 leaves when it has gone in place.
    Tree ReleaseTwoInstalled() const {
        Tree tree;
        for (const auto& [entry, bytes] : Release(2)) tree[entry] = bytes;
        tree[kManifest] = ReadFileBytes(site.LocalPath(TestSite::ProductPath("Pelmar", kManifest)));
        return tree;
    }

    TestSite site;
    TempFolder temp;
    std::string dest = temp / "Programs\\Pelmar";
    FakeForm form;
};

TEST_F(AllOrNothingTest, SuccessfulUpdatePutsEveryNewFileInPlaceAndLeavesNothingElse) {
    InstallReleaseOne();

    RunInstall(form);

    EXPECT_EQ(form.Messages().back(), expected::kRunSucceeded);
    EXPECT_EQ(Differences(ReleaseTwoInstalled(), TreeOf(dest)), Lines{});
}

// Each row fails or stops the update of release 1 to release 2 at one point.
// Then every file is the old one, byte for byte, and nothing else is there
// (for a stopped run: once the next run has cleaned up what it left); the
// next run with the site whole installs release 2 completely.
TEST_F(AllOrNothingTest, FailedOrKilledUpdateLeavesTheOldProduct) {
    enum Ending { LogLine, ErrorBox, Killed };
    const struct {
        const char* what;
        std::function<void(AllOrNothingTest&, HeldFile&)> arrange;
        Ending ending;
        std::function<std::string(const AllOrNothingTest&)> lastLine;  // for LogLine
    } cases[] = {
        {"a 500 at file 1", [](AllOrNothingTest& t, HeldFile&) { t.site.Fault(SitePath(1), "status 500"); }, LogLine,
         [](const AllOrNothingTest& t) { return expected::kFetchFailed + t.LocalPath(1); }},
        {"a 500 at file 3", [](AllOrNothingTest& t, HeldFile&) { t.site.Fault(SitePath(3), "status 500"); }, LogLine,
         [](const AllOrNothingTest& t) { return expected::kFetchFailed + t.LocalPath(3); }},
        {"a 500 at file 5", [](AllOrNothingTest& t, HeldFile&) { t.site.Fault(SitePath(5), "status 500"); }, LogLine,
         [](const AllOrNothingTest& t) { return expected::kFetchFailed + t.LocalPath(5); }},
        {"a cut-off body", [](AllOrNothingTest& t, HeldFile&) { t.site.Fault(SitePath(2), "truncate 5"); }, LogLine,
         [](const AllOrNothingTest& t) { return expected::kFetchFailed + t.LocalPath(2); }},
        {"a file that is not the listed one",
         [](AllOrNothingTest& t, HeldFile&) {
             const std::string served = t.site.LocalPath(SitePath(4));
             std::string bytes = ReadFileBytes(served);
             bytes[0] ^= 1;
             WriteFileBytes(served, bytes);
         },
         LogLine, [](const AllOrNothingTest& t) { return expected::kFileDamaged + t.LocalPath(4); }},
        {"a stop during fetching, after file 3",
         [](AllOrNothingTest& t, HeldFile&) {
             t.form.onProcessMessages = [&t] {
                 if (t.form.log.size() == 5) StopAsIfKilledForTesting();
             };
         },
         Killed, nullptr},
        {"a file held by another program when it goes in place (put back)",
         [](AllOrNothingTest& t, HeldFile& held) {
             t.form.onProcessMessages = [&t, &held] {
                 if (t.form.log.size() == 8) held.Hold(t.LocalPath(4));
             };
         },
         ErrorBox, nullptr},
        // The manifest goes in place first: 2 moves; then 2 for each file.
        {"a stop between putting file 2 and file 3 in place",
         [](AllOrNothingTest&, HeldFile&) { SetStopAfterMovesForTesting(7); }, Killed, nullptr},
        // File 4 cannot go in place; putting file 3 back is the tenth move.
        {"a stop while putting back",
         [](AllOrNothingTest& t, HeldFile& held) {
             SetStopAfterMovesForTesting(11);
             t.form.onProcessMessages = [&t, &held] {
                 if (t.form.log.size() == 8) held.Hold(t.LocalPath(4));
             };
         },
         Killed, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(temp / "Programs");
        form.onProcessMessages = nullptr;
        const Tree before = InstallReleaseOne();
        HeldFile held;
        c.arrange(*this, held);

        switch (c.ending) {
        case LogLine:
            RunInstall(form);
            EXPECT_EQ(form.Messages().back(), c.lastLine(*this));
            break;
        case ErrorBox:
            try {
                RunInstall(form);
                ADD_FAILURE() << "no EFCreateError";
            } catch (const runtime::EFCreateError& error) {
                EXPECT_NE(error.Message().find(LocalPath(4)), std::string::npos) << error.Message();
            }
            break;
        case Killed:
            EXPECT_THROW(RunInstall(form), StoppedForTesting);
            SetStopAfterMovesForTesting(0);
            held.Release();
            StagedUpdate::FinishInterrupted(dest, LocalPath(kManifest));
            break;
        }
        held.Release();
        form.onProcessMessages = nullptr;
        EXPECT_EQ(Differences(before, TreeOf(dest)), Lines{});
        EXPECT_FALSE(runtime::DirectoryExists(LocalPath("Plugins")));

        PutCheckedProduct(site, "Pelmar", Release(2), 2);
        for (int n = 1; n <= 5; ++n) site.Fault(SitePath(n), "");
        RunInstall(form);
        EXPECT_EQ(form.Messages().back(), expected::kRunSucceeded);
        EXPECT_EQ(Differences(ReleaseTwoInstalled(), TreeOf(dest)), Lines{});
    }
}

// The same on a disk that fills while file 4 is fetched (the small disk
// holds 1 MiB): every changed file is on the disk twice until all have come.
TEST_F(AllOrNothingTest, FullDiskAtFile4LeavesTheOldProduct) {
    std::string whyNot;
    const std::string disk = SmallDiskFolder(whyNot);
    if (disk.empty()) GTEST_SKIP() << whyNot;
    dest = disk + "\\all-or-nothing";
    RemoveTree(dest);
    form.destination = dest;
    const Tree before = InstallReleaseOne();
    ProductFiles release2 = Release(2);
    release2[kEntries[3]] = std::string(2 << 20, 'x');
    PutCheckedProduct(site, "Pelmar", release2, 2);

    RunInstall(form);

    EXPECT_EQ(form.Messages().back(), expected::kFetchFailed + LocalPath(4));
    EXPECT_EQ(Differences(before, TreeOf(dest)), Lines{});
    EXPECT_FALSE(runtime::DirectoryExists(LocalPath("Plugins")));
    RemoveTree(dest);
}

}  // namespace
