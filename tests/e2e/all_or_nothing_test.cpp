// The shipped installer updating a product while another program holds one of
// its files, or killed at a moment that the test sees from outside: the
// product is then the old one, byte for byte, with nothing beside it (once a
// killed run's leftovers have met the next run), and a later run installs the
// new one completely.
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/error_box.h"
#include "tests/support/expected_texts.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"
#include "tests/support/poll.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kProduct = PRODUCT_NAME;
const std::string kManifest = "Resources\\" + kProduct + ".ini";
constexpr DWORD kRunTimeoutMs = 60000;

// The files in manifest order: the installed version has the first five; the
// new one adds the sixth, in folders of its own.
const Lines kEntries = {"Data\\base.dat", "Data\\more.dat", "Help\\readme.txt",
                        kProduct + ".dll", "Lib\\tools.dll", "Plugins\\Extra\\new.dll"};
constexpr int kInstalledCount = 5;

const std::string& Entry(int n) { return kEntries.at(static_cast<size_t>(n - 1)); }
std::string NewBytes(int n) { return "new " + Entry(n) + std::string(3000, 'n'); }
std::string OldBytes(int n) { return "old " + Entry(n); }

std::string NewManifest() {
    std::string text = "; " + kProduct + "\r\n[UpdateFiles]\r\n" + kManifest + "\r\n";
    for (const auto& entry : kEntries) text += entry + "\r\n";
    return text;
}

Tree OldVersion() {
    Tree tree{{kManifest, "; the installed version's list\r\n"}};
    for (int n = 1; n <= kInstalledCount; ++n) tree[Entry(n)] = OldBytes(n);
    return tree;
}

Tree NewVersion() {
    Tree tree{{kManifest, NewManifest()}};
    for (int n = 1; n <= static_cast<int>(kEntries.size()); ++n) tree[Entry(n)] = NewBytes(n);
    return tree;
}

// Where a run is interrupted, and how.
enum class Interruption {
    HeldWhenPuttingInPlace,  // file 3 held: the run puts the old files back and shows the error box
    KilledWhileFetching,     // killed while the last file is on its way
    KilledWhilePuttingInPlace,  // killed after file 1 is in place, while file 3 is held
    KilledWhilePuttingBack,  // file 4 held, then the new file 2 too: killed once file 3 is back
    // The same, and file 2 is still held when the next run starts: that run
    // cannot put the old file 2 back first, and then fails at file 4.
    StillHeldWhenTheNextRunStarts,
};

struct Row {
    const char* name;
    Interruption interruption;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class InterruptedUpdate : public testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        explorersBefore_ = ProcessesNamed("explorer.exe");
        for (const auto& [relative, bytes] : OldVersion()) WriteFileBytes(Local(relative), bytes);
        ProductFiles files{{kManifest, NewManifest()}};
        for (int n = 1; n <= static_cast<int>(kEntries.size()); ++n) files[Entry(n)] = NewBytes(n);
        site_.PutProduct(kProduct, files);
        // A moment to act in after file 4 has come.
        Fault(kEntries.back(), "delay 2");
    }

    void TearDown() override {
        EndProcessesNamed("explorer.exe", explorersBefore_);
        EndProcessesNamed("winefile.exe", {});
    }

    std::string Local(const std::string& relative) const { return dest_ + "\\" + relative; }
    std::string Local(int n) const { return Local(Entry(n)); }

    void Fault(const std::string& relative, const std::string& directives) {
        site_.Fault(TestSite::ProductPath(kProduct, relative), directives);
    }

    // Whether file n has these bytes, read in passing: shared for every use,
    // so that the run's moves never wait for the look.
    bool Holds(int n, const std::string& bytes) const {
        runtime::UniqueFileHandle file(CreateFileA(Local(n).c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        std::string read(bytes.size() + 1, '\0');
        DWORD count = 0;
        return ReadFile(file.get(), read.data(), static_cast<DWORD>(read.size()), &count, nullptr) &&
               read.compare(0, count, bytes) == 0 && count == bytes.size();
    }
    bool IsNew(int n) const { return Holds(n, NewBytes(n)); }
    bool IsOld(int n) const { return Holds(n, OldBytes(n)); }

    // Opens file n as another program that shares it with nobody would.
    runtime::UniqueFileHandle Hold(int n) const {
        runtime::UniqueFileHandle file(
            CreateFileA(Local(n).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file) << "cannot hold " << Local(n) << ": error " << GetLastError();
        return file;
    }

    // The installer against the test site, its run flag cleared, its run begun.
    std::unique_ptr<InstallerDriver> StartRun() {
        auto installer =
            std::make_unique<InstallerDriver>(InstallerPath(), ExtraEnvironment{{"http_proxy", site_.ProxyUrl()}});
        EXPECT_TRUE(installer->WaitForWindow()) << "no installer window";
        EXPECT_TRUE(installer->SetFolder(dest_));
        EXPECT_TRUE(installer->SetRunFlag(false));
        installer->PressInstall();
        return installer;
    }

    static bool WaitForMessage(const InstallerDriver& installer, const std::string& message, Lines& lines) {
        return installer.WaitForLogLine([&](const std::string& line) { return MessageOfLogLine(line) == message; },
                                        kRunTimeoutMs, &lines);
    }

    // Waits for the error box naming file n, releases held, expects the old
    // version (the run waits in the box meanwhile) and answers the box.
    void ExpectErrorBoxAndOldVersion(InstallerDriver& installer, int n, runtime::UniqueFileHandle& held) {
        ErrorBox box;
        ASSERT_TRUE(installer.WaitForErrorBox(box, kRunTimeoutMs)) << "no error box";
        EXPECT_EQ(box.text.rfind("Cannot create file \"" + Local(n) + "\". ", 0), 0u) << box.text;
        held.reset();
        ExpectOldVersion("with the error box shown");
        PressOk(box);
        EXPECT_TRUE(PollUntil([&] { return !installer.FindErrorBox(box); }, 5000)) << "the box closes with its OK";
        Lines lines;
        ASSERT_TRUE(installer.LogLines(lines));
        EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), IsOkLine));
    }

    // The destination holds the old version and nothing else.
    void ExpectOldVersion(const char* when) {
        EXPECT_EQ(Differences(OldVersion(), TreeOf(dest_)), Lines{}) << when;
        EXPECT_FALSE(runtime::DirectoryExists(Local("Plugins"))) << when;
    }

    TestSite site_;
    TempFolder temp_;
    const std::string dest_ = temp_ / kProduct;
    std::set<DWORD> explorersBefore_;
};

