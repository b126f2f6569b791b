#include "ui/taskbar_progress.h"

#include <objbase.h>
#include <shobjidl.h>

namespace ui {

TaskbarProgress::~TaskbarProgress() {
    if (taskbar_ != nullptr) taskbar_->Release();
}

void TaskbarProgress::Show(HWND window, long long done, long long total) {
    if (!tried_) {
        // Asked once per showing: the taskbar is the shell's, found at run time.
        tried_ = true;
        void* taskbar = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       &taskbar))) {
            taskbar_ = static_cast<ITaskbarList3*>(taskbar);
        }
    }
    if (taskbar_ == nullptr) return;
    // What the taskbar answers changes nothing here.
    if (total < 0) {
        taskbar_->SetProgressState(window, TBPF_INDETERMINATE);
        return;
    }
    taskbar_->SetProgressState(window, TBPF_NORMAL);
    // An empty file is whole.
    const ULONGLONG whole = total > 0 ? static_cast<ULONGLONG>(total) : 1;
    const ULONGLONG part = total > 0 ? static_cast<ULONGLONG>(done < total ? done : total) : 1;
    taskbar_->SetProgressValue(window, part, whole);
}

void TaskbarProgress::Clear(HWND window) {
    if (taskbar_ != nullptr) {
        taskbar_->SetProgressState(window, TBPF_NOPROGRESS);
        taskbar_->Release();
        taskbar_ = nullptr;
    }
    tried_ = false;
}

}  // namespace ui
