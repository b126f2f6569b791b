#include "engine/download.h"

#include "engine/fetch_set.h"

#include <string>

namespace engine {

namespace {

// The file that the progress names: one FetchingFile at a time, on the one
// thread that fetches.
const FetchingFile* gFetchingFile = nullptr;

}  // namespace

FetchingFile::FetchingFile(const std::string& entry, int index, int count)
    : entry(entry), index(index), count(count), previous_(gFetchingFile) {
    gFetchingFile = this;
}

FetchingFile::~FetchingFile() { gFetchingFile = previous_; }

int DownloadFile(InstallerForm& form, const std::string& url, const std::string& localPath,
                 const ListedFile* expected, Placement placement) {
    // A set of one, as the run's files come in a set of several.
    FetchSet set(form, 1);
    const FetchingFile* file = gFetchingFile;
    set.Queue({url, localPath, expected, file != nullptr ? file->entry : std::string(),
               file != nullptr ? file->index : 0, file != nullptr ? file->count : 0, placement});
    return set.TakeNext();
}

}  // namespace engine
