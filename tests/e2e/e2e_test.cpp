// The shipped installer as a whole, driven from outside like a user drives it,
// against the loopback site. The program is built for the product's real site;
// it reaches the test site through the proxy variable that WinINet honours.
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"
#include "tests/support/poll.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

using runtime::FileExists;

namespace {


const std::string kProduct = PRODUCT_NAME;
const std::string kProductExe = kProduct + ".exe";
const std::string kManifest = "Resources\\" + kProduct + ".ini";
const std::string kFetchFailed = "Ошибка при получении файла - ";
constexpr DWORD kRunTimeoutMs = 60000;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

// A file manager window showing a folder of this name: the run opens the
// destination that way after its "OK" when the run flag is cleared.
bool WaitForFolderWindow(const std::string& folderName, DWORD timeoutMs) {
    return PollUntil([&] {
        // Wine's file manager, then Windows' own.
        for (const char* className : {"ExplorerWClass", "CabinetWClass"}) {
            for (HWND window : TopWindowsOfClass(className)) {
                if (WindowCaption(window) == folderName) return true;
            }
        }
        return false;
    }, timeoutMs);
}

class EndToEnd : public testing::Test {
protected:
    // The site's files, relative to the product folder, "\" separators.
    ProductFiles siteFiles_;

    void SetUp() override {
        explorersBefore_ = ProcessesNamed("explorer.exe");
        dest_ = temp_ / kProduct;
        siteFiles_ = {
            {kProductExe, ReadFileBytes(DemoProductPath())},
            {"Resources\\readme.txt", "Pelmar demo: read me.\r\n"},
            {"Data\\sample.txt", std::string(20000, 's')},
        };
    }

    void TearDown() override {
        // Whatever the installer started must not outlive the test.
        for (int i = 0; i < 5; ++i) {
            HWND product = FindTopWindowOfClass("DemoProduct");
            if (product == nullptr) break;
            CloseWindowAndProcess(product);
        }
        EndProcessesNamed(kProductExe, {});
        EndProcessesNamed("explorer.exe", explorersBefore_);
        EndProcessesNamed("winefile.exe", {});
    }

    // Serves the site files and a manifest listing `entries` in this order.
    void PublishSite(const std::vector<std::string>& entries) {
        ProductFiles files = siteFiles_;
        std::string& manifest = files[kManifest] = "; " + kProduct + "\r\n[UpdateFiles]\r\n";
        for (const auto& entry : entries) manifest += entry + "\r\n";
        site_.PutProduct(kProduct, files);
    }
    void PublishSite() { PublishSite({kManifest, kProductExe, "Resources\\readme.txt", "Data\\sample.txt"}); }

    void Fault(const std::string& relative, const std::string& directives) {
        site_.Fault(TestSite::ProductPath(kProduct, relative), directives);
    }

    // An earlier install in the destination, different from the site's files.
    void InstallOldFiles() {
        for (const auto& [relative, bytes] : siteFiles_) WriteFileBytes(dest_ + "\\" + relative, "old " + relative);
    }

    // The installer, started against the test site, its window found.
    std::unique_ptr<InstallerDriver> StartInstaller() {
        auto driver =
            std::make_unique<InstallerDriver>(InstallerPath(), ExtraEnvironment{{"http_proxy", site_.ProxyUrl()}});
        EXPECT_TRUE(driver->WaitForWindow()) << "no installer window";
        return driver;
    }

    bool Requested(const std::string& relative) const {
        const std::string path = "/" + TestSite::ProductPath(kProduct, relative);
        auto requests = site_.Requests();
        return std::find(requests.begin(), requests.end(), path) != requests.end();
    }

    void ExpectSiteFilesInstalled() {
        for (const auto& [relative, bytes] : siteFiles_) {
            ASSERT_TRUE(FileExists(dest_ + "\\" + relative)) << relative;
            EXPECT_EQ(ReadFileBytes(dest_ + "\\" + relative), bytes) << relative;
        }
        EXPECT_TRUE(FileExists(dest_ + "\\" + kManifest));
    }

    // Whether the product runs, asked once the window has answered a message
    // after the run's last line: the run has then come back from any launch,
    // and a started product is in the process list from that moment on.
    bool ProductRunsAfterTheRun(const InstallerDriver& installer) {
        std::vector<std::string> lines;
        EXPECT_TRUE(installer.LogLines(lines)) << "the window does not answer";
        return !ProcessesNamed(kProductExe).empty();
    }

