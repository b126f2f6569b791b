#include "tests/support/error_box.h"

#include <utility>

namespace {

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM context) {
    auto& [processId, found] = *reinterpret_cast<std::pair<DWORD, HWND>*>(context);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != processId || std::string(className) != "#32770" || !IsWindowVisible(window)) return TRUE;
    found = window;
    return FALSE;
}

}  // namespace

bool FindErrorBoxOf(DWORD processId, ErrorBox& box) {
    std::pair<DWORD, HWND> search{processId, nullptr};
    EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
    if (search.second == nullptr) return false;
    box = ErrorBox{};
    box.window = search.second;
    char title[256] = {};
    GetWindowTextA(box.window, title, sizeof title);
    box.title = title;
    // The message is the static control with the ID that message boxes give it.
    if (HWND message = GetDlgItem(box.window, 0xFFFF)) {
        char text[4096] = {};
        wchar_t wide[4096] = {};
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutA(message, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                                 &copied)) {
            GetWindowTextA(message, text, sizeof text);
        }
        if (!SendMessageTimeoutW(message, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL, 5000,
                                 &copied)) {
            GetWindowTextW(message, wide, 4096);
        }
        box.text = text;
        box.wideText = wide;
    }
    return true;
}

void PressOk(ErrorBox& box) {
    HWND ok = GetDlgItem(box.window, IDOK);
    box.answered = ok != nullptr && PostMessageA(ok, BM_CLICK, 0, 0);
}
