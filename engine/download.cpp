#include "engine/download.h"

#include "engine/activity_log.h"
#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"

#include <windows.h>
#include <wininet.h>

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
// fast. A body announced as small is read into a block on the stack, so that
// the many small files of a product cost no large allocation each.
// The copy limit stays that of 100000 reads of 10240 bytes.
constexpr DWORD kSmallBlockSize = 64 * 1024;
constexpr DWORD kLargeBlockSize = 1024 * 1024;
// Always from the server, and never into the cache.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE;
static_assert(kOpenUrlFlags == 0x8C000000);

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
// a read or a write fails or the body grows past the copy limit.
long long CopyBody(HINTERNET request, HANDLE file, long long announced) {
    char smallBlock[kSmallBlockSize];
    std::unique_ptr<char[]> largeBlock;
    char* buffer = smallBlock;
    DWORD bufferSize = kSmallBlockSize;
    if (announced < 0 || announced > kSmallBlockSize) {
        largeBlock.reset(new char[kLargeBlockSize]);
        buffer = largeBlock.get();
        bufferSize = kLargeBlockSize;
    }
    long long total = 0;
    for (;;) {
        DWORD received = 0;
        // A dropped connection also ends with 0 bytes: the caller compares the length.
        if (!InternetReadFile(request, buffer, bufferSize, &received)) return -1;
        if (received == 0) return total;
        if (total + received > kDownloadByteLimit) return -1;
        DWORD written = 0;
        if (!WriteFile(file, buffer, received, &written, nullptr) || written != received) return -1;
        total += received;
    }
}

}  // namespace

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

    UniqueInternetHandle session(InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return kDownloadNoSession;
    // Declared after the session, so that it closes first.
    UniqueInternetHandle request(InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0, kOpenUrlFlags, 0));
    if (!request) return kDownloadNotOpened;

    // When the folder cannot be made, the log says so and the probe fails.
    // A target that can never be written fails here, whatever the server answers.
    CheckDirectory(form, runtime::ExtractDir(localPath), true);
    ProbeTarget(localPath);

    // An error page is not the file asked for.
    DWORD status = StatusCode(request.get());
    if (status < 200 || status > 299) return kDownloadNotOpened;
    long long announced = ContentLength(request.get());
    if (announced > kDownloadByteLimit) return kDownloadIncomplete;

    // Unique to this process, in the target's own folder so that the final
    // move never crosses volumes.
    PartialFile partial(localPath + ".~" + std::to_string(GetCurrentProcessId()) + ".part");
    UniqueFileHandle file(CreateFileA(partial.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD code = GetLastError();
        throw CannotCreateFile(localPath, code);
    }

    const long long total = CopyBody(request.get(), file.get(), announced);
    if (total < 0) return kDownloadIncomplete;
    if (announced >= 0 && total != announced) return kDownloadIncomplete;
    if (total == 0) return kDownloadEmpty;

    request.reset();
    if (!CloseHandle(file.release())) return kDownloadIncomplete;
    if (!MoveFileExA(partial.Path().c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        throw CannotCreateFile(localPath, code);
    }
    partial.Commit();
    return static_cast<int>(total);
}

}  // namespace engine
