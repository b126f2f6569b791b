// The shipped installer started as a user starts it and seen from outside: its
// window and controls found by class and text, the keyboard focus read from
// its thread, and real key presses and clicks sent through the X server of the
// virtual display (xdotool, a Unix program that Wine starts for us). Texts are
// narrow text in the ANSI code page the installer runs with.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The program the build made, as a Windows path.
std::string InstallerPath();

// Waits, handling this thread's messages, until done() holds; false if it
// never did within timeoutMs.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 15000);

// Runs xdotool with these arguments (no double quotes in them) and waits for it
// to end; true when it succeeded.
bool Xdotool(const std::string& arguments);
// Real key presses, in xdotool's names: "Tab", "shift+Tab", "space", "alt+F4".
bool PressKeys(const std::string& keys);
// Types ASCII text as key presses.
bool TypeText(const std::string& text);
// Moves the mouse to a point of the screen and clicks the left button there.
bool ClickAt(POINT screen);

class RunningInstaller {
public:
    // Starts exe with this process's environment plus extra; throws
    // std::runtime_error when it cannot be started.
    explicit RunningInstaller(const std::string& exe,
                              const std::vector<std::pair<std::string, std::string>>& extra = {});
    // Ends the program if it still runs.
    ~RunningInstaller();
    RunningInstaller(const RunningInstaller&) = delete;
    RunningInstaller& operator=(const RunningInstaller&) = delete;

    // Waits for the main window and finds its controls.
    bool WaitForWindow();
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool Running() const;
    DWORD ProcessId() const { return processId_; }

    HWND Window() const { return window_; }
    HWND FolderEdit() const { return folderEdit_; }
    HWND InstallButton() const { return installButton_; }
    HWND CancelButton() const { return cancelButton_; }
    HWND RunFlag() const { return runFlag_; }
    HWND LogPanel() const { return logPanel_; }
    // The control's name for messages: "FolderEdit", "InstallButton", ...
    std::string NameOf(HWND control) const;

    // The window that has the keyboard focus in the program's window thread.
    HWND Focus() const;
    // These wait for the window's thread (a few seconds at most).
    std::string TextOf(HWND control) const;
    std::pair<int, int> SelectionOf(HWND edit) const;
    bool Checked(HWND box) const;

    // The visible top-level windows of the process.
    std::vector<HWND> TopWindows() const;

private:
    static BOOL CALLBACK FindControl(HWND hwnd, LPARAM data);

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
    HWND folderEdit_ = nullptr;
    HWND installButton_ = nullptr;
    HWND cancelButton_ = nullptr;
    HWND runFlag_ = nullptr;
    HWND logPanel_ = nullptr;
};