std::string Joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

TEST_P(InterruptedUpdate, LeavesTheOldVersionUntilARunInstallsTheNewOne) {
    const Interruption interruption = GetParam().interruption;
    auto installer = StartRun();
    Lines lines;
    ASSERT_TRUE(WaitForMessage(*installer, Local(4), lines)) << Joined(lines);

    runtime::UniqueFileHandle held;
    runtime::UniqueFileHandle heldToo;
    switch (interruption) {
    case Interruption::HeldWhenPuttingInPlace:
        held = Hold(3);
        ExpectErrorBoxAndOldVersion(*installer, 3, held);
        break;
    case Interruption::KilledWhileFetching:
        installer->Kill();
        for (int n = 1; n <= kInstalledCount; ++n) EXPECT_TRUE(IsOld(n)) << "nothing goes in place before all came";
        break;
    case Interruption::KilledWhilePuttingInPlace:
        held = Hold(3);
        ASSERT_TRUE(PollUntil([&] { return IsNew(1); }, kRunTimeoutMs)) << "file 1 never went in place";
        // File 3 is retried for a second meanwhile.
        installer->Kill();
        break;
    case Interruption::KilledWhilePuttingBack:
    case Interruption::StillHeldWhenTheNextRunStarts:
        held = Hold(4);
        ASSERT_TRUE(PollUntil([&] { return IsNew(2); }, kRunTimeoutMs)) << "file 2 never went in place";
        heldToo = Hold(2);
        ASSERT_TRUE(PollUntil([&] { return IsNew(3); }, 5000)) << "file 3 never went in place";
        // File 4 is retried for a second; then file 3 is put back, and file 2
        // is retried for a second.
        ASSERT_TRUE(PollUntil([&] { return IsOld(3); }, 5000)) << "file 3 was never put back";
        installer->Kill();
        break;
    }
    held.reset();
    if (interruption != Interruption::StillHeldWhenTheNextRunStarts) heldToo.reset();

    if (interruption != Interruption::HeldWhenPuttingInPlace) {
        if (interruption == Interruption::KilledWhileFetching) {
            EXPECT_NE(Differences(OldVersion(), TreeOf(dest_)), Lines{}) << "the kill left no fetched file";
        } else if (!(IsNew(1) && IsOld(3))) {
            GTEST_SKIP() << "the kill came too late to land between two moves";
        }
        if (interruption == Interruption::StillHeldWhenTheNextRunStarts) {
            // The next run cannot put the old file 2 back: it stops as it
            // starts, naming file 2, and changes nothing.
            installer = StartRun();
            ErrorBox box;
            ASSERT_TRUE(installer->WaitForErrorBox(box, kRunTimeoutMs)) << "no error box";
            EXPECT_EQ(box.text.rfind("Cannot create file \"" + Local(2) + "\". ", 0), 0u) << box.text;
            heldToo.reset();
            // Everything else is put back; the old file 2 waits as a backup.
            EXPECT_TRUE(IsOld(1) && IsNew(2) && IsOld(3)) << "not put back as far as it could be";
            PressOk(box);
            EXPECT_TRUE(PollUntil([&] { return !installer->FindErrorBox(box); }, 5000)) << "the box closes with its OK";
        }
        // A run that ends at once, its list failing: what the killed run
        // left is undone as it starts.
        Fault(kManifest, "status 500");
        if (interruption == Interruption::StillHeldWhenTheNextRunStarts) {
            installer->PressInstall();
        } else {
            installer = StartRun();
        }
        ASSERT_TRUE(WaitForMessage(*installer, expected::kFetchFailed + Local(kManifest), lines)) << Joined(lines);
        ExpectOldVersion("after the next run");
        Fault(kManifest, "");
    }

    Fault(kEntries.back(), "");
    installer->PressInstall();
    ASSERT_TRUE(installer->WaitForLogLine(IsOkLine, kRunTimeoutMs, &lines)) << Joined(lines);
    EXPECT_EQ(Differences(NewVersion(), TreeOf(dest_)), Lines{});
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, InterruptedUpdate,
    testing::Values(Row{"HeldWhenPuttingInPlace", Interruption::HeldWhenPuttingInPlace},
                    Row{"KilledWhileFetching", Interruption::KilledWhileFetching},
                    Row{"KilledWhilePuttingInPlace", Interruption::KilledWhilePuttingInPlace},
                    Row{"KilledWhilePuttingBack", Interruption::KilledWhilePuttingBack},
                    Row{"StillHeldWhenTheNextRunStarts", Interruption::StillHeldWhenTheNextRunStarts}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
