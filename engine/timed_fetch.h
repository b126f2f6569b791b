// One HTTP fetch over an asynchronous WinINet session, taken step by step
// without blocking: each step ends at once or stays under way until WinINet
// reports its end, which sets CompletionEvent(); a step on which the site has
// been silent for the whole limit has timed out. The only code of the program
// that a second thread (WinINet's) runs.
#pragma once

#include "engine/internet_handle.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

namespace engine {

enum class Step { Done, Pending, Failed, TimedOut };

// The asynchronous session that fetches share, each with its own connection,
// up to kConnectionsPerServer to one server. False when it cannot be had.
class FetchSession {
public:
    FetchSession();
    FetchSession(const FetchSession&) = delete;
    FetchSession& operator=(const FetchSession&) = delete;

    explicit operator bool() const { return static_cast<bool>(session_); }
    HINTERNET get() const { return session_.get(); }

private:
    UniqueInternetHandle session_;
};

// The connections that the process opens to one server at most (WinINet's
// own limit, raised for the process to the fetches that a set keeps under
// way).
constexpr DWORD kConnectionsPerServer = 6;

// Set whenever a step of any fetch has ended (an auto-reset event that lives
// as long as the process); nullptr when it cannot be made.
HANDLE CompletionEvent();

struct Transfer;

class TimedFetch {
public:
    // Fetches over session, which is borrowed and outlives the fetch.
    explicit TimedFetch(const FetchSession& session);
    TimedFetch(const TimedFetch&) = delete;
    TimedFetch& operator=(const TimedFetch&) = delete;
    // Leaves a transfer that WinINet may still write into to the callback.
    ~TimedFetch();

    // Starts connecting, sending the request and receiving the response
    // head; then EndOpen until it is no longer Pending.
    void BeginOpen(const std::string& url);
    Step EndOpen();
    HINTERNET Request() const { return request_.get(); }
    // Whether the fetch has been over HTTPS: its own URL, or one that a
    // redirect took it to.
    bool WentOverHttps() const;
    // Whether the response came from an https:// URL, after the redirects
    // (INTERNET_OPTION_URL of the request); false when WinINet cannot tell.
    bool EndedOverHttps() const;

    // Two blocks of size each, read into in turn, so that the next read is
    // under way while the caller takes the block before.
    void AllocateBlocks(DWORD size);
    // Starts reading what the site has sent so far into block (0 or 1): the
    // only read under way. Then EndRead until it is no longer Pending: the
    // byte count, 0 at the end of the body. WinINet reports the end of a body
    // that was cut off (a connection closed early, a chunked body without its
    // last chunk) as a clean end where it cannot tell.
    void BeginRead(int block);
    Step EndRead(DWORD& received);
    const char* Block(int block) const;

    // How long the step under way may still wait for the site.
    DWORD TimeLeftMs() const;

    void CloseRequest() { request_.reset(); }

private:
    // Whether the step under way has ended; TimedOut past the limit.
    Step Poll() const;
    // Forgets what an earlier step left: its result, and a completion that
    // nobody looked at.
    void ForgetEarlierCompletions();

    std::unique_ptr<Transfer> transfer_;
    const FetchSession& session_;  // borrowed
    UniqueInternetHandle request_;
    bool openPending_ = false;
    bool readPending_ = false;
    int readBlock_ = 0;
    // A step that ended at once: how, and a read's byte count.
    bool stepEnded_ = false;
    Step endedStep_ = Step::Done;
    DWORD readBytes_ = 0;
};

// The request handle that a completed InternetOpenUrlA has made, from its
// INTERNET_ASYNC_RESULT and the handle that INTERNET_STATUS_HANDLE_CREATED
// reported (nullptr when none was); nullptr when the open failed. dwResult is
// documented as the call's Boolean result; WinINet passes the handle in it,
// and the created handle serves where it passes TRUE.
HINTERNET RequestOfCompletedOpen(DWORD_PTR result, DWORD error, HINTERNET created);

}  // namespace engine
