#include "window/folder_picker.h"

#include "runtime/file_system.h"
#include "runtime/narrow_text.h"

#include <shlobj.h>

using runtime::NarrowToWide;
using runtime::WideToNarrow;

namespace {

using PickerHook = std::function<std::optional<std::string>(HWND, const FolderPickerSettings&)>;

PickerHook& Hook() {
    static PickerHook hook;
    return hook;
}

struct CallbackData {
    HWND owner;
    std::wstring preselect;
};

void CentreOnMonitorOf(HWND dialog, HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(owner != nullptr ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    RECT rect{};
    GetWindowRect(dialog, &rect);
    const RECT& work = monitor.rcWork;
    int left = work.left + ((work.right - work.left) - (rect.right - rect.left)) / 2;
    int top = work.top + ((work.bottom - work.top) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Called by the shell; must not throw.
int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) noexcept {
    if (message == BFFM_INITIALIZED) {
        auto* callbackData = reinterpret_cast<CallbackData*>(data);
        if (!callbackData->preselect.empty()) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(callbackData->preselect.c_str()));
        }
        CentreOnMonitorOf(dialog, callbackData->owner);
    }
    return 0;
}

}  // namespace

FolderPickerSettings FolderPickerSettingsFor(const std::string& destination) {
    FolderPickerSettings settings;
    settings.prompt = "Выберите директорию...";
    settings.flags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    settings.wholeNamespace = true;
    if (!destination.empty() && runtime::DirectoryExists(destination)) settings.preselect = destination;
    return settings;
}

std::optional<std::string> PickFolder(HWND owner, const FolderPickerSettings& settings) {
    if (Hook()) return Hook()(owner, settings);

    CallbackData data{owner, NarrowToWide(settings.preselect)};
    std::wstring prompt = NarrowToWide(settings.prompt);
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.pidlRoot = nullptr;
    browse.lpszTitle = prompt.c_str();
    browse.ulFlags = settings.flags;
    browse.lpfn = BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(&data);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    BOOL isPath = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (!isPath) return std::nullopt;
    return WideToNarrow(path);
}

void SetFolderPickerHookForTesting(
    std::function<std::optional<std::string>(HWND owner, const FolderPickerSettings& settings)> hook) {
    Hook() = std::move(hook);
}
