#include "engine/timed_fetch.h"

#include "engine/download.h"
#include "runtime/unique_handle.h"

#include <atomic>
#include <cstring>

namespace engine {

// Waiting for the site with a time limit.
//
// WinINet's own time-outs are not honoured everywhere (Wine ignores them), and
// a blocked synchronous call cannot be woken from outside. So the session is
// asynchronous: each step that has to wait for the site returns
// ERROR_IO_PENDING, a WinINet thread reports its end through the status
// callback, and the fetching thread looks at its steps whenever the one
// completion event is set, or when the first of their limits is up.
//
// Who owns what:
// - A Transfer is what the callback and the fetching thread share for one
//   fetch. The fetching thread owns it through TimedFetch, and lists it under
//   gTransfersLock; the callback finds it by its number (the context value
//   WinINet passes back) and only while it is listed, so a callback that
//   comes after the fetch has ended finds nothing instead of freed memory.
// - While a read is pending, WinINet may write into the transfer's blocks at
//   any moment. A fetch that ends then (given up at the time limit, or
//   abandoned with the rest of a set) does not free the transfer: it marks it
//   abandoned with its request handle and lets go of it; the callback frees
//   it at INTERNET_STATUS_HANDLE_CLOSING of that handle, the last callback
//   WinINet makes for it, after which nothing writes into the blocks.
// - The completion event is shared by every fetch and never closed: a
//   callback for a fetch long gone may still set it, which only makes the
//   fetching thread look once more.
// - The lock is never held while calling WinINet: WinINet may run the
//   callback on the calling thread before the call returns (closing a handle
//   reports HANDLE_CLOSING), the callback takes the lock, and an SRW lock is
//   not re-entrant.

namespace {

std::atomic<DWORD> gTransferTimeoutMs{kTransferTimeoutMs};

// With IRF_NO_WAIT, a read that went pending completes without filling the
// block ("If IRF_NO_WAIT is used, buffer is not changed", as WinINet behaves
// on Windows), and the next read returns the data: which is why EndRead reads
// again after each completion. Without it, the completion would fill the
// block and the read again would lose those bytes.
constexpr DWORD kReadFlags = IRF_ASYNC | IRF_NO_WAIT;
static_assert((kReadFlags & IRF_NO_WAIT) != 0, "EndRead reads again after a completion: the completion must not fill the block");
// Always from the server, and never into the cache.
// A site that moves itself from HTTP up to HTTPS is followed (WinINet on
// Windows may stop at such a redirect otherwise); the way back down is never
// let through (download.cpp).
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
static_assert(kOpenUrlFlags == 0x8C004000);
// No INTERNET_FLAG_IGNORE_CERT_* and no SECURITY_FLAG_IGNORE_*: WinINet's own
// certificate checks decide, and a certificate it refuses fails the open.

// The WinINet error of the last open that failed, for tests.
std::atomic<DWORD> gLastOpenError{ERROR_SUCCESS};

// Made once by the fetching thread before any callback can run; never closed.
std::atomic<HANDLE> gCompletionEvent{nullptr};

bool IsHttpsUrl(const char* url) { return _strnicmp(url, "https:", 6) == 0; }

}  // namespace

struct Transfer {
    DWORD_PTR id = 0;
    Transfer* next = nullptr;                 // in the list of transfers
    std::atomic<bool> ended{false};           // set at each INTERNET_STATUS_REQUEST_COMPLETE
    std::atomic<DWORD> lastSignOfLife{0};     // GetTickCount() when the site last answered
    std::atomic<DWORD_PTR> result{0};         // of the step that completed last
    std::atomic<DWORD> error{ERROR_SUCCESS};  // of the step that completed last
    std::atomic<HINTERNET> created{nullptr};  // the request handle, as soon as WinINet makes it
    std::atomic<bool> overHttps{false};       // the URL, or a redirect, was https://
    // A read given up while WinINet may still fill the block: the callback
    // frees the transfer when this handle has closed.
    HINTERNET abandoned = nullptr;
    std::unique_ptr<char[]> blocks[2];
    DWORD blockSize = 0;
    INTERNET_BUFFERSA buffers{};
};

namespace {

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
    // Each connection attempt counts: name look-up, proxy detection and
    // several addresses tried in turn share one time limit otherwise.
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        transfer->lastSignOfLife = GetTickCount();
        break;
    // The site has answered, and WinINet follows it: info is the new URL.
    case INTERNET_STATUS_REDIRECT:
        if (info != nullptr && infoLength > 0 && IsHttpsUrl(static_cast<const char*>(info))) transfer->overHttps = true;
        transfer->lastSignOfLife = GetTickCount();
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info != nullptr && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
            const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            transfer->result = outcome->dwResult;
            transfer->error = outcome->dwError;
        }
        transfer->lastSignOfLife = GetTickCount();
        transfer->ended = true;
        SetEvent(gCompletionEvent.load());
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

}  // namespace

void SetTransferTimeoutForTesting(int milliseconds) {
    gTransferTimeoutMs = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : static_cast<DWORD>(kTransferTimeoutMs);
}

DWORD LastOpenErrorForTesting() { return gLastOpenError; }

HINTERNET RequestOfCompletedOpen(DWORD_PTR result, DWORD error, HINTERNET created) {
    if (error != ERROR_SUCCESS || result == FALSE) return nullptr;
    // The documented Boolean: the handle is the one WinINet announced, if any.
    if (result == TRUE) return created;
    return reinterpret_cast<HINTERNET>(result);
}

HANDLE CompletionEvent() {
    if (gCompletionEvent.load() == nullptr) gCompletionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return gCompletionEvent.load();
}

