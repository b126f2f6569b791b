// The shipped installer at the keyboard, as a user meets it: real key presses
// and clicks on the virtual display, the focus read from the program's thread.
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/key_presses.h"
#include "tests/e2e/programs.h"
#include "tests/support/file_bytes.h"
#include "tests/support/poll.h"
#include "tests/support/site.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char kWelcomeStart[] = "Выберите каталог установки";
// How long the program may take to react to a key.
constexpr DWORD kWaitMs = 15000;

// A window of another program for the user to switch to, in a corner of the
// screen away from the installer.
class OtherWindow {
public:
    OtherWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        windowClass.lpszClassName = L"KeyboardTestOtherWindow";
        RegisterClassW(&windowClass);
        hwnd_ = CreateWindowExW(0, windowClass.lpszClassName, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 240,
                                160, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~OtherWindow() { DestroyWindow(hwnd_); }
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;

    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_;
};

// The middle of a window's caption bar.
POINT CaptionOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, rect.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
}

// The middle of a window's client area.
POINT MiddleOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

class KeyboardTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(installer.WaitForWindow());
        // The window takes the focus as it appears.
        ASSERT_TRUE(PollUntil([&] { return installer.Focus() == installer.FolderEdit(); }, kWaitMs))
            << "focus in " << installer.NameOf(installer.Focus());
    }

    // Presses keys and waits for the focus to arrive at the control.
    void PressAndExpectFocus(const std::string& keys, HWND control) {
        ASSERT_TRUE(PressKeys(keys));
        EXPECT_TRUE(PollUntil([&] { return installer.Focus() == control; }, kWaitMs))
            << keys << ": focus in " << installer.NameOf(installer.Focus()) << ", not " << installer.NameOf(control);
    }

    std::vector<std::string> Requests() const { return site.Requests(); }

    TestSite site;
    InstallerDriver installer{InstallerPath(), {{"http_proxy", site.ProxyUrl()}}};
};

}  // namespace

TEST_F(KeyboardTest, TypingRightAfterStartReplacesTheProposedFolder) {
    HWND edit = installer.FolderEdit();
    std::string proposal = installer.TextOf(edit);
    ASSERT_FALSE(proposal.empty());
    EXPECT_EQ(installer.SelectionOf(edit), std::make_pair(0, static_cast<int>(proposal.size())));

    TempFolder temp;
    WriteFileBytes(temp / "App\\Pelmar.exe", "MZ");
    std::string typed = temp / "App";
    ASSERT_TRUE(TypeText(typed));
    ASSERT_TRUE(PollUntil([&] { return installer.TextOf(edit) == typed; }, kWaitMs)) << installer.TextOf(edit);
    EXPECT_EQ(installer.TextOf(installer.Window()), "Обновление программы Pelmar");
    EXPECT_EQ(installer.TextOf(installer.InstallButton()), "Обновить");

    ASSERT_TRUE(PressKeys("BackSpace"));
    ASSERT_TRUE(PollUntil([&] { return installer.TextOf(edit) == typed.substr(0, typed.size() - 1); }, kWaitMs));
    EXPECT_EQ(installer.TextOf(installer.Window()), "Установка программы Pelmar");
    EXPECT_EQ(installer.TextOf(installer.InstallButton()), "Установить");
}

TEST_F(KeyboardTest, TabAndShiftTabGoRoundTheTabOrderPastTheFolderButton) {
    const std::vector<HWND> order = {installer.FolderEdit(), installer.InstallButton(), installer.CancelButton(),
                                     installer.RunFlagBox(), installer.LogPanel()};
    for (size_t i = 1; i <= order.size(); ++i) PressAndExpectFocus("Tab", order[i % order.size()]);
    for (size_t i = order.size(); i-- > 0;) PressAndExpectFocus("shift+Tab", order[i]);
}

TEST_F(KeyboardTest, SpaceTogglesTheRunFlagAndPressesTheInstallButton) {
    // The run makes its folder first.
    TempFolder temp;
    ASSERT_TRUE(TypeText(temp / "Pelmar"));
    PressAndExpectFocus("Tab Tab Tab", installer.RunFlagBox());
    bool checked = installer.Checked(installer.RunFlagBox());
    ASSERT_TRUE(PressKeys("space"));
    EXPECT_TRUE(PollUntil([&] { return installer.Checked(installer.RunFlagBox()) != checked; }, kWaitMs));
    ASSERT_TRUE(PressKeys("space"));
    EXPECT_TRUE(PollUntil([&] { return installer.Checked(installer.RunFlagBox()) == checked; }, kWaitMs));

    // The site has no manifest: the run starts, asks for it and ends.
    PressAndExpectFocus("shift+Tab shift+Tab", installer.InstallButton());
    ASSERT_TRUE(PressKeys("space"));
    ASSERT_TRUE(PollUntil([&] { return Requests().size() == 1; }, kWaitMs));
    EXPECT_EQ(Requests().front(), "/Updates/Pelmar/Resources/Pelmar.ini");
    EXPECT_TRUE(PollUntil([&] {
        return installer.TextOf(installer.LogPanel()).find("Скачиваем файлы...") != std::string::npos;
    }, kWaitMs));
    EXPECT_TRUE(installer.Running());
}

