// Putting a run's fetched files in place all at once, or none of them, also
// across a run that was killed half-way.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace engine {

// Where a target's old file waits while a run puts the new one in its place:
// beside it, always the same for the same target, and within the path limit
// as PartialPathFor is.
std::string BackupPathFor(const std::string& target);

// The files of one run, each fetched to PartialPathFor(its target) before any
// of them replaces its target.
//
// The run keeps a journal in the destination, written once the manifest has
// told what to fetch and before the first listed file's temporary file: one
// line per target (whether a file was there before) and one per folder that
// the run is about to make. Its name tells what a run
// killed at any moment left, and the next run undoes or finishes that first:
//   - "<journal>.~undo": fetching, or putting in place, or putting back.
//     Undone, in reverse order: a target with a backup gets the backup back;
//     a target that had no file before and has no temporary file left was put
//     in place and is removed; every temporary file is removed; then the
//     folders that the run made, if empty. Each of these steps leaves a state
//     that the same rules undo again, so a kill during the undoing is undone
//     by the next run.
//   - "<journal>.~done": every file was in place when it was renamed to this.
//     Finished: the backups that are left are removed.
//   - neither: nothing to undo. A kill before the journal was renamed into
//     place left at most the manifest's (and its signature's) temporary file,
//     which the next run's fetch of the manifest writes over, and the
//     journal's own, which it removes.
// Only names that a run makes are touched: temporary files, backups, the
// journal, the folders it listed, and targets that were not there before.
class StagedUpdate {
public:
    // dest: the destination folder; journal: the journal's path without its
    // state suffix, in a folder that exists.
    StagedUpdate(std::string dest, std::string journal);
    StagedUpdate(const StagedUpdate&) = delete;
    StagedUpdate& operator=(const StagedUpdate&) = delete;
    // Undoes everything unless the files are in place.
    ~StagedUpdate();

    // Undoes or finishes what a killed run on dest left. Throws EFCreateError
    // naming an old file that cannot be put back (another program holds what
    // is in its place): the journal then stays, and no new run may begin.
    static void FinishInterrupted(const std::string& dest, const std::string& journal);

    // Adds a target, as a path relative to dest, in the order in which they
    // go in place. Before Begin, a target's temporary file is removed with the
    // run as well.
    void Add(const std::string& relative);
    // Writes the journal; before the first added target's temporary file is
    // made. Throws EFCreateError when it cannot be written.
    void Begin();
    // Puts every temporary file onto its target, keeping the old files as
    // backups until all are in place, then removes the backups. When one
    // cannot be put in place, puts back what was, and throws EFCreateError
    // naming that target as fetching it would.
    void PutInPlace();

private:
    // Puts back what was, forgets the targets, and throws EFCreateError
    // naming path with the system's code.
    [[noreturn]] void Abandon(const std::string& path, unsigned long code);

    std::string dest_;
    std::string journal_;
    std::vector<std::string> targets_;   // relative to dest
    std::string existed_;                // per target: whether a file was there at Begin
    std::set<std::string> added_;            // the targets, as file names compare
    bool begun_ = false;
    bool inPlace_ = false;
};

// Tests stop a run as a kill would: the run leaves the files as they are and
// throws StoppedForTesting, now or after this many moves of putting in place
// and putting back, counted together (0: never).
struct StoppedForTesting {};
[[noreturn]] void StopAsIfKilledForTesting();
void SetStopAfterMovesForTesting(int moves);

}  // namespace engine
