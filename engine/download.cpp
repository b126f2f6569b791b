#include "engine/download.h"

#include "engine/activity_log.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/narrow_text.h"
#include "runtime/unique_handle.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace engine {

using runtime::CannotCreateFile;
using runtime::UniqueFileHandle;
using runtime::UniqueInternetHandle;

namespace {

// Each read is a round trip through the HTTP client that costs far more than
// copying the bytes (about 0.2 ms under Wine): few large reads keep a fast link
// fast. A body announced as small gets a small block, so that the many small
// files of a product cost no large allocation each.
// The copy limit stays that of 100000 reads of 10240 bytes.
constexpr DWORD kSmallBlockSize = 64 * 1024;
constexpr DWORD kLargeBlockSize = 1024 * 1024;
// Always from the server, and never into the cache.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE;
static_assert(kOpenUrlFlags == 0x8C000000);
// The ANSI file functions take paths of up to MAX_PATH - 1 characters.
constexpr size_t kLongestPath = MAX_PATH - 1;

std::atomic<DWORD> gTransferTimeoutMs{kTransferTimeoutMs};

// Waiting for the site with a time limit.
//
// WinINet's own time-outs are not honoured everywhere (Wine ignores them), and
// a blocked synchronous call cannot be woken from outside. So the session is
// asynchronous: each step that has to wait for the site returns
// ERROR_IO_PENDING, a WinINet thread reports its end through the status
// callback, and the fetching thread waits for that report with the limit.

// What the status callback and the fetching thread share for one fetch. The
// callback finds it by its number (the context value WinINet passes back), and
// only while it is listed: a callback that comes after the fetch has ended
// finds nothing instead of freed memory.
struct Transfer {
    DWORD_PTR id = 0;
    Transfer* next = nullptr;                 // in the list of transfers
    UniqueFileHandle completed;               // an event, set at each INTERNET_STATUS_REQUEST_COMPLETE
    std::atomic<DWORD> lastSignOfLife{0};     // GetTickCount() when the site last answered
    std::atomic<DWORD_PTR> result{0};         // of the step that completed last
    std::atomic<HINTERNET> created{nullptr};  // the request handle, as soon as WinINet makes it
    // A read given up while WinINet may still fill the block: the callback
    // frees the transfer when this handle has closed.
    HINTERNET abandoned = nullptr;
    std::unique_ptr<char[]> block;
    DWORD blockSize = 0;
    INTERNET_BUFFERSA buffers{};
};

// The transfers the callback may reach, under one lock. Plain globals with no
// destructor: a WinINet thread may still call back while the process ends.
SRWLOCK gTransfersLock = SRWLOCK_INIT;
Transfer* gTransfers = nullptr;
DWORD_PTR gLastTransferId = 0;

class TransfersLock {
public:
    TransfersLock() { AcquireSRWLockExclusive(&gTransfersLock); }
    TransfersLock(const TransfersLock&) = delete;
    TransfersLock& operator=(const TransfersLock&) = delete;
    ~TransfersLock() { ReleaseSRWLockExclusive(&gTransfersLock); }
};

// These three with the lock held.
void List(Transfer& transfer) {
    // Never 0: WinINet makes no callbacks for a context of 0.
    if (++gLastTransferId == 0) ++gLastTransferId;
    transfer.id = gLastTransferId;
    transfer.next = gTransfers;
    gTransfers = &transfer;
}

void Unlist(const Transfer& transfer) {
    for (Transfer** link = &gTransfers; *link != nullptr; link = &(*link)->next) {
        if (*link == &transfer) {
            *link = transfer.next;
            return;
        }
    }
}

Transfer* Listed(DWORD_PTR id) {
    for (Transfer* transfer = gTransfers; transfer != nullptr; transfer = transfer->next) {
        if (transfer->id == id) return transfer;
    }
    return nullptr;
}

// Runs on WinINet's threads: touches only the listed transfer, never throws.
void CALLBACK OnInternetStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                               DWORD infoLength) noexcept {
    TransfersLock lock;
    Transfer* transfer = Listed(context);
    if (transfer == nullptr) return;
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        // The handle comes first in what info points to.
        if (info != nullptr && infoLength >= sizeof(HINTERNET)) transfer->created = *static_cast<HINTERNET*>(info);
        break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        transfer->lastSignOfLife = GetTickCount();
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info != nullptr && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
            transfer->result = static_cast<const INTERNET_ASYNC_RESULT*>(info)->dwResult;
        }
        transfer->lastSignOfLife = GetTickCount();
        SetEvent(transfer->completed.get());
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        // The last callback for the handle: nothing writes into the block after it.
        if (transfer->abandoned != nullptr && handle == transfer->abandoned) {
            Unlist(*transfer);
            delete transfer;
        }
        break;
    default:
        break;
    }
}

