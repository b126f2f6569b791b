// The error box of the window under test, read and answered from another
// thread while the window's thread shows it.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

struct ErrorBox {
    std::string title;
    std::string text;
    std::wstring wideText;  // the message as the box shows it
    bool answered = false;
};

inline BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
    char className[32] = {};
    GetClassNameA(hwnd, className, sizeof className);
    if (std::string(className) != "#32770" || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

inline BOOL CALLBACK FindMessageText(HWND hwnd, LPARAM box) {
    char className[32] = {};
    GetClassNameA(hwnd, className, sizeof className);
    char buffer[1024] = {};
    if (std::string(className) == "Static" && GetWindowTextA(hwnd, buffer, sizeof buffer) > 0) {
        auto& found = *reinterpret_cast<ErrorBox*>(box);
        found.text = buffer;
        wchar_t wide[1024] = {};
        GetWindowTextW(hwnd, wide, 1024);
        found.wideText = wide;
        return FALSE;
    }
    return TRUE;
}

// Waits on another thread for the UI thread's message box, reads it and
// presses its OK button, while show() runs on this thread.
template <typename Show>
ErrorBox AnswerErrorBox(Show show) {
    ErrorBox box;
    DWORD uiThread = GetCurrentThreadId();
    std::thread reader([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            HWND dialog = nullptr;
            EnumThreadWindows(uiThread, FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (dialog != nullptr) {
                char title[256] = {};
                GetWindowTextA(dialog, title, sizeof title);
                box.title = title;
                EnumChildWindows(dialog, FindMessageText, reinterpret_cast<LPARAM>(&box));
                HWND ok = GetDlgItem(dialog, IDOK);
                box.answered = ok != nullptr;
                SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    show();
    reader.join();
    return box;
}
