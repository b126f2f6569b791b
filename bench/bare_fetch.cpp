// The baseline for the install engine's figures: the plainest WinINet fetch,
// with the installer's flags and block size, one session and one
// InternetOpenUrlA per file and a read/write loop into the file; nothing else.
//   bare_fetch BASE_URL DEST LIST [--hash]
// fetches BASE_URL + each line of LIST ("/" separators) to DEST\line (its
// folders made beforehand) and prints "seconds=<s> result=<OK|FAILED>". With
// --hash it also takes each file's SHA-256 with CNG, block by block in turn:
// the baseline for a fetch that checks its files.
#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBlockSize = 1024 * 1024;
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

BCRYPT_ALG_HANDLE gSha256 = nullptr;  // with --hash

bool Fetch(const std::string& url, const std::string& path, char* block) {
    HINTERNET session = InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == nullptr) return false;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, kOpenUrlFlags, 0);
    bool fetched = false;
    if (request != nullptr) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            fetched = true;
            BCRYPT_HASH_HANDLE hash = nullptr;
            if (gSha256 != nullptr) BCryptCreateHash(gSha256, &hash, nullptr, 0, nullptr, 0, 0);
            DWORD received = 0;
            while (InternetReadFile(request, block, kBlockSize, &received) && received > 0) {
                if (hash != nullptr) BCryptHashData(hash, reinterpret_cast<PUCHAR>(block), received, 0);
                DWORD written = 0;
                WriteFile(file, block, received, &written, nullptr);
            }
            if (hash != nullptr) {
                UCHAR digest[32];
                BCryptFinishHash(hash, digest, sizeof digest, 0);
                BCryptDestroyHash(hash);
            }
            CloseHandle(file);
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return fetched;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "--hash")) {
        std::fprintf(stderr, "usage: bare_fetch BASE_URL DEST LIST [--hash]\n");
        return 2;
    }
    if (argc == 5 && BCryptOpenAlgorithmProvider(&gSha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 1;
    const std::string base = argv[1];
    const std::string dest = argv[2];
    std::vector<std::string> paths;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);) {
        if (!line.empty()) paths.push_back(line);
    }
    std::unique_ptr<char[]> block(new char[kBlockSize]);
    bool succeeded = true;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) {
        std::string local = dest + "\\" + path;
        std::replace(local.begin(), local.end(), '/', '\\');
        succeeded = Fetch(base + path, local, block.get()) && succeeded;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f result=%s\n", seconds.count(), succeeded ? "OK" : "FAILED");
    return succeeded ? 0 : 1;
}