TEST_F(KeyboardTest, EnterAndEscapePressNothing) {
    // Each control in turn: Enter and Esc, then Tab to show they have been taken.
    const std::vector<HWND> order = {installer.FolderEdit(), installer.InstallButton(), installer.CancelButton(),
                                     installer.RunFlagBox()};
    std::string folder = installer.TextOf(installer.FolderEdit());
    bool checked = installer.Checked(installer.RunFlagBox());
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        ASSERT_EQ(installer.Focus(), order[i]);
        PressAndExpectFocus("Return Escape KP_Enter Tab", order[i + 1]);
    }
    EXPECT_TRUE(installer.Running());
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(installer.TextOf(installer.LogPanel()).rfind(kWelcomeStart, 0), 0u);
    EXPECT_EQ(installer.TextOf(installer.FolderEdit()), folder);
    EXPECT_EQ(installer.Checked(installer.RunFlagBox()), checked);

    // In the log panel Esc closes nothing, and Enter only breaks the line at
    // the caret; Tab then goes on round the tab order.
    PressAndExpectFocus("Tab", installer.LogPanel());
    std::string log = installer.TextOf(installer.LogPanel());
    ASSERT_TRUE(PressKeys("Escape Return Escape"));
    ASSERT_TRUE(PollUntil([&] { return installer.TextOf(installer.LogPanel()).size() == log.size() + 2; }, kWaitMs))
        << installer.TextOf(installer.LogPanel());
    std::string typed = installer.TextOf(installer.LogPanel());
    size_t at = std::mismatch(log.begin(), log.end(), typed.begin()).first - log.begin();
    EXPECT_EQ(typed.substr(at, 2), "\r\n");
    EXPECT_EQ(typed.erase(at, 2), log);
    PressAndExpectFocus("Tab", installer.FolderEdit());
    EXPECT_TRUE(installer.Running());
    EXPECT_TRUE(IsWindowVisible(installer.Window()));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(KeyboardTest, TheFocusComesBackToItsControlWhenTheWindowIsActivatedAgainOrRestored) {
    HWND edit = installer.FolderEdit();
    // The caret at the end of the folder, not the whole folder selected.
    ASSERT_TRUE(PressKeys("End"));
    int length = static_cast<int>(installer.TextOf(edit).size());
    ASSERT_TRUE(PollUntil([&] { return installer.SelectionOf(edit) == std::make_pair(length, length); }, kWaitMs));

    OtherWindow other;
    for (HWND control : {edit, installer.CancelButton()}) {
        if (control != edit) PressAndExpectFocus("Tab Tab", control);
        ASSERT_TRUE(ClickAt(MiddleOf(other.Handle())));
        ASSERT_TRUE(PollUntil(
            [&] { return GetForegroundWindow() == other.Handle() && installer.Focus() != control; }, kWaitMs))
            << "focus in " << installer.NameOf(installer.Focus());
        ASSERT_TRUE(ClickAt(CaptionOf(installer.Window())));
        EXPECT_TRUE(PollUntil([&] { return installer.Focus() == control; }, kWaitMs))
            << "focus in " << installer.NameOf(installer.Focus()) << ", not " << installer.NameOf(control);
    }
    EXPECT_EQ(installer.SelectionOf(edit), std::make_pair(length, length));

    // Minimised and restored as with the caption buttons.
    PostMessageW(installer.Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(PollUntil([&] { return IsIconic(installer.Window()) != FALSE; }, kWaitMs));
    PostMessageW(installer.Window(), WM_SYSCOMMAND, SC_RESTORE, 0);
    ASSERT_TRUE(PollUntil([&] { return !IsIconic(installer.Window()); }, kWaitMs));
    EXPECT_TRUE(PollUntil([&] { return installer.Focus() == installer.CancelButton(); }, kWaitMs))
        << "focus in " << installer.NameOf(installer.Focus());
}

TEST_F(KeyboardTest, AltF4EndsTheProgramLikeTheCloseBox) {
    ASSERT_TRUE(PressKeys("alt+F4"));
    DWORD code = 1;
    EXPECT_TRUE(installer.WaitForExit(15000, &code));
    EXPECT_EQ(code, 0u);
}

TEST_F(KeyboardTest, KeysWorkWhileARunLetsMessagesThroughAndAltF4ThenOnlyQueuesTheEnd) {
    site.Put("Updates/Pelmar/Resources/Pelmar.ini", "[UpdateFiles]\r\nfirst.txt\r\nsecond.txt\r\nthird.txt\r\n");
    site.Put("Updates/Pelmar/first.txt", "1");
    site.Put("Updates/Pelmar/second.txt", "2");
    site.Fault("Updates/Pelmar/first.txt", "delay 1");
    site.Fault("Updates/Pelmar/second.txt", "delay 2");
    TempFolder temp;
    ASSERT_TRUE(TypeText(temp / "Pelmar"));
    PressAndExpectFocus("Tab", installer.InstallButton());
    ASSERT_TRUE(PressKeys("space"));
    auto requested = [&](const std::string& name) {
        std::vector<std::string> requests = Requests();
        return std::find(requests.begin(), requests.end(), "/Updates/Pelmar/" + name) != requests.end();
    };

    // Taken where the run lets messages through, while the files come: the
    // second takes two seconds, and the third's failure ends the run after it.
    ASSERT_TRUE(PollUntil([&] { return requested("first.txt"); }, kWaitMs));
    PressAndExpectFocus("Tab", installer.CancelButton());
    std::vector<std::string> lines;
    ASSERT_TRUE(installer.LogLines(lines));
    ASSERT_FALSE(std::any_of(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.find("third.txt") != std::string::npos; }))
        << "the run ended before the close";
    ASSERT_TRUE(PressKeys("alt+F4"));
    // The run goes on to its end (the third file is missing), then the program ends.
    DWORD code = 1;
    EXPECT_TRUE(installer.WaitForExit(30000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(requested("third.txt"));
}
