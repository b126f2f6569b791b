#include "engine/install_run.h"

#include "engine/activity_log.h"
#include "engine/cng.h"
#include "engine/download.h"
#include "engine/file_hashes.h"
#include "engine/manifest.h"
#include "engine/messages.h"
#include "engine/partial_file.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"
#include "runtime/string_list.h"

#include <windows.h>

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

// Fetches one file of the site to target, checked against listed when there
// is a line for it, and logs the result under its place in the destination;
// false when it failed. index and count: its place in the list, for the
// progress shown meanwhile (count 0 for the manifest).
bool FetchLogged(InstallerForm& form, const RunSite& site, const std::string& relative, const std::string& target,
                 const ListedFile* listed = nullptr, int index = 0, int count = 0) {
    const std::string localPath = LocalPathOf(site, relative);
    FetchingFile fetching(relative, index, count);
    const int result = DownloadFile(form, UrlOf(site, relative), target, listed);
    if (result < 1) {
        LogMessage(form, (result == kDownloadDamaged ? messages::kFileDamaged : kFetchFailed) + localPath);
        return false;
    }
    LogMessage(form, localPath);
    return true;
}

// The manifest may list itself; it is fetched first, on its own.
bool IsManifestItself(const RunSite& site, const std::string& entry) { return Pos(site.manifestRelative, entry) == 1; }

enum class EntriesOutcome { AllFetched, FetchFailed, EntryRefused };

// Fetches the listed files in order, letting the window repaint after each;
// stops at the first that fails or that the manifest may not ask for. A file
// whose copy in the destination already has its listed size and hash is kept.
EntriesOutcome FetchEntries(InstallerForm& form, const RunSite& site, const TStringList& entries,
                            const FileHashes& hashes) {
    int count = 0;
    for (int i = 0; i < entries.Count(); ++i) count += IsManifestItself(site, entries[i]) ? 0 : 1;
    int index = 0;
    for (int i = 0; i < entries.Count(); ++i) {
        const std::string& entry = entries[i];
        if (IsManifestItself(site, entry)) continue;
        // The manifest comes over plain HTTP: nothing it lists may land
        // outside the destination.
        if (!IsSafeManifestEntry(entry)) {
            LogMessage(form, messages::kEntryRefused + entry);
            return EntriesOutcome::EntryRefused;
        }
        ++index;
        const std::string localPath = LocalPathOf(site, entry);
        const ListedFile* listed = hashes.Find(entry);
        if (listed != nullptr && FileMatches(localPath, *listed)) {
            LogMessage(form, messages::kUnchanged + localPath);
        } else if (!FetchLogged(form, site, entry, localPath, listed, index, count)) {
            return EntriesOutcome::FetchFailed;
        }
        form.ProcessMessages();
    }
    return EntriesOutcome::AllFetched;
}

// The manifest (and, in a build with a key, its signature) as a run fetches
// it: under a name of its own beside the installed one, which it replaces
// only once every listed file has come, so that a failed run leaves the
// installed manifest as it was. Removed unless installed.
class StagedManifest {
public:
    StagedManifest(const std::string& manifestLocal, bool signature)
        : installedPath_(manifestLocal),
          manifest_(manifestLocal + ".~new"),
          signature_(signature ? manifestLocal + ".sig.~new" : std::string()) {}
    StagedManifest(const StagedManifest&) = delete;
    StagedManifest& operator=(const StagedManifest&) = delete;
    ~StagedManifest() {
        if (installed_) return;
        DeleteFileA(manifest_.c_str());
        if (!signature_.empty()) DeleteFileA(signature_.c_str());
    }

    const std::string& ManifestPath() const { return manifest_; }
    const std::string& SignaturePath() const { return signature_; }

    // The signature first: a manifest in place has its own signature beside
    // it, or an older one that fails to verify, never a wrong one that passes.
    void Install() {
        if (!signature_.empty()) MoveOntoTarget(signature_, installedPath_ + ".sig");
        MoveOntoTarget(manifest_, installedPath_);
        installed_ = true;
    }

private:
    std::string installedPath_;
    std::string manifest_;
    std::string signature_;  // empty without a key
    bool installed_ = false;
};

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
    const P256PublicKey* key = form.SiteSigningKey();
    StagedManifest staged(manifestLocal, key != nullptr);
    if (!FetchLogged(form, site, site.manifestRelative, staged.ManifestPath())) return;
    if (key != nullptr && (DownloadFile(form, UrlOf(site, site.manifestRelative + ".sig"), staged.SignaturePath()) < 1 ||
                           !IsSigned(staged.ManifestPath(), staged.SignaturePath(), *key))) {
        LogMessage(form, messages::kSignatureNotConfirmed + manifestLocal);
        return;
    }

    TStringList manifest;
    manifest.LoadFromFile(staged.ManifestPath());
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
    if (FetchEntries(form, site, entries, hashes) != EntriesOutcome::AllFetched) return;
    // Last, so that the installed manifest always describes installed files;
    // the next run's check against going back reads it.
    staged.Install();
    FinishRun(form, site);
}

}  // namespace engine
