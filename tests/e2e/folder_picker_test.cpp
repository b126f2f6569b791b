// The real folder picker of the shipped installer, opened by a click on the
// folder button and answered from outside as a person answers it.
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/key_presses.h"
#include "tests/e2e/programs.h"
#include "tests/support/poll.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace {

constexpr DWORD kWaitMs = 10000;

// A visible dialog of the program other than its main window.
HWND FindPicker(const InstallerDriver& installer) {
    for (HWND window : installer.TopWindows()) {
        char className[32] = {};
        GetClassNameA(window, className, sizeof className);
        if (window != installer.Window() && std::string(className) == "#32770") return window;
    }
    return nullptr;
}

struct PickerCase {
    const char* name;
    std::string folder;  // in the folder box when the picker opens; it exists
    int answer;          // IDOK or IDCANCEL
    std::string result;  // in the folder box afterwards
};

TEST(EndToEndFolderPicker, OpensOwnedByTheWindowWithTheFolderPreselectedAndGivesWhatIsChosen) {
    TempFolder temp;
    const std::string cyrillic = temp / "Программы";
    ASSERT_TRUE(CreateDirectoryA(cyrillic.c_str(), nullptr));
    const std::string plain = temp / "Plain";
    ASSERT_TRUE(CreateDirectoryA(plain.c_str(), nullptr));
    // Cancelled first: Wine's picker, the first time a process opens it, at
    // times ends up on the profile folder instead of the one preselected.
    const PickerCase cases[] = {
        {"cancelled", plain, IDCANCEL, plain},
        {"a folder", plain, IDOK, plain},
        {"a Cyrillic folder", cyrillic, IDOK, cyrillic},
        {"a drive root", "C:\\", IDOK, "C:\\"},
    };

    InstallerDriver installer(InstallerPath());
    ASSERT_TRUE(installer.WaitForWindow());
    HWND button = nullptr;
    EnumChildWindows(
        installer.Window(),
        [](HWND child, LPARAM found) {
            char className[32] = {};
            GetClassNameA(child, className, sizeof className);
            if (std::string(className) != "TSpeedButton") return TRUE;
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&button));
    ASSERT_NE(button, nullptr) << "no folder button";

    for (const PickerCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(installer.SetFolder(c.folder));
        RECT rect{};
        GetWindowRect(button, &rect);
        ASSERT_TRUE(ClickAt({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}));
        HWND picker = nullptr;
        ASSERT_TRUE(PollUntil([&] { return (picker = FindPicker(installer)) != nullptr; }, kWaitMs)) << "no picker";

        EXPECT_EQ(GetWindow(picker, GW_OWNER), installer.Window()) << "owned by the window";
        EXPECT_FALSE(IsWindowEnabled(installer.Window())) << "modal to the window";
        HWND answer = GetDlgItem(picker, c.answer);
        ASSERT_NE(answer, nullptr);
        // The preselected folder is what OK gives back. The picker fills its
        // tree after it shows: wait until the chosen item has stayed for a while.
        if (c.answer == IDOK) {
            HWND tree = FindWindowExA(picker, nullptr, "SysTreeView32", nullptr);
            ASSERT_NE(tree, nullptr) << "no folder tree";
            LRESULT chosen = 0;
            int steady = 0;
            EXPECT_TRUE(PollUntil([&] {
                const LRESULT now = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
                steady = now != 0 && now == chosen ? steady + 1 : 0;
                chosen = now;
                return steady >= 10;
            }, kWaitMs, 100)) << "the chosen folder does not settle";
        }
        PostMessageA(answer, BM_CLICK, 0, 0);
        ASSERT_TRUE(PollUntil([&] { return FindPicker(installer) == nullptr; }, kWaitMs)) << "the picker stays";
        EXPECT_TRUE(IsWindowEnabled(installer.Window()));
        std::string text;
        EXPECT_TRUE(PollUntil([&] { return installer.FolderText(text) && text == c.result; }, kWaitMs)) << text;
    }
    installer.CloseByCloseBox();
    EXPECT_TRUE(installer.WaitForExit(15000));
}

}  // namespace
