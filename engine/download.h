// Fetching one HTTP or HTTPS URL into one local file.
#pragma once

#include "engine/file_hashes.h"
#include "engine/installer_form.h"
#include "engine/partial_file.h"

#include <string>

namespace engine {

// Results of DownloadFile below 1.
constexpr int kDownloadEmpty = 0;          // empty URL, path or body; nothing written
constexpr int kDownloadNotOpened = -1;     // URL not opened (also for a certificate refused or a redirect
                                           // down to plain HTTP), no answer in time, or a status other than 2xx
constexpr int kDownloadNoSession = -2;     // no internet session
constexpr int kDownloadIncomplete = -3;    // cut off, silent too long, failed read or write, or too long
constexpr int kDownloadDamaged = -4;       // not the size and hash that the manifest lists

// Most bytes copied into one file (100000 reads of 10240 bytes).
constexpr long long kDownloadByteLimit = 100000LL * 10240;

// The longest the site may stay silent: to accept the connection, to send the
// response head, and before each further piece of the body. A site that keeps
// sending, however slowly, is never cut off. Past it the fetch fails as a
// cut-off body does. The same 30 s that WinINet waits on Windows by itself.
constexpr int kTransferTimeoutMs = 30000;
// Tests shorten the limit; 0 restores kTransferTimeoutMs.
void SetTransferTimeoutForTesting(int milliseconds);
// The WinINet error of the last URL that did not open (a certificate that
// WinINet refused, say), ERROR_SUCCESS after one that opened; for tests, as
// the log never shows it.
unsigned long LastOpenErrorForTesting();

// Tests lower the copy limit for bodies sent without a Content-Length; 0
// restores kDownloadByteLimit.
void SetCopyLimitForTesting(long long bytes);
// Tests make every write of a body fail, as on a full disk; false restores
// the real writes.
void SetWriteFailureForTesting(bool fail);

// Copies the body of url into localPath and returns its byte count, or a
// result above. The body goes to PartialPathFor(localPath), which replaces the
// target only when it is complete: on any failure (a site silent for longer
// than the limit, a full disk, a body shorter than its Content-Length, a read
// that WinINet reports failed) the target stays as it was and the temporary
// file is removed. Blocks until done. Throws EFCreateError when the file
// cannot be created or the target cannot be replaced (also after waiting
// kHeldFileRetryMs for a target that another program holds).
//
// What cannot be told from a complete body: one without a Content-Length
// whose connection the server closes early (a reset fails the read), and a
// chunked one whose connection closes before its last (empty) chunk, where
// WinINet reports a clean end (Wine does, also for a chunk cut in the
// middle). Such a body counts as complete, with the bytes that came; only a
// check of the file's contents against a known hash can catch it: given
// expected, the body replaces the target only when it has exactly that size
// and SHA-256, and kDownloadDamaged is returned otherwise. The hash is taken
// block by block as the body arrives, never by reading the file again.
//
// With Placement::KeepStaged the complete (and checked) body stays at
// PartialPathFor(localPath) for the caller to put in place, and the target is
// only probed.
//
// Reports how far the body has come to form.ShowFileProgress, naming the file
// as the FetchingFile in scope does (without one: the local path, no place).
enum class Placement { ReplaceTarget, KeepStaged };
int DownloadFile(InstallerForm& form, const std::string& url, const std::string& localPath,
                 const ListedFile* expected = nullptr, Placement placement = Placement::ReplaceTarget);

// Names the file that DownloadFile fetches while this lives, with its place
// in the run's list (count 0 before the list is known). One at a time, on the
// thread that fetches.
class FetchingFile {
public:
    FetchingFile(const std::string& entry, int index, int count);
    FetchingFile(const FetchingFile&) = delete;
    FetchingFile& operator=(const FetchingFile&) = delete;
    ~FetchingFile();

    const std::string entry;
    const int index;
    const int count;

private:
    const FetchingFile* previous_;
};

}  // namespace engine