    // Closes the window by its close box and expects the program to end well.
    void CloseAndExpectExit(InstallerDriver& installer) {
        installer.CloseByCloseBox();
        DWORD exitCode = 1;
        ASSERT_TRUE(installer.WaitForExit(15000, &exitCode)) << "the program did not end";
        EXPECT_EQ(exitCode, 0u);
    }

    TestSite site_;
    TempFolder temp_;
    std::string dest_;
    std::set<DWORD> explorersBefore_;
};

TEST_F(EndToEnd, FreshInstallStartsTheProductAndEnds) {
    PublishSite();
    auto installer = StartInstaller();
    bool runFlag = false;
    ASSERT_TRUE(installer->RunFlag(runFlag));
    EXPECT_TRUE(runFlag) << "the run flag starts checked for " << kProduct;

    ASSERT_TRUE(installer->SetFolder(dest_));
    EXPECT_EQ(installer->Caption(), "Установка программы " + kProduct);
    EXPECT_EQ(installer->InstallButtonCaption(), "Установить");
    LogWatcher watcher(*installer);
    installer->PressInstall();

    DWORD exitCode = 1;
    ASSERT_TRUE(installer->WaitForExit(kRunTimeoutMs, &exitCode)) << "the program did not end after the run";
    EXPECT_EQ(exitCode, 0u);
    watcher.Stop();
    std::vector<std::string> lines = watcher.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(MessageOfLogLine(lines.back()), "OK") << Joined(lines);
    ExpectSiteFilesInstalled();
    std::vector<std::string> expected = {kProductExe, kManifest, "Resources\\readme.txt", "Data\\sample.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(dest_), expected) << "no partial file is left behind";

    HWND product = WaitForTopWindowOfClass("DemoProduct", 20000);
    ASSERT_NE(product, nullptr) << "the installed product did not start";
    EXPECT_EQ(WindowCaption(product), kProduct);
}

TEST_F(EndToEnd, RunFlagClearedRenamesCancelAndKeepsTheWindow) {
    PublishSite();
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    ASSERT_TRUE(installer->SetRunFlag(false));
    EXPECT_EQ(installer->CancelButtonCaption(), "Отмена");
    installer->PressInstall();

    std::vector<std::string> lines;
    ASSERT_TRUE(installer->WaitForLogLine(IsOkLine, kRunTimeoutMs, &lines)) << Joined(lines);
    // The caption changes in the same handler, right after the last line.
    EXPECT_TRUE(PollUntil([&] { return installer->CancelButtonCaption() == "Закрыть"; }, 5000))
        << installer->CancelButtonCaption();

    ASSERT_TRUE(installer->LogLines(lines));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(MessageOfLogLine(lines.back()), "OK") << Joined(lines);
    EXPECT_EQ(MessageOfLogLine(lines.front()), "Скачиваем файлы...") << "the run starts on an empty panel";
    ExpectSiteFilesInstalled();

    EXPECT_TRUE(WaitForFolderWindow(kProduct, 10000)) << "the destination folder was not opened";
    Sleep(500);
    EXPECT_TRUE(installer->Running()) << "the window stays without the run flag";
    EXPECT_FALSE(ProductRunsAfterTheRun(*installer)) << "the product is not started";
    CloseAndExpectExit(*installer);
}

TEST_F(EndToEnd, UpdateOverAnExistingInstallReplacesEveryFile) {
    InstallOldFiles();
    PublishSite();
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    EXPECT_EQ(installer->Caption(), "Обновление программы " + kProduct);
    EXPECT_EQ(installer->InstallButtonCaption(), "Обновить");
    ASSERT_TRUE(installer->SetRunFlag(false));
    installer->PressInstall();

    std::vector<std::string> lines;
    ASSERT_TRUE(installer->WaitForLogLine(IsOkLine, kRunTimeoutMs, &lines)) << Joined(lines);
    ExpectSiteFilesInstalled();
    // One line per fetched file, in manifest order, the manifest first.
    std::vector<std::string> messages;
    for (const auto& line : lines) messages.push_back(MessageOfLogLine(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"Скачиваем файлы...", dest_ + "\\" + kManifest,
                                                  dest_ + "\\" + kProductExe, dest_ + "\\Resources\\readme.txt",
                                                  dest_ + "\\Data\\sample.txt", "OK"}));
    CloseAndExpectExit(*installer);
}

TEST_F(EndToEnd, SiteFailingInTheMiddleChangesNothing) {
    InstallOldFiles();
    PublishSite();
    Fault("Resources\\readme.txt", "status 500");
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    installer->PressInstall();

    const std::string errorLine = kFetchFailed + dest_ + "\\Resources\\readme.txt";
    std::vector<std::string> lines;
    ASSERT_TRUE(installer->WaitForLogLine([&](const std::string& line) { return MessageOfLogLine(line) == errorLine; },
                                          kRunTimeoutMs, &lines))
        << Joined(lines);
    EXPECT_EQ(MessageOfLogLine(lines.back()), errorLine) << "the error line ends the run";
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), IsOkLine));

    EXPECT_EQ(ReadFileBytes(dest_ + "\\" + kProductExe), "old " + std::string(kProductExe))
        << "fetched before, but not put in place";
    EXPECT_EQ(ReadFileBytes(dest_ + "\\Resources\\readme.txt"), "old Resources\\readme.txt");
    EXPECT_EQ(ReadFileBytes(dest_ + "\\Data\\sample.txt"), "old Data\\sample.txt");
    // The old files alone: no partial file is left behind, and a failed run
    // puts no manifest in place.
    EXPECT_EQ(FilesBelow(dest_).size(), siteFiles_.size()) << "no partial file is left behind";

    Sleep(500);
    EXPECT_TRUE(installer->Running());
    EXPECT_FALSE(ProductRunsAfterTheRun(*installer)) << "nothing is started after a failure";
    EXPECT_EQ(installer->CancelButtonCaption(), "Отмена");
    CloseAndExpectExit(*installer);
}

