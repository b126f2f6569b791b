// The file that a fetch writes beside its target, and the target's probe and
// replacement: how a fetch never leaves a partial body where the real file
// belongs.
#pragma once

#include "runtime/unique_handle.h"

#include <string>

namespace engine {

// The temporary file that a fetch of target writes before it replaces target:
// in target's folder, always the same for the same target (so a fetch that was
// killed leaves nothing the next one does not reuse and remove), and never
// longer than target's own name when a longer one would not fit the 259
// characters of a path.
std::string PartialPathFor(const std::string& target);
// The same for another suffix than ".~part"; each suffix has short names of
// its own.
std::string SidePathFor(const std::string& target, const std::string& suffix);

// How long a file that another program holds for a moment (an antivirus or an
// indexer looking at a freshly written file) is waited for: the probe and the
// replacement retry access-denied, sharing and lock violations this long.
constexpr unsigned kHeldFileRetryMs = 1000;

// Fails the way creating the target would, before a byte is fetched: throws
// EFCreateError for a target that is open elsewhere for longer than the retry
// window, read-only, a folder, or no file name at all.
void ProbeTarget(const std::string& target);

// Moves the file from onto to in the same folder, replacing it, with the same
// retry; ERROR_SUCCESS or the error of the last attempt.
unsigned long MoveHeldFile(const std::string& from, const std::string& to);
// The same, throwing EFCreateError naming target when it cannot.
void MoveOntoTarget(const std::string& from, const std::string& target);

// A partial body beside its target; removed unless it has replaced the target.
class PartialFile {
public:
    // Creates (or empties) PartialPathFor(target), shared with nobody; throws
    // EFCreateError naming target when it cannot. Target is borrowed: it
    // outlives the partial file.
    explicit PartialFile(const std::string& target);
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile();

    HANDLE Handle() const { return file_.get(); }
    // Closes the file; false when the system reports that its data may not
    // have been written.
    bool Close();
    // Leaves the closed file for the caller to put in place.
    void Keep();
    // Moves the closed file onto the target, which it replaces; throws
    // EFCreateError naming the target when it cannot.
    void ReplaceTarget();

private:
    const std::string& target_;  // borrowed
    std::string path_;
    runtime::UniqueFileHandle file_;
    bool replaced_ = false;
};

}  // namespace engine
