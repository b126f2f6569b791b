#include "engine/fetch_set.h"

#include "engine/folders.h"
#include "engine/partial_file.h"
#include "engine/timed_fetch.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

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

// Each fetch under way has a connection of its own.
static_assert(kFetchesInFlight <= static_cast<int>(kConnectionsPerServer));

// A fetch that keeps finding its body there takes this many blocks in a row
// before the others get their turn: a site that waits for them to be read
// must not see them as silent.
constexpr int kBlocksInARow = 8;

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

}  // namespace

void SetWriteFailureForTesting(bool fail) { writeFailsForTesting = fail; }
void SetCopyLimitForTesting(long long bytes) { copyLimitForTesting = bytes; }

// One file of a set, from its queueing to its result: each call takes it as
// far as it goes without waiting for the site.
class FileFetch {
public:
    explicit FileFetch(QueuedFile file) : file_(std::move(file)) {}
    FileFetch(const FileFetch&) = delete;
    FileFetch& operator=(const FileFetch&) = delete;

    bool UnderWay() const { return state_ == State::Opening || state_ == State::Reading; }
    bool Finished() const { return state_ == State::Finished; }
    DWORD TimeLeftMs() const { return fetch_ ? fetch_->TimeLeftMs() : 0; }

    // Starts the fetch over session (nullptr when none could be had).
    void Start(const FetchSession* session);
    // Takes the fetch on; true when it may go on at once. Shows its progress
    // when shown is set.
    bool Advance(InstallerForm& form, bool shown);
    // Shows how far the fetch has come, as the file that the run waits for.
    void ShowProgress(InstallerForm& form) const;
    // Its result, once finished: the target replaced for a success, and a
    // failure to make its folder logged; rethrows what the fetch threw.
    int Take(InstallerForm& form);

private:
    enum class State { Queued, Opening, Reading, Finished };

    void OnHead(InstallerForm& form, bool shown);
    bool OnBody(InstallerForm& form, bool shown);
    void OnEnd();
    void Finish(int result);
    void Show(InstallerForm& form, long long received) const;

    const QueuedFile file_;
    State state_ = State::Queued;
    std::unique_ptr<TimedFetch> fetch_;
    // The partial file names file_.localPath, which outlives it.
    std::optional<PartialFile> partial_;
    std::optional<Sha256> hash_;
    long long announced_ = -1;
    long long limit_ = 0;
    long long total_ = 0;
    int block_ = 0;
    bool headShown_ = false;
    bool folderMissing_ = false;
    int result_ = kDownloadEmpty;
    std::optional<runtime::EFCreateError> thrown_;
};

void FileFetch::Start(const FetchSession* session) {
    if (file_.url.empty() || file_.localPath.empty()) return Finish(kDownloadEmpty);
    if (session == nullptr) return Finish(kDownloadNoSession);
    if (!IsHttpUrl(file_.url)) return Finish(kDownloadNotOpened);
    fetch_ = std::make_unique<TimedFetch>(*session);
    fetch_->BeginOpen(file_.url);
    state_ = State::Opening;
}

bool FileFetch::Advance(InstallerForm& form, bool shown) {
    // A file that cannot be created is the file's result, thrown when it is
    // taken: in the files' order, as when they came one by one.
    try {
        if (state_ == State::Opening) {
            const Step step = fetch_->EndOpen();
            if (step == Step::Pending) return false;
            if (step != Step::Done) {
                Finish(kDownloadNotOpened);
                return false;
            }
            OnHead(form, shown);
            if (state_ != State::Reading) return false;
        }
        if (state_ == State::Reading) return OnBody(form, shown);
    } catch (const runtime::EFCreateError& error) {
        thrown_ = error;
        Finish(kDownloadNotOpened);
    }
    return false;
}

void FileFetch::OnHead(InstallerForm& form, bool shown) {
    TimedFetch& fetch = *fetch_;
    // Never back down from HTTPS to plain HTTP within a fetch, and never to
    // it at all in a build for an HTTPS site.
    if ((form.SiteOverHttps() || fetch.WentOverHttps()) && !fetch.EndedOverHttps()) {
        return Finish(kDownloadNotOpened);
    }

    // When the folder cannot be made, the log says so (when the file is
    // taken) and the probe fails. A target that can never be written fails
    // here, whatever the server answers.
    folderMissing_ = !CheckDirectory(form, runtime::ExtractDir(file_.localPath), false);
    ProbeTarget(file_.localPath);

    // An error page is not the file asked for.
    DWORD status = StatusCode(fetch.Request());
    if (status < 200 || status > 299) return Finish(kDownloadNotOpened);
    announced_ = ContentLength(fetch.Request());
    if (announced_ > kDownloadByteLimit) return Finish(kDownloadIncomplete);
    // A file of another length than listed is not the one listed.
    const ListedFile* expected = file_.expected;
    if (expected != nullptr && announced_ >= 0 && announced_ != expected->size) return Finish(kDownloadDamaged);
    fetch.AllocateBlocks(announced_ >= 0 && announced_ <= kSmallBlockSize ? kSmallBlockSize : kLargeBlockSize);

    // In the target's own folder, so that the final move never crosses volumes.
    partial_.emplace(file_.localPath);
    if (expected != nullptr) hash_.emplace();
    // A body that grows past the listed size is damaged, however long it would go on.
    limit_ = expected != nullptr ? expected->size
                                 : (copyLimitForTesting > 0 ? copyLimitForTesting : kDownloadByteLimit);
    state_ = State::Reading;
    if (shown) ShowProgress(form);
    fetch.BeginRead(block_);
}

