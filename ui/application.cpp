#include "ui/application.h"

#include "ui/dispatch.h"
#include "ui/screen.h"

#include <commctrl.h>
#include <objbase.h>

namespace ui {

namespace {

TApplication defaultApplication;

}  // namespace

TApplication* Application = &defaultApplication;

TApplication::TApplication() : previous_(Application == this ? nullptr : Application) { Application = this; }

TApplication::~TApplication() {
    // Forms go in reverse order of creation, before COM.
    while (!forms_.empty()) forms_.pop_back();
    if (comInitialized_) CoUninitialize();
    if (Application == this) Application = previous_;
}

void TApplication::Initialize() {
    // Before any window: the dpi that every form is scaled to.
    ScreenPixelsPerInch();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (!comInitialized_) {
        comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
}

void TApplication::Run() {
    if (mainForm_ != nullptr) {
        if (MainFormOnTaskBar) {
            HWND hwnd = mainForm_->Handle();
            SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        }
        mainForm_->Show();
    }
    while (!terminated_) {
        MSG message;
        if (endQueued_ && !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            terminated_ = true;
            break;
        }
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            terminated_ = true;
            break;
        }
        TranslateAndDispatch(message);
    }
}

void TApplication::ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            terminated_ = true;
            continue;
        }
        TranslateAndDispatch(message);
    }
}

void TApplication::TranslateAndDispatch(MSG& message) {
    // Tab and Shift+Tab move through a form's tab order; Enter and Esc are
    // left to the focused control, so they press no button. Ctrl+Tab is the
    // control's own.
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0) {
        if (TForm* form = TForm::OfWindow(message.hwnd)) {
            form->SelectNext(GetKeyState(VK_SHIFT) >= 0);
            return;
        }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void TApplication::Terminate() {
    endQueued_ = true;
    PostQuitMessage(0);
}

bool TApplication::WaitAnswering(HANDLE event, DWORD timeoutMs) {
    // What wakes the wait to look again; input is looked at only as far as
    // it is the frame's.
    constexpr DWORD kWakeMask = QS_PAINT | QS_SENDMESSAGE | QS_POSTMESSAGE | QS_MOUSEBUTTON | QS_KEY;
    const DWORD start = GetTickCount();
    for (;;) {
        AnswerWaiting();
        const DWORD waited = GetTickCount() - start;
        const DWORD left = waited >= timeoutMs ? 0 : timeoutMs - waited;
        const DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, left, kWakeMask);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;  // timed out, or failed
    }
}

void TApplication::AnswerWaiting() {
    // The frame's input is let through, or the window could be neither
    // moved nor closed however long the wait. But the move and size loop
    // that it enters (DefWindowProc's, on Windows as in Wine's user32) takes
    // every queued message and dispatches it, control input included, and so
    // may the system menu's. Keeping that input out of those loops is not to
    // be had: a loop has taken a message before a message-filter hook could
    // look at it, so a hook could only drop it. So the controls' handlers are
    // made harmless there instead: a program that waits here ignores a second
    // start of what it is doing and puts off what would wait in turn for the
    // user or the shell (a dialog, a launch) until the wait is over.
    MSG message;
    for (;;) {
        HWND frame = mainForm_ != nullptr ? mainForm_->Handle() : nullptr;
        // Sent messages are handled by the look itself.
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE) ||
            (frame != nullptr && PeekMessageW(&message, frame, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) ||
            (frame != nullptr && PeekMessageW(&message, frame, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE)) ||
            PeekMessageW(&message, nullptr, WM_SYSKEYDOWN, WM_SYSDEADCHAR, PM_REMOVE)) {
            // A filtered look takes the quit message too.
            if (message.message == WM_QUIT) {
                terminated_ = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            continue;
        }
        return;
    }
}

void TApplication::ShowException(const runtime::Exception& error) {
    HWND owner = mainForm_ != nullptr ? mainForm_->Handle() : GetActiveWindow();
    ShowErrorBox(owner, error.Message(), Title());
}

std::string TApplication::Title() const {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return TitleFromFileName(std::string(path, length));
}

std::string TitleFromFileName(const std::string& path) {
    size_t slash = path.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    if (name.size() > 1) CharLowerBuffA(name.data() + 1, static_cast<DWORD>(name.size() - 1));
    return name;
}

}  // namespace ui
