#include "engine/download.h"

#include "engine/folders.h"
#include "engine/partial_file.h"
#include "engine/timed_fetch.h"
#include "runtime/file_system.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <string>

namespace engine {

namespace {

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

}  // namespace

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
    PartialFile partial(localPath);
    const long long total = CopyBody(fetch, partial.Handle());
    if (total < 0) return kDownloadIncomplete;
    if (announced >= 0 && total != announced) return kDownloadIncomplete;
    if (total == 0) return kDownloadEmpty;

    fetch.CloseRequest();
    if (!partial.Close()) return kDownloadIncomplete;
    partial.ReplaceTarget();
    return static_cast<int>(total);
}

}  // namespace engine
