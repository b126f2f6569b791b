#include "engine/install_run.h"

#include "engine/activity_log.h"
#include "engine/cng.h"
#include "engine/download.h"
#include "engine/fetch_set.h"
#include "engine/file_hashes.h"
#include "engine/manifest.h"
#include "engine/messages.h"
#include "engine/partial_file.h"
#include "engine/staged_update.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"
#include "runtime/string_list.h"

#include <windows.h>

#include <string>
#include <vector>

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
    std::string baseUrl;           // http://<host>/Updates/<product>, or https://
    std::string manifestRelative;  // Resources\<product>.ini
};

RunSite SiteOfRun(const InstallerForm& form, const std::string& dest) {
    const std::string& programName = form.ProgramName();
    const char* scheme = form.SiteOverHttps() ? "https://" : "http://";
    return {dest, ReplaceAll(form.SiteHost(), "www.", scheme) + "/Updates/" + programName,
            "Resources\\" + programName + ".ini"};
}

std::string UrlOf(const RunSite& site, const std::string& relative) {
    return site.baseUrl + "/" + ReplaceAll(relative, "\\", "/");
}

std::string LocalPathOf(const RunSite& site, const std::string& relative) { return site.dest + "\\" + relative; }

// Logs how the fetch of the file at localPath ended, with DownloadFile's
// result; false when it failed.
bool LogFetched(InstallerForm& form, int result, const std::string& localPath) {
    if (result < 1) {
        LogMessage(form, (result == kDownloadDamaged ? messages::kFileDamaged : kFetchFailed) + localPath);
        return false;
    }
    LogMessage(form, localPath);
    return true;
}

// Fetches one file of the site, unchecked, to its temporary name beside its
// place in the destination, and logs the result there; false when it failed.
bool FetchLogged(InstallerForm& form, const RunSite& site, const std::string& relative) {
    const std::string localPath = LocalPathOf(site, relative);
    FetchingFile fetching(relative, 0, 0);
    return LogFetched(form, DownloadFile(form, UrlOf(site, relative), localPath, nullptr, Placement::KeepStaged),
                      localPath);
}

// The manifest may list itself; it is fetched first, on its own.
bool IsManifestItself(const RunSite& site, const std::string& entry) { return Pos(site.manifestRelative, entry) == 1; }

// What the run does with one listed file.
struct PlannedEntry {
    enum Kind { Fetch, Unchanged, Refused } kind;
    const std::string* entry;
    const ListedFile* listed;
};

// The listed files in order, up to and with the first that the manifest may
// not ask for. A file whose copy in the destination already has its listed
// size and hash is kept.
std::vector<PlannedEntry> PlanEntries(const RunSite& site, const TStringList& entries, const FileHashes& hashes) {
    std::vector<PlannedEntry> plan;
    plan.reserve(static_cast<size_t>(entries.Count()));
    for (int i = 0; i < entries.Count(); ++i) {
        const std::string& entry = entries[i];
        if (IsManifestItself(site, entry)) continue;
        // The manifest comes over plain HTTP: nothing it lists may land
        // outside the destination.
        if (!IsSafeManifestEntry(entry)) {
            plan.push_back({PlannedEntry::Refused, &entry, nullptr});
            break;
        }
        const ListedFile* listed = hashes.Find(entry);
        const bool unchanged = listed != nullptr && FileMatches(LocalPathOf(site, entry), *listed);
        plan.push_back({unchanged ? PlannedEntry::Unchanged : PlannedEntry::Fetch, &entry, listed});
    }
    return plan;
}

// Fetches the planned files, several at a time, and logs them in order,
// letting the window repaint after each; false at the first that fails or
// that the manifest may not ask for. count: how many files the manifest
// lists, for the progress.
bool FetchEntries(InstallerForm& form, const RunSite& site, const std::vector<PlannedEntry>& plan, int count) {
    FetchSet fetches(form);
    int index = 0;
    for (const PlannedEntry& planned : plan) {
        ++index;
        if (planned.kind != PlannedEntry::Fetch) continue;
        fetches.Queue({UrlOf(site, *planned.entry), LocalPathOf(site, *planned.entry), planned.listed, *planned.entry,
                       index, count, Placement::KeepStaged});
    }
    for (const PlannedEntry& planned : plan) {
        if (planned.kind == PlannedEntry::Refused) {
            LogMessage(form, messages::kEntryRefused + *planned.entry);
            return false;
        }
        const std::string localPath = LocalPathOf(site, *planned.entry);
        if (planned.kind == PlannedEntry::Unchanged) {
            LogMessage(form, messages::kUnchanged + localPath);
        } else if (!LogFetched(form, fetches.TakeNext(), localPath)) {
            return false;
        }
        form.ProcessMessages();
    }
    return true;
}

