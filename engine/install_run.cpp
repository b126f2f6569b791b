#include "engine/install_run.h"

#include "engine/activity_log.h"
#include "engine/download.h"
#include "engine/manifest.h"
#include "engine/messages.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"
#include "runtime/string_list.h"

#include <string>

namespace engine {

using runtime::Pos;
using runtime::ReplaceAll;
using runtime::TStringList;

namespace {

using messages::kFetchFailed;

// Set for the length of one run, so that runs never nest. The program has one
// form and runs on one thread.
bool gInstallRunning = false;

// Marks a run in progress, also when it ends in an exception.
class RunningFlag {
public:
    RunningFlag() { gInstallRunning = true; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    ~RunningFlag() { gInstallRunning = false; }
};

// Where one run fetches from and installs to.
struct RunSite {
    std::string dest;              // the destination folder as the run began
    std::string baseUrl;           // http://<host>/Updates/<product>
    std::string manifestRelative;  // Resources\<product>.ini
};

RunSite SiteOfRun(const InstallerForm& form, const std::string& dest) {
    const std::string& programName = form.ProgramName();
    return {dest, ReplaceAll(form.SiteHost(), "www.", "http://") + "/Updates/" + programName,
            "Resources\\" + programName + ".ini"};
}

std::string UrlOf(const RunSite& site, const std::string& relative) {
    return site.baseUrl + "/" + ReplaceAll(relative, "\\", "/");
}

std::string LocalPathOf(const RunSite& site, const std::string& relative) { return site.dest + "\\" + relative; }

// Fetches one file of the site to its place in the destination and logs the
// result; false when it failed.
bool FetchLogged(InstallerForm& form, const RunSite& site, const std::string& relative) {
    const std::string localPath = LocalPathOf(site, relative);
    if (DownloadFile(form, UrlOf(site, relative), localPath) < 1) {
        LogMessage(form, kFetchFailed + localPath);
        return false;
    }
    LogMessage(form, localPath);
    return true;
}

enum class EntriesOutcome { AllFetched, FetchFailed, EntryRefused };

// Fetches the listed files in order, letting the window repaint after each;
// stops at the first that fails or that the manifest may not ask for.
EntriesOutcome FetchEntries(InstallerForm& form, const RunSite& site, const TStringList& entries) {
    for (int i = 0; i < entries.Count(); ++i) {
        const std::string& entry = entries[i];
        // The manifest may list itself; it is here already.
        if (Pos(site.manifestRelative, entry) == 1) continue;
        // The manifest comes over plain HTTP: nothing it lists may land
        // outside the destination.
        if (!IsSafeManifestEntry(entry)) {
            LogMessage(form, messages::kEntryRefused + entry);
            return EntriesOutcome::EntryRefused;
        }
        if (!FetchLogged(form, site, entry)) return EntriesOutcome::FetchFailed;
        form.ProcessMessages();
    }
    return EntriesOutcome::AllFetched;
}

// After the last file: start the product and end, or show the folder.
void FinishRun(InstallerForm& form, const RunSite& site) {
    LogMessage(form, messages::kRunSucceeded);
    if (form.RunAfterInstall()) {
        form.ShellOpen(site.dest + "\\" + form.ProgramName() + ".exe");
        form.Close();
        return;
    }
    const std::string folder = form.DestinationText();
    form.SetCancelCaption(messages::kCloseCaption);
    form.ShellOpen(folder);
    // Opened twice on purpose: by the launch above and by the label's own action.
    OpenDestination(form);
}

}  // namespace

void OpenDestination(InstallerForm& form) {
    std::string folder = form.DestinationText();
    if (runtime::DirectoryExists(folder)) form.ShellOpen(folder);
}

bool InstallRunning() { return gInstallRunning; }

void RunInstall(InstallerForm& form) {
    // Clicks are handled while a run lets messages through; runs never nest.
    if (gInstallRunning) return;
    RunningFlag running;

    form.ClearLog();
    form.ProcessMessages();

    const std::string dest = form.DestinationText();
    if (!runtime::ForceDirectories(dest)) {
        LogMessage(form, messages::kCannotMakeDestination + dest);
        return;
    }
    LogMessage(form, messages::kFetching);

    const RunSite site = SiteOfRun(form, dest);
    if (!FetchLogged(form, site, site.manifestRelative)) return;

    const std::string manifestLocal = LocalPathOf(site, site.manifestRelative);
    TStringList manifest;
    manifest.LoadFromFile(manifestLocal);
    TStringList entries;
    ReadIniSection(manifest, entries, "UpdateFiles");
    if (entries.Count() < 2) {
        LogMessage(form, kFetchFailed + manifestLocal);
        return;
    }
    if (FetchEntries(form, site, entries) != EntriesOutcome::AllFetched) return;
    FinishRun(form, site);
}

}  // namespace engine
