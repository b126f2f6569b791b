// Opening a program, folder or web address with the user's default handler.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// ShellExecuteA(owner, no verb, target, no parameters, no folder, SW_RESTORE);
// its result is not looked at.
void OpenThroughShell(HWND owner, const std::string& target);

// Lets tests see the launches instead of making them; an empty function
// restores the shell.
void SetShellOpenHookForTesting(std::function<void(HWND owner, const std::string& target)> hook);