TEST_F(EndToEnd, UnsafeManifestEntryIsRefused) {
    PublishSite({kProductExe, "..\\evil.txt", "Data\\sample.txt"});
    site_.Put("Updates/evil.txt", "evil");
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    installer->PressInstall();

    std::vector<std::string> lines;
    ASSERT_TRUE(installer->WaitForLogLine(
        [](const std::string& line) { return MessageOfLogLine(line) == "Недопустимый путь файла - ..\\evil.txt"; },
        kRunTimeoutMs, &lines))
        << Joined(lines);
    EXPECT_EQ(MessageOfLogLine(lines.back()), "Недопустимый путь файла - ..\\evil.txt");
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), IsOkLine));
    EXPECT_FALSE(FileExists(temp_ / "evil.txt")) << "nothing is written outside the destination";
    EXPECT_FALSE(Requested("../evil.txt"));
    EXPECT_FALSE(Requested("Data\\sample.txt"));
    for (const auto& request : site_.Requests()) EXPECT_EQ(request.find("evil"), std::string::npos) << request;

    Sleep(500);
    EXPECT_TRUE(installer->Running());
    EXPECT_FALSE(ProductRunsAfterTheRun(*installer)) << "nothing is started after a refused entry";
    CloseAndExpectExit(*installer);
}

TEST_F(EndToEnd, DestinationThatCannotBeMadeIsReported) {
    PublishSite();
    WriteFileBytes(temp_ / "blocker", "a file, not a folder");
    const std::string dest = temp_ / "blocker\\" + kProduct;
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest));
    installer->PressInstall();

    std::vector<std::string> lines;
    ASSERT_TRUE(installer->WaitForLogLine(
        [&](const std::string& line) { return MessageOfLogLine(line) == "Не могу создать директорию " + dest; },
        kRunTimeoutMs, &lines))
        << Joined(lines);
    EXPECT_EQ(lines.size(), 1u) << Joined(lines);
    EXPECT_TRUE(site_.Requests().empty()) << "nothing is fetched";
    EXPECT_EQ(ReadFileBytes(temp_ / "blocker"), "a file, not a folder");
    ErrorBox box;
    EXPECT_FALSE(installer->FindErrorBox(box)) << box.text;
    CloseAndExpectExit(*installer);
}

