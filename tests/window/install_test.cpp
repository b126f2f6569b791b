#include "runtime/file_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"
#include "tests/window/window_fixture.h"

#include <algorithm>

using namespace runtime;
using namespace engine;
using namespace ui;

namespace {

const char kManifest[] =
    "[UpdateFiles]\r\n"
    "Pelmar.exe\r\n"
    "Resources\\Pelmar.ini\r\n"
    "Data\\readme.txt\r\n";

bool watchdogFired = false;

void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    watchdogFired = true;
    PostQuitMessage(1);
}

}  // namespace

class InstallTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        site.PutProduct("Pelmar", {{"Resources\\Pelmar.ini", kManifest},
                                   {"Pelmar.exe", "MZ program"},
                                   {"Data\\readme.txt", "read me"}});
        Start();
        form->LabelSite.SetText(site.Host());
        form->EditPathDest.SetText(dest);
    }

    void ExpectInstalled() const {
        EXPECT_EQ(ReadFileBytes(dest + "\\Pelmar.exe"), "MZ program");
        EXPECT_EQ(ReadFileBytes(dest + "\\Data\\readme.txt"), "read me");
        EXPECT_EQ(ReadFileBytes(dest + "\\Resources\\Pelmar.ini"), kManifest);
    }

    long RequestsOf(const std::string& path) const {
        std::vector<std::string> requests = site.Requests();
        return std::count(requests.begin(), requests.end(), path);
    }

    TestSite site;
    TempFolder temp;
    std::string dest = temp / "Pelmar";
};

TEST_F(InstallTest, RunWithTheFlagStartsTheProductAndEndsTheProgram) {
    form->CheckBoxRun.SetChecked(true);
    Click(form->updates);
    ExpectInstalled();
    std::vector<std::string> log = LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(MessageOf(log.front()), "Скачиваем файлы...");
    EXPECT_EQ(MessageOf(log.back()), "OK");
    EXPECT_EQ(launches, std::vector<std::string>{dest + "\\Pelmar.exe"});
    application.ProcessMessages();
    EXPECT_TRUE(application.Terminated());
}

TEST_F(InstallTest, RunWithoutTheFlagOpensTheFolderTwiceAndRenamesCancel) {
    form->CheckBoxRun.SetChecked(false);
    Click(form->updates);
    ExpectInstalled();
    EXPECT_EQ(MessageOf(LogLines().back()), "OK");
    EXPECT_EQ(launches, (std::vector<std::string>{dest, dest}));
    EXPECT_EQ(form->dovrin.Text(), "Закрыть");
    application.ProcessMessages();
    EXPECT_FALSE(application.Terminated());
}

TEST_F(InstallTest, FailedFileEndsTheRunWithItsErrorLineAndNothingStarted) {
    site.Fault("Updates/Pelmar/Data/readme.txt", "status 404");
    form->CheckBoxRun.SetChecked(true);
    Click(form->updates);
    EXPECT_EQ(MessageOf(LogLines().back()), "Ошибка при получении файла - " + dest + "\\Data\\readme.txt");
    EXPECT_TRUE(launches.empty());
    EXPECT_EQ(form->dovrin.Text(), "Отмена");
    application.ProcessMessages();
    EXPECT_FALSE(application.Terminated());
}

TEST_F(InstallTest, CloseDuringARunLetsItFinishThenTheLoopEnds) {
    form->CheckBoxRun.SetChecked(false);
    site.Fault("Updates/Pelmar/Data/readme.txt", "delay 0.3");
    // Both wait in the queue: the close is taken where the run lets messages through.
    PostMessageW(form->updates.Handle(), BM_CLICK, 0, 0);
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    watchdogFired = false;
    UINT_PTR watchdog = SetTimer(nullptr, 0, 30000, Watchdog);
    application.Run();
    KillTimer(nullptr, watchdog);
    EXPECT_FALSE(watchdogFired);
    EXPECT_TRUE(application.Terminated());
    ExpectInstalled();
    EXPECT_EQ(MessageOf(LogLines().back()), "OK");
    EXPECT_TRUE(IsWindow(form->Handle()));
}

TEST_F(InstallTest, SecondPressDuringARunIsIgnored) {
    form->CheckBoxRun.SetChecked(false);
    PostMessageW(form->updates.Handle(), BM_CLICK, 0, 0);
    PostMessageW(form->updates.Handle(), BM_CLICK, 0, 0);
    application.ProcessMessages();
    ExpectInstalled();
    EXPECT_EQ(RequestsOf("/Updates/Pelmar/Resources/Pelmar.ini"), 1);
    EXPECT_EQ(RequestsOf("/Updates/Pelmar/Pelmar.exe"), 1);
    EXPECT_EQ(launches.size(), 2u);
}
