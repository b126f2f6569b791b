// The ceiling for fetches kept under way at once: the plainest asynchronous
// WinINet program that keeps up to N requests in flight on one session, with
// the installer's flags and a read/write loop into each file; nothing else.
//   bare_in_flight BASE_URL DEST LIST [N]
// fetches BASE_URL + each line of LIST ("/" separators) to DEST\line (its
// folders made beforehand), N at once (6 unless given), and prints
// "seconds=<s> result=<OK|FAILED>".
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBlockSize = 1024 * 1024;
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

HANDLE gWake = nullptr;

// One request in flight; WinINet's callback sets done when its step ends.
struct Slot {
    std::unique_ptr<char[]> block{new char[kBlockSize]};
    INTERNET_BUFFERSA buffers{};
    HINTERNET request = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool busy = false;
    std::atomic<bool> done{false};
    std::atomic<DWORD_PTR> result{0};
    std::atomic<DWORD> error{0};
    std::atomic<HINTERNET> created{nullptr};
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    Slot* slot = reinterpret_cast<Slot*>(context);
    if (status == INTERNET_STATUS_HANDLE_CREATED) slot->created = *static_cast<HINTERNET*>(info);
    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    slot->result = outcome->dwResult;
    slot->error = outcome->dwError;
    slot->done = true;
    SetEvent(gWake);
}

void Finish(Slot& slot) {
    InternetCloseHandle(slot.request);
    CloseHandle(slot.file);
    slot.request = nullptr;
    slot.busy = false;
}

// Reads and writes until a read goes pending or the body ends; false on a failure.
bool Read(Slot& slot) {
    for (;;) {
        slot.buffers = {};
        slot.buffers.dwStructSize = sizeof slot.buffers;
        slot.buffers.lpvBuffer = slot.block.get();
        slot.buffers.dwBufferLength = kBlockSize;
        slot.done = false;
        if (!InternetReadFileExA(slot.request, &slot.buffers, IRF_ASYNC, reinterpret_cast<DWORD_PTR>(&slot))) {
            return GetLastError() == ERROR_IO_PENDING;
        }
        if (slot.buffers.dwBufferLength == 0) {
            Finish(slot);
            return true;
        }
        DWORD written = 0;
        WriteFile(slot.file, slot.block.get(), slot.buffers.dwBufferLength, &written, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bare_in_flight BASE_URL DEST LIST [N]\n");
        return 2;
    }
    const std::string base = argv[1];
    const std::string dest = argv[2];
    const size_t inFlight = argc == 5 ? std::max(1, std::atoi(argv[4])) : 6;
    std::vector<std::string> paths;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);) {
        if (!line.empty()) paths.push_back(line);
    }
    gWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD connections = static_cast<DWORD>(inFlight);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    HINTERNET session = InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    InternetSetStatusCallbackA(session, OnStatus);
    std::vector<Slot> slots(inFlight);
    bool succeeded = true;
    size_t next = 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        for (Slot& slot : slots) {
            if (slot.busy || next == paths.size()) continue;
            std::string local = dest + "\\" + paths[next];
            std::replace(local.begin(), local.end(), '/', '\\');
            const std::string url = base + paths[next++];
            slot.file = CreateFileA(local.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
            slot.busy = true;
            slot.done = false;
            slot.created = nullptr;
            slot.request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, kOpenUrlFlags,
                                            reinterpret_cast<DWORD_PTR>(&slot));
            if (slot.request != nullptr) succeeded = Read(slot) && succeeded;
            else if (GetLastError() != ERROR_IO_PENDING) succeeded = false, slot.busy = false;
        }
        bool any = false;
        for (Slot& slot : slots) {
            if (!slot.busy) continue;
            any = true;
            if (!slot.done.exchange(false)) continue;
            if (slot.error != ERROR_SUCCESS) {
                succeeded = false;
                Finish(slot);
            } else if (slot.request == nullptr) {
                // The open has ended: WinINet passes the handle in the result.
                slot.request = slot.result != TRUE ? reinterpret_cast<HINTERNET>(slot.result.load()) : slot.created.load();
                succeeded = Read(slot) && succeeded;
            } else {
                if (slot.buffers.dwBufferLength == 0) {
                    Finish(slot);
                    continue;
                }
                DWORD written = 0;
                WriteFile(slot.file, slot.block.get(), slot.buffers.dwBufferLength, &written, nullptr);
                succeeded = Read(slot) && succeeded;
            }
        }
        if (!any && next == paths.size()) break;
        WaitForSingleObject(gWake, 100);
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    InternetCloseHandle(session);
    std::printf("seconds=%.3f result=%s\n", seconds.count(), succeeded ? "OK" : "FAILED");
    return succeeded ? 0 : 1;
}
