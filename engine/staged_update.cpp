#include "engine/staged_update.h"

#include "engine/partial_file.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"
#include "runtime/string_list.h"
#include "runtime/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace engine {

namespace {

constexpr char kUndoSuffix[] = ".~undo";
constexpr char kDoneSuffix[] = ".~done";

int gMovesBeforeStop = 0;
bool gStopped = false;

// A journal has one line a record, all relative to the destination: first
// "D <folder>" for each folder the run makes, outermost first; then
// "F <target>" for a target with a file there before the run, "N <target>"
// for one without, in the order in which they go in place.
runtime::TStringList ReadJournal(const std::string& path) {
    runtime::TStringList lines;
    lines.LoadFromFile(path);
    return lines;
}

bool IsRecord(const std::string& line, char kind) { return line.size() > 2 && line[0] == kind && line[1] == ' '; }

// The path in dest that a record names.
std::string RecordPath(const std::string& dest, const std::string& line) {
    return dest + "\\" + line.substr(std::min<size_t>(2, line.size()));
}

// Writes the journal under its temporary name, flushed, and then renames it
// into place: a journal is whole or not there.
void WriteJournal(const std::string& path, const std::string& text) {
    const std::string temporary = PartialPathFor(path);
    {
        runtime::UniqueFileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw runtime::CannotCreateFile(path, GetLastError());
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            const DWORD code = GetLastError();
            file.reset();
            DeleteFileA(temporary.c_str());
            throw runtime::CannotCreateFile(path, code);
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileA(temporary.c_str());
        throw runtime::CannotCreateFile(path, code);
    }
}

// A move of putting in place or putting back; where tests stop a run.
// replace: whether a file at to is replaced (after the wait for a held one)
// or the move fails with ERROR_ALREADY_EXISTS.
DWORD MoveStep(const std::string& from, const std::string& to, bool replace = true) {
    if (gMovesBeforeStop > 0 && --gMovesBeforeStop == 0) StopAsIfKilledForTesting();
    if (replace) return MoveHeldFile(from, to);
    return MoveFileExA(from.c_str(), to.c_str(), 0) ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
}

// Undoes a run on dest as its journal describes it, last record first;
// ERROR_SUCCESS, or the error of the first target that could not be put
// back or removed (its path in failed), and the journal must then stay for
// the next run.
DWORD Undo(const std::string& dest, const runtime::TStringList& journal, std::string& failed) {
    DWORD firstError = ERROR_SUCCESS;
    for (int i = journal.Count() - 1; i >= 0; --i) {
        const std::string& line = journal[i];
        const std::string path = RecordPath(dest, line);
        if (IsRecord(line, 'D')) {
            RemoveDirectoryA(path.c_str());
            continue;
        }
        if (!IsRecord(line, 'F') && !IsRecord(line, 'N')) continue;
        const std::string partial = PartialPathFor(path);
        const std::string backup = BackupPathFor(path);
        DWORD code = ERROR_SUCCESS;
        if (runtime::FileExists(backup)) {
            code = MoveStep(backup, path);
        } else if (IsRecord(line, 'N') && !runtime::FileExists(partial) && !DeleteFileA(path.c_str())) {
            code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) code = ERROR_SUCCESS;
        }
        if (code != ERROR_SUCCESS && firstError == ERROR_SUCCESS) {
            firstError = code;
            failed = path;
        }
        DeleteFileA(partial.c_str());
    }
    return firstError;
}

// Removes the backups of a run whose files are all in place; false when one
// is still there.
bool RemoveBackups(const std::string& dest, const runtime::TStringList& journal) {
    bool complete = true;
    for (int i = 0; i < journal.Count(); ++i) {
        if (IsRecord(journal[i], 'D')) continue;
        const std::string backup = BackupPathFor(RecordPath(dest, journal[i]));
        if (!DeleteFileA(backup.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) complete = false;
    }
    return complete;
}

}  // namespace

std::string BackupPathFor(const std::string& target) { return SidePathFor(target, ".~old"); }

void StopAsIfKilledForTesting() {
    gStopped = true;
    throw StoppedForTesting();
}

void SetStopAfterMovesForTesting(int moves) {
    gMovesBeforeStop = moves;
    gStopped = false;
}

StagedUpdate::StagedUpdate(std::string dest, std::string journal) : dest_(std::move(dest)), journal_(std::move(journal)) {}

