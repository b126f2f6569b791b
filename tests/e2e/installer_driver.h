// Drives the real installer from outside, as a person at the screen would:
// finds its window by process and caption, types the folder, presses the
// buttons and reads what the window shows. Texts are narrow text in the
// ANSI code page, the same page the installer runs with.
#pragma once

#include "runtime/unique_handle.h"
#include "tests/support/error_box.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <utility>
#include <vector>

using ExtraEnvironment = std::vector<std::pair<std::string, std::string>>;

// A program started directly (not through the shell), its process handle owned.
struct StartedProcess {
    runtime::UniqueKernelHandle handle;
    DWORD id = 0;
};

// Starts exe with this process's environment plus `extra` (replacing
// variables of the same name); throws std::runtime_error when it cannot start.
StartedProcess StartProcess(const std::string& exe, const ExtraEnvironment& extra = {});

class InstallerDriver {
public:
    // Starts the program as StartProcess does.
    InstallerDriver(const std::string& exe, const ExtraEnvironment& extra = {});
    // Ends the program if it still runs.
    ~InstallerDriver();
    InstallerDriver(const InstallerDriver&) = delete;
    InstallerDriver& operator=(const InstallerDriver&) = delete;

    // Waits for the main window ("Установка программы ..." or "Обновление
    // программы ...") and finds its controls; false on timeout or exit.
    bool WaitForWindow(DWORD timeoutMs = 30000);

    DWORD ProcessId() const { return process_.id; }
    HANDLE Process() const { return process_.handle.get(); }
    HWND Window() const { return window_; }
    bool Running() const;
    // Waits for the program to end; false on timeout.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    // Ends the program at once.
    void Kill();

    // These read the window without waiting for its thread, so they answer
    // during a run as well.
    std::string Caption() const;
    std::string InstallButtonCaption() const;
    std::string CancelButtonCaption() const;

    // The controls, found by class, style and caption.
    HWND FolderEdit() const { return folderEdit_; }
    HWND InstallButton() const { return installButton_; }
    HWND CancelButton() const { return cancelButton_; }
    HWND RunFlagBox() const { return runCheckBox_; }
    HWND LogPanel() const { return logPanel_; }
    // A control's name for messages: "FolderEdit", "InstallButton", ...
    std::string NameOf(HWND control) const;
    // The window that has the keyboard focus in the program's window thread.
    HWND Focus() const;
    // The visible top-level windows of the program.
    std::vector<HWND> TopWindows() const;

    // These ask the window's thread and so wait for it (up to `timeoutMs`);
    // false or an empty answer when it did not answer in time.
    std::string TextOf(HWND window, DWORD timeoutMs = 5000) const;
    // The start and end of an edit box's selection.
    std::pair<int, int> SelectionOf(HWND edit, DWORD timeoutMs = 5000) const;
    bool Checked(HWND box, DWORD timeoutMs = 5000) const;
    bool FolderText(std::string& text, DWORD timeoutMs = 5000) const;
    bool RunFlag(bool& checked, DWORD timeoutMs = 5000) const;
    bool LogLines(std::vector<std::string>& lines, DWORD timeoutMs = 2000) const;

    // Sets the folder text like typing does (the edit reports the change).
    bool SetFolder(const std::string& path, DWORD timeoutMs = 5000);
    // Clicks the check box until it shows `checked`; false on timeout.
    bool SetRunFlag(bool checked, DWORD timeoutMs = 5000);
    // Posted clicks: the install run runs inside the click handler.
    void PressInstall();
    void PressCancel();
    void CloseByCloseBox();

    // Polls the log panel until one of its lines satisfies `match`; the lines
    // last read are left in `lines`. False on timeout or when the program ended.
    bool WaitForLogLine(const std::function<bool(const std::string&)>& match, DWORD timeoutMs,
                        std::vector<std::string>* lines = nullptr) const;

    // The program's error box, if one is shown (answered with PressOk).
    bool FindErrorBox(ErrorBox& box) const;
    bool WaitForErrorBox(ErrorBox& box, DWORD timeoutMs) const;

private:
    bool FindControls();

    StartedProcess process_;
    HWND window_ = nullptr;
    HWND folderEdit_ = nullptr;
    HWND installButton_ = nullptr;
    HWND cancelButton_ = nullptr;
    HWND runCheckBox_ = nullptr;
    HWND logPanel_ = nullptr;
};

// Reads the log panel over and over on a thread of its own, so that a read is
// always waiting when the window's thread next looks at its messages. That
// includes the last time: before the program ends it answers what is pending,
// so the lines of a run that closes the window at once are seen to its end.
class LogWatcher {
public:
    explicit LogWatcher(const InstallerDriver& installer);
    ~LogWatcher();
    LogWatcher(const LogWatcher&) = delete;
    LogWatcher& operator=(const LogWatcher&) = delete;

    // The lines last read.
    std::vector<std::string> Lines() const;
    // Stops reading (waits for the read in progress); Lines() then stays put.
    void Stop();

private:
    void Watch();

    const InstallerDriver& installer_;  // borrowed
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: it starts once everything above is there
};

// The text of a window of another process without waiting for its thread.
std::string WindowCaption(HWND window);

// A visible top-level window of `className` of any process, other than those
// in `known`; nullptr if none.
HWND FindTopWindowOfClass(const char* className, const std::set<HWND>& known = {});
HWND WaitForTopWindowOfClass(const char* className, DWORD timeoutMs, const std::set<HWND>& known = {});
// All visible top-level windows of `className`.
std::set<HWND> TopWindowsOfClass(const char* className);
// Asks the window to close and waits for its process; ends the process if it
// is still there after `timeoutMs`.
void CloseWindowAndProcess(HWND window, DWORD timeoutMs = 5000);

// Ids of the running processes whose executable is `exeName` (any case).
std::set<DWORD> ProcessesNamed(const std::string& exeName);
// Ends the processes named `exeName` that are not in `keep`, except the one
// that owns the desktop window.
void EndProcessesNamed(const std::string& exeName, const std::set<DWORD>& keep);

// "/x/y" (a path of the Unix side) as Wine shows it: "Z:\x\y". Windows paths
// come back unchanged.
std::string WindowsPathFromUnix(const std::string& path);
