#include "window/shell_open.h"

#include <shellapi.h>

namespace {

std::function<void(HWND, const std::string&)>& Hook() {
    static std::function<void(HWND, const std::string&)> hook;
    return hook;
}

}  // namespace

void OpenThroughShell(HWND owner, const std::string& target) {
    if (Hook()) {
        Hook()(owner, target);
        return;
    }
    ShellExecuteA(owner, nullptr, target.c_str(), nullptr, nullptr, SW_RESTORE);
}

void SetShellOpenHookForTesting(std::function<void(HWND owner, const std::string& target)> hook) {
    Hook() = std::move(hook);
}