enum class Step { Done, Failed, TimedOut };

// One fetch over an asynchronous session, driven as a synchronous one: each
// call returns when its step is done, has failed, or the site has been silent
// for the whole time limit.
class TimedFetch {
public:
    TimedFetch() : transfer_(new Transfer) {
        transfer_->completed.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        TransfersLock lock;
        List(*transfer_);
    }
    TimedFetch(const TimedFetch&) = delete;
    TimedFetch& operator=(const TimedFetch&) = delete;

    ~TimedFetch() {
        if (readPending_) {
            // WinINet may still write into the block: the callback frees the
            // transfer once the request handle has closed.
            {
                TransfersLock lock;
                transfer_->abandoned = request_.get();
            }
            transfer_.release();
            request_.reset();
            session_.reset();
            return;
        }
        request_.reset();
        session_.reset();
        TransfersLock lock;
        Unlist(*transfer_);
    }

    bool OpenSession() {
        if (!transfer_->completed) return false;
        session_.reset(InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
        if (!session_) return false;
        return InternetSetStatusCallbackA(session_.get(), OnInternetStatus) != INTERNET_INVALID_STATUS_CALLBACK;
    }

    // Connects, sends the request and receives the response head.
    Step OpenUrl(const std::string& url) {
        Transfer& transfer = *transfer_;
        transfer.lastSignOfLife = GetTickCount();
        HINTERNET opened = InternetOpenUrlA(session_.get(), url.c_str(), nullptr, 0, kOpenUrlFlags, transfer.id);
        if (opened == nullptr) {
            if (GetLastError() != ERROR_IO_PENDING) return Step::Failed;
            const bool completed = AwaitCompletion();
            opened = reinterpret_cast<HINTERNET>(transfer.result.load());
            if (!completed || opened == nullptr) {
                // A request that WinINet made but did not finish is ours to close.
                request_.reset(transfer.created.exchange(nullptr));
                return completed ? Step::Failed : Step::TimedOut;
            }
        }
        request_.reset(opened);
        return Step::Done;
    }

    HINTERNET Request() const { return request_.get(); }

    void AllocateBlock(DWORD size) {
        transfer_->block.reset(new char[size]);
        transfer_->blockSize = size;
    }

    // Reads what the site has sent so far into the block, waiting while it
    // has sent nothing new; 0 bytes at the end of the body.
    Step Read(DWORD& received) {
        Transfer& transfer = *transfer_;
        for (;;) {
            transfer.buffers = {};
            transfer.buffers.dwStructSize = sizeof(transfer.buffers);
            transfer.buffers.lpvBuffer = transfer.block.get();
            transfer.buffers.dwBufferLength = transfer.blockSize;
            if (InternetReadFileExA(request_.get(), &transfer.buffers, IRF_ASYNC | IRF_NO_WAIT, transfer.id)) {
                received = transfer.buffers.dwBufferLength;
                return Step::Done;
            }
            if (GetLastError() != ERROR_IO_PENDING) return Step::Failed;
            // Nothing there yet: WinINet reports when more has come.
            readPending_ = true;
            transfer.lastSignOfLife = GetTickCount();
            if (!AwaitCompletion()) return Step::TimedOut;
            readPending_ = false;
            if (transfer.result.load() == 0) return Step::Failed;
        }
    }

    const char* Block() const { return transfer_->block.get(); }

    void CloseRequest() { request_.reset(); }

private:
    // Waits for the pending step while the site keeps showing signs of life;
    // false once it has been silent for the whole limit.
    bool AwaitCompletion() {
        const DWORD limit = gTransferTimeoutMs;
        for (;;) {
            // Unsigned differences stay right across the tick count's wrap.
            const DWORD silent = GetTickCount() - transfer_->lastSignOfLife.load();
            if (static_cast<LONG>(silent) >= static_cast<LONG>(limit)) return false;
            const DWORD wait = static_cast<LONG>(silent) < 0 ? limit : limit - silent;
            const DWORD waited = WaitForSingleObject(transfer_->completed.get(), wait);
            if (waited == WAIT_OBJECT_0) return true;
            if (waited != WAIT_TIMEOUT) return false;
        }
    }

    std::unique_ptr<Transfer> transfer_;
    UniqueInternetHandle session_;
    UniqueInternetHandle request_;  // after the session, so that it closes first
    bool readPending_ = false;
};

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
// connection closes. Read as text: the numeric form stops at 4 GiB.
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

bool HasFileName(const std::string& path) {
    char last = path.back();
    return last != '\\' && last != '/' && last != ':';
}

// Fails the way creating the target would, before a byte is fetched: a file
// that is open elsewhere, read-only, or a folder cannot be replaced later.
void ProbeTarget(const std::string& target) {
    UniqueFileHandle probe(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD code = probe ? ERROR_SUCCESS : GetLastError();
    if (!HasFileName(target)) {
        throw CannotCreateFile(target, code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_NAME : code);
    }
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) throw CannotCreateFile(target, code);
}

// A partial body beside the target; removed unless it has been moved into place.
class PartialFile {
public:
    explicit PartialFile(std::string path) : path_(std::move(path)) {}
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile() {
        if (!committed_) DeleteFileA(path_.c_str());
    }
    const std::string& Path() const { return path_; }
    void Commit() { committed_ = true; }

private:
    std::string path_;
    bool committed_ = false;
};

// Copies the rest of the body into file and returns its byte count, or -1 when
// a read or a write fails, the site stays silent too long, or the body grows
// past the copy limit.
long long CopyBody(TimedFetch& fetch, HANDLE file) {
    long long total = 0;
    for (;;) {
        DWORD received = 0;
        // A dropped connection also ends with 0 bytes: the caller compares the length.
        if (fetch.Read(received) != Step::Done) return -1;
        if (received == 0) return total;
        if (total + received > kDownloadByteLimit) return -1;
        DWORD written = 0;
        if (!WriteFile(file, fetch.Block(), received, &written, nullptr) || written != received) return -1;
        total += received;
    }
}

// A name as long as name, of "~" and letters and digits that a hash of name
// picks: for a target whose usual temporary name would not fit the path limit.
std::string ShortPartialName(const std::string& name) {
    // FNV-1a over the name, its ASCII letters folded: file names ignore case.
    std::uint64_t hash = 14695981039346656037ULL;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string shortName = "~";
    for (int i = 0; i < 13 && shortName.size() < name.size(); ++i, hash >>= 5) shortName += kDigits[hash & 31];
    if (runtime::EqualsIgnoringCase(shortName, name)) shortName[0] = '$';
    return shortName;
}

}  // namespace

