// The main form as the install engine sees it: what a run reads, where its log
// goes, and the platform actions it asks for. A pure interface: the window
// implements it, the engine's tests implement it without one.
#pragma once

#include "engine/cng.h"
#include "runtime/date_time.h"

#include <windows.h>

#include <string>

namespace engine {

// How far the file being fetched has come.
struct FileProgress {
    const std::string& entry;  // as the manifest lists it, or the manifest's own path
    long long received;        // bytes so far
    long long total;           // as the site announced it; -1 when it sent no length
    int index;                 // the file's place among those the run fetches, from 1
    int count;                 // how many the run fetches; 0 before the list is known
};

class InstallerForm {
public:
    virtual ~InstallerForm() = default;

    // The product that a run installs: the site's folder, the manifest's name
    // and the program that a run starts.
    virtual const std::string& ProgramName() const = 0;
    // When the log's last line was written, for the gap each line shows.
    virtual runtime::TDateTime LastLogTime() const = 0;
    virtual void SetLastLogTime(runtime::TDateTime value) = 0;

    // The key that the site's file list must be signed with, as the build
    // embeds it; nullptr for a build without one, which takes the list as it
    // comes.
    virtual const P256PublicKey* SiteSigningKey() const = 0;

    // The folder to install into, as the user has typed or picked it.
    virtual std::string DestinationText() const = 0;
    // The site's host as the build fixed it, "www." in front of its name.
    virtual std::string SiteHost() const = 0;
    // Whether the build fetches the site over HTTPS instead of plain HTTP.
    virtual bool SiteOverHttps() const = 0;
    // Whether a successful run starts the product and ends the program, or
    // shows the folder and leaves the window open.
    virtual bool RunAfterInstall() const = 0;
    // Renames the way out of the window once a run has installed and it stays.
    virtual void SetCancelCaption(const std::string& caption) = 0;

    // The log of the run, one line per step. Its line count does not count an
    // empty last line.
    virtual int LogLineCount() const = 0;
    virtual void ClearLog() = 0;
    virtual void AppendLogLine(const std::string& line) = 0;

    // Lets the window handle every pending message (paint, clicks), then
    // returns: the run's pauses between steps.
    virtual void ProcessMessages() = 0;
    // Waits up to timeoutMs for event while the window goes on answering
    // (painting, sent messages, its frame moved, sized or closed); true when
    // the event was set. Input meant for the controls waits for
    // ProcessMessages.
    virtual bool WaitAnswering(HANDLE event, DWORD timeoutMs) = 0;
    // While a file is fetched: after its response head and after each read.
    virtual void ShowFileProgress(const FileProgress& progress) = 0;
    // Ends the program once the run has returned.
    virtual void Close() = 0;
    // Opens a program, folder or web address with the user's default handler,
    // owned by the main window (ShellExecuteA, show command SW_RESTORE).
    virtual void ShellOpen(const std::string& target) = 0;
};

}  // namespace engine
