#include "ui/form.h"

#include "runtime/exceptions.h"
#include "ui/application.h"

namespace ui {

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

}  // namespace

void TForm::CreateForm(const FormDesign& design) {
    smallest_ = design.smallestOuterSize;
    RECT outer{0, 0, design.clientWidth, design.clientHeight};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, 0);
    // Shared icons need no clean-up.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(design.iconResource));
    if (icon == nullptr) throw runtime::LastOSError("Cannot load icon " + std::to_string(design.iconResource));
    WindowClass windowClass{design.className, GetSysColorBrush(COLOR_BTNFACE), icon};
    CreateOwnWindow(windowClass, nullptr, kFormStyle, 0,
                    {CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top}, design.caption);
}

void TForm::Show() {
    if (!shown_) {
        shown_ = true;
        Fire(OnShow);
        RECT rect{};
        GetWindowRect(hwnd_, &rect);
        int width = rect.right - rect.left;
        int height = rect.bottom - rect.top;
        SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
}

void TForm::Close() { Application->Terminate(); }

void TForm::FollowClientSize() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    for (Control* control : Children()) control->FollowParent(client.right, client.bottom);
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = smallest_.cx;
        info->ptMinTrackSize.y = smallest_.cy;
        return 0;
    }
    case WM_CLOSE:
        Close();
        return 0;
    default:
        return BaseWindow::HandleMessage(message, wParam, lParam);
    }
}

}  // namespace ui
