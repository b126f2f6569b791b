// Waiting for something that another process or thread makes happen.
#pragma once

#include <windows.h>

#include <functional>

// Asks done() at once and then every intervalMs until it says yes or timeoutMs
// have passed; returns whether it said yes. Meanwhile this thread's windows
// keep answering their messages.
inline bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD intervalMs = 50) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, intervalMs, QS_ALLINPUT);
    }
}