// Whether the manifest at path has a signature at signaturePath
// that verifies under key. Missing or unreadable files do not.
bool IsSigned(const std::string& path, const std::string& signaturePath, const P256PublicKey& key) {
    if (!runtime::FileExists(path) || !runtime::FileExists(signaturePath)) return false;
    return VerifyP256Signature(runtime::ReadWholeFile(path), runtime::ReadWholeFile(signaturePath), key);
}

// The release number of the signed manifest in the destination; 0 when there
// is none that verifies under key.
long long InstalledRelease(const std::string& manifestLocal, const P256PublicKey& key) {
    if (!IsSigned(manifestLocal, manifestLocal + ".sig", key)) return 0;
    TStringList installed;
    installed.LoadFromFile(manifestLocal);
    return FileHashes::Read(installed).ReleaseNumber();
}

// The first listed file without a well-formed size-and-hash line, or nullptr.
const std::string* FirstEntryWithoutHash(const RunSite& site, const TStringList& entries, const FileHashes& hashes) {
    for (int i = 0; i < entries.Count(); ++i) {
        if (!IsManifestItself(site, entries[i]) && hashes.Find(entries[i]) == nullptr) return &entries[i];
    }
    return nullptr;
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
    const std::string manifestLocal = LocalPathOf(site, site.manifestRelative);
    // What a run that was killed left comes first: the product is then the
    // old one or the new one, never a mix.
    StagedUpdate::FinishInterrupted(dest, manifestLocal);
    // Every file comes to its temporary name first, the manifest too; none
    // goes in place before all have come.
    StagedUpdate update(dest, manifestLocal);
    const P256PublicKey* key = form.SiteSigningKey();
    const std::string signatureRelative = site.manifestRelative + ".sig";
    update.Add(site.manifestRelative);
    if (key != nullptr) update.Add(signatureRelative);
    if (!FetchLogged(form, site, site.manifestRelative)) return;
    const std::string fetchedManifest = PartialPathFor(manifestLocal);
    if (key != nullptr &&
        (DownloadFile(form, UrlOf(site, signatureRelative), LocalPathOf(site, signatureRelative), nullptr,
                      Placement::KeepStaged) < 1 ||
         !IsSigned(fetchedManifest, PartialPathFor(LocalPathOf(site, signatureRelative)), *key))) {
        LogMessage(form, messages::kSignatureNotConfirmed + manifestLocal);
        return;
    }

    TStringList manifest;
    manifest.LoadFromFile(fetchedManifest);
    TStringList entries;
    ReadIniSection(manifest, entries, "UpdateFiles");
    if (entries.Count() < 2) {
        LogMessage(form, kFetchFailed + manifestLocal);
        return;
    }
    const FileHashes hashes = FileHashes::Read(manifest);
    if (key != nullptr) {
        // An equal number is a repair, and fine.
        if (InstalledRelease(manifestLocal, *key) > hashes.ReleaseNumber()) {
            LogMessage(form, messages::kSiteOlderThanInstalled + manifestLocal);
            return;
        }
        if (const std::string* unlisted = FirstEntryWithoutHash(site, entries, hashes)) {
            LogMessage(form, messages::kNoFileHash + LocalPathOf(site, *unlisted));
            return;
        }
    } else if (hashes.MalformedLines() > 0) {
        LogMessage(form, messages::kHashLinesIgnored + manifestLocal);
    }
    int count = 0;
    for (int i = 0; i < entries.Count(); ++i) count += IsManifestItself(site, entries[i]) ? 0 : 1;
    const std::vector<PlannedEntry> plan = PlanEntries(site, entries, hashes);
    for (const PlannedEntry& planned : plan) {
        if (planned.kind == PlannedEntry::Fetch) update.Add(*planned.entry);
    }
    update.Begin();
    if (!FetchEntries(form, site, plan, count)) return;
    // The installed manifest then describes installed files; the next run's
    // check against going back reads it.
    update.PutInPlace();
    FinishRun(form, site);
}

}  // namespace engine
