// A progress bar on a window's taskbar button, where the taskbar offers one
// (ITaskbarList3, Windows 7 and later). Elsewhere it shows nothing and fails
// nothing. Needs COM on the thread (TApplication::Initialize).
#pragma once

#include <windows.h>

struct ITaskbarList3;

namespace ui {

class TaskbarProgress {
public:
    TaskbarProgress() = default;
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;
    ~TaskbarProgress();

    // done of total; a total below 0 shows a bar without measure.
    void Show(HWND window, long long done, long long total);
    // The plain button again; lets the taskbar go.
    void Clear(HWND window);

private:
    ITaskbarList3* taskbar_ = nullptr;  // owned: one reference
    bool tried_ = false;
};

}  // namespace ui