void SetTransferTimeoutForTesting(int milliseconds) {
    gTransferTimeoutMs = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : static_cast<DWORD>(kTransferTimeoutMs);
}

std::string PartialPathFor(const std::string& target) {
    const size_t cut = target.find_last_of("\\/:");
    const size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
    const std::string name = target.substr(nameStart);
    std::string partial = target + ".~part";
    if (partial.size() <= kLongestPath || name.empty()) return partial;
    return target.substr(0, nameStart) + ShortPartialName(name);
}

bool CheckDirectory(InstallerForm& form, const std::string& dir, bool report) {
    if (runtime::DirectoryExists(dir)) return true;
    // Its result is not trusted: the test below is what counts.
    runtime::ForceDirectories(dir);
    if (runtime::DirectoryExists(dir)) return true;
    if (report) LogMessage(form, "Не могу создать директорию - " + dir);
    return false;
}

int DownloadFile(InstallerForm& form, const std::string& url, const std::string& localPath) {
    if (url.empty() || localPath.empty()) return kDownloadEmpty;

    TimedFetch fetch;
    if (!fetch.OpenSession()) return kDownloadNoSession;
    if (!IsHttpUrl(url) || fetch.OpenUrl(url) != Step::Done) return kDownloadNotOpened;

    // When the folder cannot be made, the log says so and the probe fails.
    // A target that can never be written fails here, whatever the server answers.
    CheckDirectory(form, runtime::ExtractDir(localPath), true);
    ProbeTarget(localPath);

    // An error page is not the file asked for.
    DWORD status = StatusCode(fetch.Request());
    if (status < 200 || status > 299) return kDownloadNotOpened;
    long long announced = ContentLength(fetch.Request());
    if (announced > kDownloadByteLimit) return kDownloadIncomplete;
    fetch.AllocateBlock(announced >= 0 && announced <= kSmallBlockSize ? kSmallBlockSize : kLargeBlockSize);

    // In the target's own folder, so that the final move never crosses volumes.
    PartialFile partial(PartialPathFor(localPath));
    UniqueFileHandle file(CreateFileA(partial.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD code = GetLastError();
        throw CannotCreateFile(localPath, code);
    }

    const long long total = CopyBody(fetch, file.get());
    if (total < 0) return kDownloadIncomplete;
    if (announced >= 0 && total != announced) return kDownloadIncomplete;
    if (total == 0) return kDownloadEmpty;

    fetch.CloseRequest();
    if (!CloseHandle(file.release())) return kDownloadIncomplete;
    if (!MoveFileExA(partial.Path().c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        throw CannotCreateFile(localPath, code);
    }
    partial.Commit();
    return static_cast<int>(total);
}

}  // namespace engine
