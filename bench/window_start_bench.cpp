// Times the installer's start from the outside:
//   window_start_bench PROGRAM
// starts PROGRAM, waits for its visible top-level window, then for the window
// to answer a message (it has painted and reached its message loop), closes
// it and prints "shown_ms=<ms> ready_ms=<ms> exit=<code>", both measured from
// just before CreateProcess.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double MillisecondsSince(LONGLONG start) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (Ticks() - start) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_start_bench PROGRAM\n");
        return 2;
    }
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};

    const LONGLONG start = Ticks();
    if (!CreateProcessA(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);

    Search search{process.dwProcessId, nullptr};
    double shown = -1;
    while (MillisecondsSince(start) < 30000) {
        EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            shown = MillisecondsSince(start);
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;
    }

    double ready = -1;
    if (search.found != nullptr) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer)) {
            ready = MillisecondsSince(start);
        }
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);

    std::printf("shown_ms=%.1f ready_ms=%.1f exit=%lu\n", shown, ready, exitCode);
    std::fflush(stdout);
    return shown >= 0 && ready >= 0 ? 0 : 1;
}
