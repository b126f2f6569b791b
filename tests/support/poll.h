// Waiting for something that another process or thread makes happen.
#pragma once

#include <windows.h>

#include <functional>

// Asks done() at once and then every intervalMs until it says yes or timeoutMs
// have passed; returns whether it said yes.
inline bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD intervalMs = 50) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(intervalMs);
    }
}
