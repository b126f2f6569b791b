// What the manifest says of each file beside listing it: its size and SHA-256
// (section [FileHashes], "<entry>=<size> <64 hex digits>"), and the number of
// the release (section [Release], "Number=<n>"). Sites without them list files
// only.
#pragma once

#include "engine/cng.h"
#include "runtime/string_list.h"

#include <map>
#include <string>

namespace engine {

struct ListedFile {
    long long size = 0;
    Sha256Digest sha256{};
};

class FileHashes {
public:
    // Reads both sections of manifest. A line that is not of the form above,
    // names an entry twice (both are dropped), or gives a size over the copy
    // limit is counted as malformed and gives its entry no hash.
    static FileHashes Read(const runtime::TStringList& manifest);

    bool HasSection() const { return hasSection_; }
    int MalformedLines() const { return malformedLines_; }
    // The size and hash given for entry, matched byte for byte; nullptr when
    // it has no well-formed line.
    const ListedFile* Find(const std::string& entry) const;
    // The release number, or 0 when the manifest gives none (or a malformed one).
    long long ReleaseNumber() const { return release_; }

private:
    std::map<std::string, ListedFile> files_;
    bool hasSection_ = false;
    int malformedLines_ = 0;
    long long release_ = 0;
};

// Whether the file at path has exactly the listed size and hash; false when it
// is missing or cannot be read.
bool FileMatches(const std::string& path, const ListedFile& listed);

}  // namespace engine
