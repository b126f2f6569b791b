// The window on screens of 120 and 144 dpi. Wine reads the screen's dpi from
// the user's desktop settings when a program starts, so the window tests that
// check sizes, fonts, the welcome text and an install run are run again in a
// copy of this program started while the setting is 120 or 144.
#include "tests/window/window_fixture.h"

#include "ui/screen.h"

#include <cstdlib>
#include <string>

namespace {

// Set for the copy: the dpi that its screen must have.
constexpr char kScreenDpiVariable[] = "WINDOW_TESTS_SCREEN_DPI";

int AskedDpi() {
    const char* asked = std::getenv(kScreenDpiVariable);
    return asked != nullptr ? std::atoi(asked) : 0;
}

// The desktop's dpi setting while this lives; the one before afterwards.
class DesktopDpiSetting {
public:
    explicit DesktopDpiSetting(DWORD dpi) {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = sizeof previous_;
        hadPrevious_ = RegQueryValueExA(key_, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&previous_),
                                        &size) == ERROR_SUCCESS;
        set_ = RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi) ==
               ERROR_SUCCESS;
    }
    ~DesktopDpiSetting() {
        if (key_ == nullptr) return;
        if (hadPrevious_) {
            RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_),
                           sizeof previous_);
        } else {
            RegDeleteValueA(key_, "LogPixels");
        }
        RegCloseKey(key_);
    }
    DesktopDpiSetting(const DesktopDpiSetting&) = delete;
    DesktopDpiSetting& operator=(const DesktopDpiSetting&) = delete;

    bool Set() const { return set_; }

private:
    HKEY key_ = nullptr;
    DWORD previous_ = 0;
    bool hadPrevious_ = false;
    bool set_ = false;
};

// Runs this program again with a test filter and the dpi its screen must
// have; its exit code, or -1 when it could not run to its end.
int RunCopy(const std::string& filter, int dpi) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string commandLine = "\"" + std::string(path) + "\" --gtest_color=no --gtest_filter=" + filter;
    SetEnvironmentVariableA(kScreenDpiVariable, std::to_string(dpi).c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    BOOL started = CreateProcessA(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &info);
    SetEnvironmentVariableA(kScreenDpiVariable, nullptr);
    if (!started) return -1;
    CloseHandle(info.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(info.hProcess, &code);
    } else {
        TerminateProcess(info.hProcess, 1);
    }
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

}  // namespace

TEST(ScreenScaling, TheScreenHasTheDpiTheRunAskedFor) {
    if (AskedDpi() == 0) GTEST_SKIP() << "run at whatever dpi the screen has";
    EXPECT_EQ(ui::ScreenPixelsPerInch(), AskedDpi());
}

// The scaled numbers themselves, apart from the tests' own arithmetic.
TEST_F(WindowTest, At144DpiTheClientIs966By512AndEveryNumberIsHalfAsLargeAgain) {
    if (ui::ScreenPixelsPerInch() != 144) GTEST_SKIP() << "the screen is at " << ui::ScreenPixelsPerInch() << " dpi";
    Start();
    EXPECT_EQ(form->DesignedClientSize().cx, 966);
    EXPECT_EQ(form->DesignedClientSize().cy, 512);
    // 124, 9, 320, 21 at 96 dpi: edges at 186, 14, 666 and 45 (halves round
    // away from zero).
    EXPECT_EQ(form->EditPathDest.GetBounds(), (ui::Bounds{186, 14, 480, 31}));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form->MemoInform.Handle(), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -18);
    SetWindowPos(form->Handle(), nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT outer{};
    GetWindowRect(form->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 990);
    EXPECT_EQ(outer.bottom - outer.top, 570);
}

