// One HTTP fetch over an asynchronous WinINet session, driven as a synchronous
// one with a time limit: each step returns when it is done, has failed, or the
// site has been silent for the whole limit. The only code of the program that
// a second thread (WinINet's) runs.
#pragma once

#include "engine/installer_form.h"
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
    // Waits through form, which goes on answering meanwhile.
    explicit TimedFetch(InstallerForm& form);
    TimedFetch(const TimedFetch&) = delete;
    TimedFetch& operator=(const TimedFetch&) = delete;
    // Leaves a transfer that WinINet may still write into to the callback.
    ~TimedFetch();

    // Opens the asynchronous session; false when it cannot be had.
    bool OpenSession();
    // Connects, sends the request and receives the response head.
    Step OpenUrl(const std::string& url);
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
    // only read under way.
    void BeginRead(int block);
    // Waits for the read begun last, while the site has sent nothing new: its
    // byte count, 0 at the end of the body. WinINet reports the end of a body
    // that was cut off (a connection closed early, a chunked body without its
    // last chunk) as a clean end where it cannot tell.
    Step EndRead(DWORD& received);
    const char* Block(int block) const;

    void CloseRequest() { request_.reset(); }

private:
    bool AwaitCompletion();
    // Forgets what an earlier step left: its result, and a completion that
    // nobody waited for.
    void ForgetEarlierCompletions();

    InstallerForm& form_;  // borrowed
    std::unique_ptr<Transfer> transfer_;
    UniqueInternetHandle session_;
    UniqueInternetHandle request_;  // after the session, so that it closes first
    bool readPending_ = false;
    int readBlock_ = 0;
    // A read that ended at once: its step and byte count.
    bool readEnded_ = false;
    Step readStep_ = Step::Done;
    DWORD readBytes_ = 0;
};

// The request handle that a completed InternetOpenUrlA has made, from its
// INTERNET_ASYNC_RESULT and the handle that INTERNET_STATUS_HANDLE_CREATED
// reported (nullptr when none was); nullptr when the open failed. dwResult is
// documented as the call's Boolean result; WinINet passes the handle in it,
// and the created handle serves where it passes TRUE.
HINTERNET RequestOfCompletedOpen(DWORD_PTR result, DWORD error, HINTERNET created);

}  // namespace engine
