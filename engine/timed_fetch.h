// One HTTP fetch over an asynchronous WinINet session, driven as a synchronous
// one with a time limit: each step returns when it is done, has failed, or the
// site has been silent for the whole limit. The only code of the program that
// a second thread (WinINet's) runs.
#pragma once

#include "engine/internet_handle.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

namespace engine {

enum class Step { Done, Failed, TimedOut };

struct Transfer;

class TimedFetch {
public:
    TimedFetch();
    TimedFetch(const TimedFetch&) = delete;
    TimedFetch& operator=(const TimedFetch&) = delete;
    // Leaves a transfer that WinINet may still write into to the callback.
    ~TimedFetch();

    // Opens the asynchronous session; false when it cannot be had.
    bool OpenSession();
    // Connects, sends the request and receives the response head.
    Step OpenUrl(const std::string& url);
    HINTERNET Request() const { return request_.get(); }

    void AllocateBlock(DWORD size);
    // Reads what the site has sent so far into the block, waiting while it has
    // sent nothing new; 0 bytes at the end of the body. WinINet reports the
    // end of a body that was cut off (a connection closed early, a chunked
    // body without its last chunk) as a clean end where it cannot tell.
    Step Read(DWORD& received);
    const char* Block() const;

    void CloseRequest() { request_.reset(); }

private:
    bool AwaitCompletion();
    // Forgets what an earlier step left: its result, and a completion that
    // nobody waited for.
    void ForgetEarlierCompletions();

    std::unique_ptr<Transfer> transfer_;
    UniqueInternetHandle session_;
    UniqueInternetHandle request_;  // after the session, so that it closes first
    bool readPending_ = false;
};

// The request handle that a completed InternetOpenUrlA has made, from its
// INTERNET_ASYNC_RESULT and the handle that INTERNET_STATUS_HANDLE_CREATED
// reported (nullptr when none was); nullptr when the open failed. dwResult is
// documented as the call's Boolean result; WinINet passes the handle in it,
// and the created handle serves where it passes TRUE.
HINTERNET RequestOfCompletedOpen(DWORD_PTR result, DWORD error, HINTERNET created);

}  // namespace engine
