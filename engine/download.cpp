#include "engine/download.h"

#include "engine/folders.h"
#include "engine/partial_file.h"
#include "engine/timed_fetch.h"
#include "runtime/file_system.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace engine {

namespace {

bool writeFailsForTesting = false;
long long copyLimitForTesting = 0;

// Each read is a round trip through the HTTP client that costs far more than
// copying the bytes (about 0.2 ms under Wine): few large reads keep a fast link
// fast. A body announced as small gets a small block, so that the many small
// files of a product cost no large allocation each.
// The copy limit stays that of 100000 reads of 10240 bytes.
constexpr DWORD kSmallBlockSize = 64 * 1024;
constexpr DWORD kLargeBlockSize = 1024 * 1024;

// Whether WinINet can fetch url over HTTP at all. It refuses other URLs at
// once in a synchronous session, but an asynchronous one may never report the
// refusal.
bool IsHttpUrl(const std::string& url) {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    if (url.size() > MAXDWORD || !InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return false;
    }
    return parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
}

// The final status of the response; 0 when the client cannot tell.
DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) {
        return 0;
    }
    return status;
}

// The announced Content-Length, or -1 for a body that ends when the
// connection closes or with its last chunk. Read as text: the numeric form
// stops at 4 GiB.
long long ContentLength(HINTERNET request) {
    char text[32] = {};
    DWORD size = sizeof(text) - 1;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return -1;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text) return -1;
    return value > static_cast<unsigned long long>(kDownloadByteLimit) ? kDownloadByteLimit + 1
                                                                       : static_cast<long long>(value);
}

// The file that the progress names: one FetchingFile at a time, on the one
// thread that fetches.
const FetchingFile* gFetchingFile = nullptr;

// Reports how far one file has come.
class ProgressReport {
public:
    ProgressReport(InstallerForm& form, const std::string& localPath, long long announced)
        : form_(form), localPath_(localPath), announced_(announced) {}

    void Show(long long received) const {
        const FetchingFile* file = gFetchingFile;
        form_.ShowFileProgress({file != nullptr ? file->entry : localPath_, received, announced_,
                                file != nullptr ? file->index : 0, file != nullptr ? file->count : 0});
    }

private:
    InstallerForm& form_;
    const std::string& localPath_;
    const long long announced_;
};

// Copies the rest of the body into file, adding each block to hash when there
// is one, and returns its byte count; -1 when a read or a write fails or the
// site stays silent too long, -2 when the body grows past limit.
long long CopyBody(TimedFetch& fetch, HANDLE file, const ProgressReport& progress, Sha256* hash, long long limit) {
    long long total = 0;
    progress.Show(0);
    int block = 0;
    fetch.BeginRead(block);
    for (;;) {
        DWORD received = 0;
        // A dropped connection also ends with 0 bytes: the caller compares the length.
        if (fetch.EndRead(received) != Step::Done) return -1;
        if (received == 0) return total;
        if (total + received > limit) return -2;
        // The next read is under way while this block is hashed and written:
        // what comes meanwhile is there for it when this one is done.
        fetch.BeginRead(1 - block);
        const char* data = fetch.Block(block);
        if (hash != nullptr) hash->Add(data, received);
        DWORD written = 0;
        if (writeFailsForTesting || !WriteFile(file, data, received, &written, nullptr) || written != received) {
            return -1;
        }
        total += received;
        progress.Show(total);
        block = 1 - block;
    }
}

}  // namespace

void SetWriteFailureForTesting(bool fail) { writeFailsForTesting = fail; }
void SetCopyLimitForTesting(long long bytes) { copyLimitForTesting = bytes; }

FetchingFile::FetchingFile(const std::string& entry, int index, int count)
    : entry(entry), index(index), count(count), previous_(gFetchingFile) {
    gFetchingFile = this;
}

FetchingFile::~FetchingFile() { gFetchingFile = previous_; }

int DownloadFile(InstallerForm& form, const std::string& url, const std::string& localPath,
                 const ListedFile* expected) {
    if (url.empty() || localPath.empty()) return kDownloadEmpty;

    TimedFetch fetch(form);
    if (!fetch.OpenSession()) return kDownloadNoSession;
    if (!IsHttpUrl(url) || fetch.OpenUrl(url) != Step::Done) return kDownloadNotOpened;
    // Never back down from HTTPS to plain HTTP within a fetch, and never to
    // it at all in a build for an HTTPS site.
    if ((form.SiteOverHttps() || fetch.WentOverHttps()) && !fetch.EndedOverHttps()) return kDownloadNotOpened;

    // When the folder cannot be made, the log says so and the probe fails.
    // A target that can never be written fails here, whatever the server answers.
    CheckDirectory(form, runtime::ExtractDir(localPath), true);
    ProbeTarget(localPath);

    // An error page is not the file asked for.
    DWORD status = StatusCode(fetch.Request());
    if (status < 200 || status > 299) return kDownloadNotOpened;
    long long announced = ContentLength(fetch.Request());
    if (announced > kDownloadByteLimit) return kDownloadIncomplete;
    // A file of another length than listed is not the one listed.
    if (expected != nullptr && announced >= 0 && announced != expected->size) return kDownloadDamaged;
    fetch.AllocateBlocks(announced >= 0 && announced <= kSmallBlockSize ? kSmallBlockSize : kLargeBlockSize);

    // In the target's own folder, so that the final move never crosses volumes.
    PartialFile partial(localPath);
    std::optional<Sha256> hash;
    if (expected != nullptr) hash.emplace();
    // A body that grows past the listed size is damaged, however long it would go on.
    const long long copyLimit = copyLimitForTesting > 0 ? copyLimitForTesting : kDownloadByteLimit;
    const long long limit = expected != nullptr ? expected->size : copyLimit;
    const long long total =
        CopyBody(fetch, partial.Handle(), ProgressReport(form, localPath, announced), hash ? &*hash : nullptr, limit);
    if (total == -2 && expected != nullptr) return kDownloadDamaged;
    if (total < 0) return kDownloadIncomplete;
    if (announced >= 0 && total != announced) return kDownloadIncomplete;
    if (expected != nullptr && (total != expected->size || hash->Finish() != expected->sha256)) return kDownloadDamaged;
    if (total == 0) return kDownloadEmpty;

    fetch.CloseRequest();
    if (!partial.Close()) return kDownloadIncomplete;
    partial.ReplaceTarget();
    return static_cast<int>(total);
}

}  // namespace engine
