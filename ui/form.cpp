#include "ui/form.h"

#include "runtime/exceptions.h"
#include "ui/application.h"

#include <algorithm>

namespace ui {

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

}  // namespace

void TForm::CreateForm(const FormDesign& design) {
    pixelsPerInch_ = ScreenPixelsPerInch();
    designedClient_ = {Scaled(design.clientWidth), Scaled(design.clientHeight)};
    smallest_ = {Scaled(design.smallestOuterSize.cx), Scaled(design.smallestOuterSize.cy)};
    RECT outer{0, 0, designedClient_.cx, designedClient_.cy};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, 0);
    // A frame thinner than the design assumed would leave the window below its
    // smallest size: the size asked at creation comes before the wrapper could
    // answer WM_GETMINMAXINFO.
    int width = std::max(static_cast<int>(outer.right - outer.left), static_cast<int>(smallest_.cx));
    int height = std::max(static_cast<int>(outer.bottom - outer.top), static_cast<int>(smallest_.cy));
    // Shared icons need no clean-up.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(design.iconResource));
    if (icon == nullptr) throw runtime::LastOSError("Cannot load icon " + std::to_string(design.iconResource));
    WindowClass windowClass{design.className, GetSysColorBrush(COLOR_BTNFACE), icon};
    CreateOwnWindow(windowClass, nullptr, kFormStyle, 0, {CW_USEDEFAULT, CW_USEDEFAULT, width, height},
                    design.caption);
}

int TForm::Scaled(int designed) const { return ScaledToDpi(designed, pixelsPerInch_); }

Bounds TForm::Scaled(const Bounds& designed) const { return ScaledToDpi(designed, pixelsPerInch_); }

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
    // Activating the window gives the focus to its first control.
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
}

void TForm::Close() {
    if (Application->MainForm() == this) {
        Application->Terminate();
    } else {
        ShowWindow(hwnd_, SW_HIDE);
    }
}

void TForm::FollowClientSize() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    for (Control* control : Children()) control->FollowParent(client.right, client.bottom);
}

TForm* TForm::OfWindow(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (root == nullptr) return nullptr;
    return dynamic_cast<TForm*>(BaseWindow::FromOwnHandle(root));
}

Control* TForm::ActiveControl() const {
    if (activeControl_ == nullptr || !IsWindow(activeControl_) || !IsChild(hwnd_, activeControl_)) return nullptr;
    return Control::FromHandle(activeControl_);
}

void TForm::ControlFocused(Control& control) {
    if (control.Handle() == activeControl_) return;  // given back, not entered
    activeControl_ = control.Handle();
    control.FocusEntered();
}

bool TForm::CanFocus(HWND control) const {
    for (HWND window = control; window != nullptr && window != hwnd_; window = GetParent(window)) {
        LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
        if ((style & WS_VISIBLE) == 0 || (style & WS_DISABLED) != 0) return false;
    }
    return true;
}

void TForm::CollectTabStops(const BaseWindow& parent, std::vector<HWND>& stops) const {
    for (Control* child : parent.Children()) {
        HWND hwnd = child->Handle();
        if (hwnd == nullptr) continue;
        if ((GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_TABSTOP) != 0 && CanFocus(hwnd)) stops.push_back(hwnd);
        // A container's controls stand in the order at its place.
        if (auto* container = dynamic_cast<const BaseWindow*>(child)) CollectTabStops(*container, stops);
    }
}

std::vector<HWND> TForm::TabStops() const {
    std::vector<HWND> stops;
    CollectTabStops(*this, stops);
    return stops;
}

void TForm::SelectNext(bool forward) {
    std::vector<HWND> stops = TabStops();
    if (stops.empty()) return;
    auto at = std::find(stops.begin(), stops.end(), GetFocus());
    size_t count = stops.size();
    size_t next = forward ? 0 : count - 1;
    if (at != stops.end()) {
        auto index = static_cast<size_t>(at - stops.begin());
        next = forward ? (index + 1) % count : (index + count - 1) % count;
    }
    SetFocus(stops[next]);
}

void TForm::RestoreFocus() {
    HWND target = ActiveControl() != nullptr && CanFocus(activeControl_) ? activeControl_ : nullptr;
    if (target == nullptr) {
        std::vector<HWND> stops = TabStops();
        if (!stops.empty()) target = stops.front();
    }
    if (target != nullptr && GetFocus() != target) SetFocus(target);
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
    case WM_ACTIVATE:
        // Activated while minimised, the form waits to be restored (WM_SIZE).
        if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) {
            RestoreFocus();
            return 0;
        }
        break;
    case WM_SETFOCUS:
        // Nothing to type into on the form itself.
        RestoreFocus();
        return 0;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED) {
            minimized_ = true;
        } else if (minimized_) {
            minimized_ = false;
            if (GetActiveWindow() == hwnd_) RestoreFocus();
        }
        break;
    default:
        break;
    }
    return BaseWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace ui