bool FileFetch::OnBody(InstallerForm& form, bool shown) {
    TimedFetch& fetch = *fetch_;
    for (int taken = 0; taken < kBlocksInARow; ++taken) {
        DWORD received = 0;
        const Step step = fetch.EndRead(received);
        if (step == Step::Pending) return false;
        if (step != Step::Done) {
            Finish(kDownloadIncomplete);
            return false;
        }
        // A dropped connection also ends with 0 bytes: OnEnd compares the length.
        if (received == 0) {
            OnEnd();
            return false;
        }
        if (total_ + received > limit_) {
            Finish(file_.expected != nullptr ? kDownloadDamaged : kDownloadIncomplete);
            return false;
        }
        // The next read is under way while this block is hashed and written:
        // what comes meanwhile is there for it when this one is done.
        const int block = block_;
        block_ = 1 - block_;
        fetch.BeginRead(block_);
        const char* data = fetch.Block(block);
        if (hash_) hash_->Add(data, received);
        DWORD written = 0;
        if (writeFailsForTesting || !WriteFile(partial_->Handle(), data, received, &written, nullptr) ||
            written != received) {
            Finish(kDownloadIncomplete);
            return false;
        }
        total_ += received;
        if (shown) Show(form, total_);
    }
    return true;
}

void FileFetch::OnEnd() {
    const ListedFile* expected = file_.expected;
    if (announced_ >= 0 && total_ != announced_) return Finish(kDownloadIncomplete);
    if (expected != nullptr && (total_ != expected->size || hash_->Finish() != expected->sha256)) {
        return Finish(kDownloadDamaged);
    }
    if (total_ == 0) return Finish(kDownloadEmpty);
    fetch_->CloseRequest();
    if (!partial_->Close()) return Finish(kDownloadIncomplete);
    Finish(static_cast<int>(total_));
}

void FileFetch::Finish(int result) {
    result_ = result;
    state_ = State::Finished;
    // A read still under way is left to WinINet's callback (timed_fetch.cpp).
    fetch_.reset();
    hash_.reset();
    // Nothing of a failed fetch stays beside its target.
    if (result < 1) partial_.reset();
}

void FileFetch::Show(InstallerForm& form, long long received) const {
    form.ShowFileProgress({file_.entry.empty() ? file_.localPath : file_.entry, received, announced_, file_.index,
                           file_.count});
}

void FileFetch::ShowProgress(InstallerForm& form) const {
    // Each file shows 0 bytes first; one that came before its turn shows
    // then how much it is.
    if (state_ == State::Queued || state_ == State::Opening || (state_ == State::Finished && result_ < 1)) return;
    Show(form, 0);
    if (total_ > 0) Show(form, total_);
}

int FileFetch::Take(InstallerForm& form) {
    if (folderMissing_) CheckDirectory(form, runtime::ExtractDir(file_.localPath), true);
    if (thrown_) throw *thrown_;
    if (result_ >= 1 && file_.placement == Placement::KeepStaged) {
        partial_->Keep();
    } else if (result_ >= 1) {
        partial_->ReplaceTarget();
    }
    partial_.reset();
    return result_;
}

FetchSet::FetchSet(InstallerForm& form, int inFlight) : form_(form), inFlight_(std::max(inFlight, 1)) {}

FetchSet::~FetchSet() = default;

void FetchSet::Queue(QueuedFile file) { files_.push_back(std::make_unique<FileFetch>(std::move(file))); }

bool FetchSet::HasNext() const { return next_ < files_.size(); }

int FetchSet::TakeNext() {
    FileFetch& file = *files_.at(next_);
    file.ShowProgress(form_);
    for (;;) {
        const bool more = Advance();
        if (file.Finished()) break;
        if (!more) Wait();
    }
    const std::unique_ptr<FileFetch> taken = std::move(files_[next_++]);
    int result = kDownloadEmpty;
    try {
        result = taken->Take(form_);
    } catch (...) {
        Abandon();
        throw;
    }
    if (result < 1) Abandon();
    return result;
}

bool FetchSet::Advance() {
    bool more = false;
    // In the files' order, so that the site sees them asked for in it.
    while (started_ < files_.size() && underWay_ < inFlight_) {
        if (!session_) session_ = std::make_unique<FetchSession>();
        FileFetch& file = *files_[started_++];
        file.Start(*session_ ? session_.get() : nullptr);
        if (file.UnderWay()) ++underWay_;
    }
    for (size_t i = next_; i < started_; ++i) {
        FileFetch& file = *files_[i];
        if (!file.UnderWay()) continue;
        const bool goesOn = file.Advance(form_, i == next_);
        if (file.UnderWay()) {
            more = more || goesOn;
        } else {
            --underWay_;
            more = true;  // a place is free for the next
        }
    }
    return more;
}

void FetchSet::Wait() {
    DWORD wait = kTransferTimeoutMs;
    for (size_t i = next_; i < started_; ++i) {
        if (files_[i]->UnderWay()) wait = std::min(wait, files_[i]->TimeLeftMs());
    }
    // On the UI thread: the window must not stop answering for the length of
    // a slow file (a window that has not looked at its messages for 5 s is
    // shown as not responding).
    form_.WaitAnswering(CompletionEvent(), std::max<DWORD>(wait, 1));
}

void FetchSet::Abandon() {
    // Latest first: the site sees the fetches it answers last go first.
    while (files_.size() > next_) files_.pop_back();
    started_ = next_ = files_.size();
    underWay_ = 0;
}

}  // namespace engine