FetchSession::FetchSession() {
    if (CompletionEvent() == nullptr) return;
    // For the process, as WinINet keeps it; HTTP/1.0 servers alike.
    DWORD connections = kConnectionsPerServer;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof connections);
    UniqueInternetHandle session(InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!session) return;
    if (InternetSetStatusCallbackA(session.get(), OnInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK) return;
    session_ = std::move(session);
}

TimedFetch::TimedFetch(const FetchSession& session) : transfer_(new Transfer), session_(session) {
    TransfersLock lock;
    List(*transfer_);
}

TimedFetch::~TimedFetch() {
    if (readPending_) {
        // WinINet may still write into the blocks: the callback frees the
        // transfer once the request handle has closed.
        {
            TransfersLock lock;
            transfer_->abandoned = request_.get();
        }
        transfer_.release();
        request_.reset();
        return;
    }
    {
        TransfersLock lock;
        Unlist(*transfer_);
    }
    // An open still under way writes into nothing of ours; the request it
    // has made, if WinINet has said so, is ours to close (the session closes
    // one that it has not announced yet).
    if (openPending_) request_.reset(transfer_->created.exchange(nullptr));
    request_.reset();
}

void TimedFetch::BeginOpen(const std::string& url) {
    Transfer& transfer = *transfer_;
    ForgetEarlierCompletions();
    transfer.overHttps = IsHttpsUrl(url.c_str());
    transfer.lastSignOfLife = GetTickCount();
    gLastOpenError = ERROR_SUCCESS;
    stepEnded_ = true;
    HINTERNET opened = InternetOpenUrlA(session_.get(), url.c_str(), nullptr, 0, kOpenUrlFlags, transfer.id);
    if (opened != nullptr) {
        request_.reset(opened);
        endedStep_ = Step::Done;
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        gLastOpenError = error;
        endedStep_ = Step::Failed;
        return;
    }
    stepEnded_ = false;
    openPending_ = true;
}

Step TimedFetch::EndOpen() {
    if (stepEnded_) return endedStep_;
    const Step step = Poll();
    if (step == Step::Pending) return step;
    Transfer& transfer = *transfer_;
    openPending_ = false;
    stepEnded_ = true;
    HINTERNET created = transfer.created.exchange(nullptr);
    HINTERNET opened = step == Step::Done ? RequestOfCompletedOpen(transfer.result, transfer.error, created) : nullptr;
    if (opened == nullptr) {
        // A request that WinINet made but did not finish is ours to close.
        request_.reset(created);
        gLastOpenError = step == Step::Done ? transfer.error.load() : static_cast<DWORD>(ERROR_INTERNET_TIMEOUT);
        endedStep_ = step == Step::Done ? Step::Failed : Step::TimedOut;
        return endedStep_;
    }
    request_.reset(opened);
    endedStep_ = Step::Done;
    return endedStep_;
}

bool TimedFetch::WentOverHttps() const { return transfer_->overHttps; }

bool TimedFetch::EndedOverHttps() const {
    char url[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD size = INTERNET_MAX_URL_LENGTH;
    if (!InternetQueryOptionA(request_.get(), INTERNET_OPTION_URL, url, &size)) return false;
    return IsHttpsUrl(url);
}

void TimedFetch::AllocateBlocks(DWORD size) {
    for (auto& block : transfer_->blocks) block.reset(new char[size]);
    transfer_->blockSize = size;
}

void TimedFetch::BeginRead(int block) {
    Transfer& transfer = *transfer_;
    readBlock_ = block;
    transfer.buffers = {};
    transfer.buffers.dwStructSize = sizeof(transfer.buffers);
    transfer.buffers.lpvBuffer = transfer.blocks[block].get();
    transfer.buffers.dwBufferLength = transfer.blockSize;
    ForgetEarlierCompletions();
    stepEnded_ = true;
    if (InternetReadFileExA(request_.get(), &transfer.buffers, kReadFlags, transfer.id)) {
        endedStep_ = Step::Done;
        readBytes_ = transfer.buffers.dwBufferLength;
        return;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        endedStep_ = Step::Failed;
        return;
    }
    // Nothing there yet: WinINet reports when more has come, meanwhile the
    // caller takes the block before.
    stepEnded_ = false;
    readPending_ = true;
    transfer.lastSignOfLife = GetTickCount();
}

Step TimedFetch::EndRead(DWORD& received) {
    while (!stepEnded_) {
        const Step step = Poll();
        if (step != Step::Done) return step;
        readPending_ = false;
        if (transfer_->error != ERROR_SUCCESS) {
            stepEnded_ = true;
            endedStep_ = Step::Failed;
            break;
        }
        BeginRead(readBlock_);
    }
    received = readBytes_;
    return endedStep_;
}

const char* TimedFetch::Block(int block) const { return transfer_->blocks[block].get(); }

void TimedFetch::ForgetEarlierCompletions() {
    transfer_->ended = false;
    transfer_->result = 0;
    transfer_->error = ERROR_SUCCESS;
}

Step TimedFetch::Poll() const {
    // A step that has ended counts, however long it has waited to be looked at.
    if (transfer_->ended.load()) return Step::Done;
    return TimeLeftMs() == 0 ? Step::TimedOut : Step::Pending;
}

DWORD TimedFetch::TimeLeftMs() const {
    const DWORD limit = gTransferTimeoutMs;
    // Unsigned differences stay right across the tick count's wrap.
    const DWORD silent = GetTickCount() - transfer_->lastSignOfLife.load();
    if (static_cast<LONG>(silent) < 0) return limit;
    return silent >= limit ? 0 : limit - silent;
}

}  // namespace engine
