// The main form as the install engine sees it: the few controls and fields it
// reads and writes, and the platform actions it asks of the window. The window
// implements it; the engine's tests implement it without one.
#pragma once

#include "runtime/date_time.h"

#include <string>

namespace engine {

class InstallerForm {
public:
    virtual ~InstallerForm() = default;

    // Fields of the form.
    virtual const std::string& ProgramName() const = 0;
    virtual runtime::TDateTime LastLogTime() const = 0;
    virtual void SetLastLogTime(runtime::TDateTime value) = 0;

    // Controls, as narrow text.
    virtual std::string DestinationText() const = 0;      // EditPathDest
    virtual std::string SiteHost() const = 0;             // LabelSite
    virtual bool RunAfterInstall() const = 0;             // CheckBoxRun
    virtual void SetCancelCaption(const std::string& caption) = 0;  // dovrin

    // The log panel, MemoInform. Its line count does not count an empty last line.
    virtual int LogLineCount() const = 0;
    virtual void ClearLog() = 0;
    virtual void AppendLogLine(const std::string& line) = 0;

    // Handles every pending window message, then returns.
    virtual void ProcessMessages() = 0;
    // Closes the main window, which queues the end of the program.
    virtual void Close() = 0;
    // Opens a program, folder or web address with the user's default handler,
    // owned by the main window (ShellExecuteA, show command SW_RESTORE).
    virtual void ShellOpen(const std::string& target) = 0;

    // Set while an install run is in progress, so that runs never nest.
    bool installRunning = false;
};

}  // namespace engine