// The window's rows as the form scales them at the settings Windows offers,
// 100 % to 200 %: edges that meet as designed meet at every dpi.
TEST(ScreenScaling, EdgesThatMeetAsDesignedMeetAtEveryDpi) {
    using ui::Bounds;
    using ui::ScaledToDpi;
    struct Case {
        int dpi;
        Bounds strip;
        Bounds log;
        Bounds status;
        SIZE client;
        int folderGap;  // from the folder button to the Install button
    };
    const Case cases[] = {
        {96, {0, 0, 644, 57}, {0, 57, 644, 265}, {0, 322, 644, 19}, {644, 341}, 7},
        {120, {0, 0, 805, 71}, {0, 71, 805, 332}, {0, 403, 805, 23}, {805, 426}, 9},
        {144, {0, 0, 966, 86}, {0, 86, 966, 397}, {0, 483, 966, 29}, {966, 512}, 11},
        {168, {0, 0, 1127, 100}, {0, 100, 1127, 464}, {0, 564, 1127, 33}, {1127, 597}, 12},
        {192, {0, 0, 1288, 114}, {0, 114, 1288, 530}, {0, 644, 1288, 38}, {1288, 682}, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        Bounds strip = ScaledToDpi(Bounds{0, 0, 644, 57}, c.dpi);
        Bounds log = ScaledToDpi(Bounds{0, 57, 644, 265}, c.dpi);
        Bounds status = ScaledToDpi(Bounds{0, 322, 644, 19}, c.dpi);
        Bounds client = ScaledToDpi(Bounds{0, 0, 644, 341}, c.dpi);
        Bounds folder = ScaledToDpi(Bounds{452, 9, 32, 21}, c.dpi);
        Bounds install = ScaledToDpi(Bounds{491, 9, 70, 21}, c.dpi);
        EXPECT_EQ(strip, c.strip);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(client.width, c.client.cx);
        EXPECT_EQ(client.height, c.client.cy);
        EXPECT_EQ(install.left - (folder.left + folder.width), c.folderGap);

        EXPECT_EQ(strip.top + strip.height, log.top);
        EXPECT_EQ(log.top + log.height, status.top);
        EXPECT_EQ(status.top + status.height, client.height);
        for (const Bounds& row : {strip, log, status}) EXPECT_EQ(row.width, client.width);
        EXPECT_EQ(folder.top, install.top);
        EXPECT_EQ(folder.height, install.height);
    }
}

// The real window at 120 dpi (the 125 % that most laptops ship with): the
// rows meet and fill the client area, at the size the window opens with and
// when it is made larger.
TEST_F(WindowTest, At120DpiTheRowsMeetAndFillTheClientArea) {
    if (ui::ScreenPixelsPerInch() != 120) GTEST_SKIP() << "the screen is at " << ui::ScreenPixelsPerInch() << " dpi";
    Start();
    for (bool larger : {false, true}) {
        SCOPED_TRACE(larger ? "larger" : "as opened");
        if (larger) SetWindowPos(form->Handle(), nullptr, 0, 0, 1000, 700, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        GetClientRect(form->Handle(), &client);
        ui::Bounds strip = form->PanelTop.GetBounds();
        ui::Bounds log = form->MemoInform.GetBounds();
        ui::Bounds status = form->StatusBar1.GetBounds();
        EXPECT_EQ(strip, (ui::Bounds{0, 0, client.right, 71}));
        EXPECT_EQ(log.top, 71);
        EXPECT_EQ(log.top + log.height, status.top);
        EXPECT_EQ(status.height, 23);
        EXPECT_EQ(status.top + status.height, client.bottom);
        ui::Bounds folder = form->SBOpenPathDest.GetBounds();
        EXPECT_EQ(folder.width, 40);
        EXPECT_EQ(folder.left + folder.width + 805 - 605, client.right) << "keeps its distance to the right edge";
    }
    EXPECT_EQ(form->updates.GetBounds(), (ui::Bounds{614, 11, 87, 27}));
}

namespace {

// Runs the window tests that check sizes and fonts, and more, in a copy of
// this program started while the desktop's dpi setting is dpi.
void ExpectTheWindowTestsPassAt(int dpi, const std::string& more) {
    DesktopDpiSetting setting(static_cast<DWORD>(dpi));
    ASSERT_TRUE(setting.Set());
    const std::string filter = "ScreenScaling.TheScreenHasTheDpiTheRunAskedFor:WindowTest.At" + std::to_string(dpi) +
                               "Dpi*:WindowTest.ControlsStandWhereDesigned*:WindowTest.WindowIsNeverSmaller*:"
                               "WindowTest.FirstShown*:WindowTest.Fonts*" + more;
    EXPECT_EQ(RunCopy(filter, dpi), 0) << "the tests at " << dpi << " dpi failed (their output is above)";
}

}  // namespace

TEST(ScreenScaling, At120DpiTheWindowIsScaledAndStillWorks) { ExpectTheWindowTestsPassAt(120, ""); }

TEST(ScreenScaling, At144DpiTheWindowIsScaledAndStillWorks) {
    ExpectTheWindowTestsPassAt(144, ":WindowTest.StartUpAdapts*:InstallTest.RunWithoutTheFlag*");
}
