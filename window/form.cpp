#include "window/form.h"

#include "window/application.h"
#include "window/resource_ids.h"

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

}  // namespace

void TForm::CreateForm(const std::wstring& caption, int clientWidth, int clientHeight, SIZE smallestOuterSize) {
    smallest_ = smallestOuterSize;
    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, 0);
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM));
    WindowClass windowClass{L"TFormInstallProgram", GetSysColorBrush(COLOR_BTNFACE), icon};
    CreateOwnWindow(windowClass, nullptr, kFormStyle, 0,
                    {CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top}, caption);
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
