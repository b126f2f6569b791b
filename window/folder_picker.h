// The folder picker: the shell's browse-for-folder dialog, modal to the main
// window and centred on its monitor.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

struct FolderPickerSettings {
    std::string prompt;     // shown above the folder tree
    UINT flags = 0;         // BIF_*
    bool wholeNamespace = true;  // the root is the desktop, the whole shell namespace
    std::string preselect;  // empty: nothing preselected
};

// The settings for a destination text: the text is preselected when it names
// an existing folder.
FolderPickerSettings FolderPickerSettingsFor(const std::string& destination);

// The chosen folder's file-system path as the shell gives it, or nothing when
// the user cancels.
std::optional<std::string> PickFolder(HWND owner, const FolderPickerSettings& settings);

// Lets tests answer in place of the modal dialog; an empty function restores it.
void SetFolderPickerHookForTesting(
    std::function<std::optional<std::string>(HWND owner, const FolderPickerSettings& settings)> hook);