StagedUpdate::~StagedUpdate() {
    if (inPlace_ || gStopped) return;
    if (!begun_) {
        for (const std::string& relative : targets_) DeleteFileA(PartialPathFor(dest_ + "\\" + relative).c_str());
        return;
    }
    try {
        FinishInterrupted(dest_, journal_);
    } catch (const runtime::EFCreateError&) {
        // The journal stays for the next run.
    }
}

void StagedUpdate::FinishInterrupted(const std::string& dest, const std::string& journal) {
    const std::string undo = journal + kUndoSuffix;
    const std::string done = journal + kDoneSuffix;
    DeleteFileA(PartialPathFor(undo).c_str());
    if (runtime::FileExists(done) && RemoveBackups(dest, ReadJournal(done))) DeleteFileA(done.c_str());
    if (!runtime::FileExists(undo)) return;
    std::string failed;
    const DWORD code = Undo(dest, ReadJournal(undo), failed);
    // A run that went on would lose the old file that waits as a backup.
    if (code != ERROR_SUCCESS) throw runtime::CannotCreateFile(failed, code);
    DeleteFileA(undo.c_str());
}

void StagedUpdate::Add(const std::string& relative) {
    // A file listed twice is fetched twice, onto the same temporary file, and
    // goes in place once.
    if (added_.insert(runtime::AsciiLowerCase(runtime::ReplaceAll(relative, "/", "\\"))).second) {
        targets_.push_back(relative);
    }
}

void StagedUpdate::Begin() {
    std::string text;
    std::set<std::string> looked;  // folders looked for, with their parents
    for (const std::string& relative : targets_) {
        // The folders between dest and the target that are not there yet,
        // outermost first.
        std::string missing;
        for (size_t cut = relative.find_last_of("\\/"); cut != std::string::npos && cut > 0;
             cut = relative.find_last_of("\\/", cut - 1)) {
            const std::string folder = relative.substr(0, cut);
            if (!looked.insert(folder).second || runtime::DirectoryExists(dest_ + "\\" + folder)) break;
            missing.insert(0, "D " + folder + "\r\n");
        }
        text += missing;
    }
    existed_.assign(targets_.size(), '\0');
    for (size_t i = 0; i < targets_.size(); ++i) {
        existed_[i] = runtime::FileExists(dest_ + "\\" + targets_[i]);
        text += (existed_[i] ? "F " : "N ") + targets_[i] + "\r\n";
    }
    WriteJournal(journal_ + kUndoSuffix, text);
    begun_ = true;
}

void StagedUpdate::PutInPlace() {
    // Which targets had an old file, now a backup: only those have one to remove.
    std::string backedUp(targets_.size(), '\0');
    for (size_t i = 0; i < targets_.size(); ++i) {
        const std::string path = dest_ + "\\" + targets_[i];
        const std::string partial = PartialPathFor(path);
        // Each call to the file system counts on a product of many small
        // files (under Wine each new name costs a search of its folder): a
        // file that was not there goes in place at once, unless one has come
        // since; an old one's move is tried rather than looked for first.
        DWORD code = existed_[i] ? ERROR_ALREADY_EXISTS : MoveStep(partial, path, false);
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
            code = MoveStep(path, BackupPathFor(path));
            backedUp[i] = code == ERROR_SUCCESS;
            if (code == ERROR_FILE_NOT_FOUND) code = ERROR_SUCCESS;
            if (code == ERROR_SUCCESS) code = MoveStep(partial, path);
        }
        if (code != ERROR_SUCCESS) Abandon(path, code);
    }
    // From here on the new files stay, also after a kill.
    const std::string undo = journal_ + kUndoSuffix;
    const std::string done = journal_ + kDoneSuffix;
    if (!MoveFileExA(undo.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Abandon(done, GetLastError());
    }
    inPlace_ = true;
    bool removed = true;
    for (size_t i = 0; i < targets_.size(); ++i) {
        if (backedUp[i] && !DeleteFileA(BackupPathFor(dest_ + "\\" + targets_[i]).c_str())) removed = false;
    }
    // A backup that could not go is removed by the next run.
    if (removed) DeleteFileA(done.c_str());
}

void StagedUpdate::Abandon(const std::string& path, unsigned long code) {
    try {
        FinishInterrupted(dest_, journal_);
    } catch (const runtime::EFCreateError&) {
        // What could not be put back waits for the next run; the failure to
        // report is the one that stopped this run.
    }
    begun_ = false;
    targets_.clear();
    throw runtime::CannotCreateFile(path, code);
}

}  // namespace engine
