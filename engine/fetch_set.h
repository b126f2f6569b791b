// Several files fetched at once over one asynchronous session, on the thread
// that asks and through the form's wait, with no thread of its own: queued in
// an order, their results taken in that same order.
#pragma once

#include "engine/download.h"
#include "engine/file_hashes.h"
#include "engine/installer_form.h"

#include <memory>
#include <string>
#include <vector>

namespace engine {

// How many fetches a set keeps under way at most.
constexpr int kFetchesInFlight = 6;

// A file for a FetchSet to fetch, as DownloadFile takes it, with what its
// progress shows.
struct QueuedFile {
    std::string url;
    std::string localPath;
    const ListedFile* expected = nullptr;  // borrowed, outlives the set; nullptr fetches unchecked
    std::string entry;                     // what the progress names it; empty: localPath
    int index = 0;                         // its place in the run's list, from 1; 0: none
    int count = 0;                         // how many the run fetches; 0: not known
    Placement placement = Placement::ReplaceTarget;
};

class FetchSession;
class FileFetch;

class FetchSet {
public:
    // Keeps up to inFlight fetches under way; waits through form, which goes
    // on answering meanwhile.
    explicit FetchSet(InstallerForm& form, int inFlight = kFetchesInFlight);
    FetchSet(const FetchSet&) = delete;
    FetchSet& operator=(const FetchSet&) = delete;
    // Abandons every file not taken: nothing of theirs is left beside their
    // targets.
    ~FetchSet();

    // Adds a file after those queued before it; its fetch starts as soon as
    // a place is free.
    void Queue(QueuedFile file);
    // Whether a queued file is still to be taken.
    bool HasNext() const;
    // Waits for the first file not yet taken, fetching the later ones
    // meanwhile, and gives its result as DownloadFile does: the target
    // replaced for a result above 0, and the EFCreateError of a target that
    // cannot be created or replaced thrown here, in the file's turn (any
    // other fault at once). The progress shown is this file's. A result below
    // 1 or a throw ends the set: every later file is abandoned and HasNext is
    // false.
    int TakeNext();

private:
    // Starts what fits and takes each fetch as far as it goes without
    // waiting; true when one may go on at once.
    bool Advance();
    // Waits for a step to end, or for the first limit to be up.
    void Wait();
    void Abandon();

    InstallerForm& form_;  // borrowed
    const int inFlight_;
    std::unique_ptr<FetchSession> session_;  // made with the first fetch
    std::vector<std::unique_ptr<FileFetch>> files_;  // after the session, so that they close first
    size_t next_ = 0;     // the first not taken
    size_t started_ = 0;  // those before it have started
    int underWay_ = 0;
};

}  // namespace engine