TEST_F(EndToEnd, FileLockedByTheRunningProductEndsInTheErrorBox) {
    InstallOldFiles();
    WriteFileBytes(dest_ + "\\" + kProductExe, siteFiles_[kProductExe]);
    const std::string installedProduct = ReadFileBytes(dest_ + "\\" + kProductExe);
    siteFiles_[kProductExe] += "a newer build";
    PublishSite({kProductExe, "Resources\\readme.txt", "Data\\sample.txt"});

    StartedProcess product = StartProcess(dest_ + "\\" + kProductExe);
    ASSERT_NE(WaitForTopWindowOfClass("DemoProduct", 20000), nullptr) << "the product did not start";

    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    EXPECT_EQ(installer->Caption(), "Обновление программы " + kProduct);
    installer->PressInstall();

    ErrorBox box;
    ASSERT_TRUE(installer->WaitForErrorBox(box, kRunTimeoutMs)) << "no error box";
    EXPECT_EQ(box.title, "Install-pelmar");
    const std::string prefix = "Cannot create file \"" + dest_ + "\\" + kProductExe + "\". ";
    // The file is open in the product: the system refuses it as shared.
    EXPECT_EQ(box.text, prefix + runtime::SystemErrorText(ERROR_SHARING_VIOLATION) + ".") << "or: " << runtime::SystemErrorText(ERROR_ACCESS_DENIED);

    PressOk(box);
    EXPECT_TRUE(PollUntil([&] { return !installer->FindErrorBox(box); }, 5000)) << "the box closes with its OK button";

    std::vector<std::string> lines;
    ASSERT_TRUE(installer->LogLines(lines));
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), IsOkLine)) << Joined(lines);
    EXPECT_EQ(ReadFileBytes(dest_ + "\\" + kProductExe), installedProduct);
    EXPECT_EQ(ReadFileBytes(dest_ + "\\Resources\\readme.txt"), "old Resources\\readme.txt");
    EXPECT_EQ(ReadFileBytes(dest_ + "\\Data\\sample.txt"), "old Data\\sample.txt");
    // The old files alone: no partial file is left behind, and a failed run
    // puts no manifest in place.
    EXPECT_EQ(FilesBelow(dest_).size(), siteFiles_.size()) << "no partial file is left behind";
    EXPECT_TRUE(installer->Running()) << "the window stays after the error box";
    CloseAndExpectExit(*installer);

    TerminateProcess(product.handle.get(), 0);
    WaitForSingleObject(product.handle.get(), 5000);
}

TEST_F(EndToEnd, CloseBoxDuringARunLetsTheRunFinishThenEnds) {
    PublishSite();
    Fault("Resources\\readme.txt", "delay 1");
    Fault("Data\\sample.txt", "delay 1");
    auto installer = StartInstaller();
    ASSERT_TRUE(installer->SetFolder(dest_));
    ASSERT_TRUE(installer->SetRunFlag(false));
    // Watching from before the press, a read is waiting at every look the
    // program takes at its messages, the last one too.
    LogWatcher watcher(*installer);
    installer->PressInstall();

    // The program file is in; the next one is still on its way.
    const auto programFileIn = [&] {
        const std::vector<std::string> lines = watcher.Lines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return MessageOfLogLine(line) == dest_ + "\\" + kProductExe;
        });
    };
    ASSERT_TRUE(PollUntil(programFileIn, kRunTimeoutMs)) << Joined(watcher.Lines());
    // Two files of a second each are still to come: the close lands in the run.
    const std::vector<std::string> beforeClose = watcher.Lines();
    ASSERT_FALSE(std::any_of(beforeClose.begin(), beforeClose.end(), [&](const std::string& line) {
        return MessageOfLogLine(line) == dest_ + "\\Data\\sample.txt" || IsOkLine(line);
    })) << "the run ended before the close: " << Joined(beforeClose);
    installer->CloseByCloseBox();

    DWORD exitCode = 1;
    bool ended = installer->WaitForExit(kRunTimeoutMs, &exitCode);
    watcher.Stop();
    std::vector<std::string> lastSeen = watcher.Lines();
    ASSERT_TRUE(ended) << "the program did not end after the run";
    EXPECT_EQ(exitCode, 0u);
    ExpectSiteFilesInstalled();
    EXPECT_TRUE(Requested("Data\\sample.txt"));
    // The program takes the close when it looks at its messages after a file,
    // and may not look again before it ends: the last lines it answers for are
    // those of the last file or the "OK". The opened folder shows that the run
    // reached its end after the close.
    ASSERT_FALSE(lastSeen.empty());
    const std::string lastMessage = MessageOfLogLine(lastSeen.back());
    EXPECT_TRUE(lastMessage == dest_ + "\\Data\\sample.txt" || lastMessage == "OK") << Joined(lastSeen);
    EXPECT_FALSE(std::any_of(lastSeen.begin(), lastSeen.end(),
                             [](const std::string& line) { return MessageOfLogLine(line).rfind(kFetchFailed, 0) == 0; }));
    EXPECT_TRUE(WaitForFolderWindow(kProduct, 10000)) << "the destination folder was not opened";
}

}  // namespace
