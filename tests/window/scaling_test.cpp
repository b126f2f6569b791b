// The window on a screen of 144 dpi. Wine reads the screen's dpi from the
// user's desktop settings when a program starts, so the window tests that
// check sizes, fonts, the welcome text and an install run are run again in a
// copy of this program started while the setting is 144.
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
    // 124, 9, 320, 21 at 96 dpi; halves round away from zero.
    EXPECT_EQ(form->EditPathDest.GetBounds(), (ui::Bounds{186, 14, 480, 32}));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form->MemoInform.Handle(), WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -18);
    SetWindowPos(form->Handle(), nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
    RECT outer{};
    GetWindowRect(form->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 990);
    EXPECT_EQ(outer.bottom - outer.top, 570);
}

TEST(ScreenScaling, At144DpiTheWindowIsScaledAndStillWorks) {
    DesktopDpiSetting setting(144);
    ASSERT_TRUE(setting.Set());
    const std::string filter =
        "ScreenScaling.TheScreenHasTheDpiTheRunAskedFor:WindowTest.At144Dpi*:"
        "WindowTest.ControlsStandWhereDesigned*:WindowTest.WindowIsNeverSmaller*:WindowTest.FirstShown*:"
        "WindowTest.Fonts*:WindowTest.StartUpAdapts*:InstallTest.RunWithoutTheFlag*";
    EXPECT_EQ(RunCopy(filter, 144), 0) << "the tests at 144 dpi failed (their output is above)";
}
