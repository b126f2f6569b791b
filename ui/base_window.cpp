#include "ui/base_window.h"

#include "runtime/exceptions.h"
#include "runtime/narrow_text.h"
#include "ui/dispatch.h"

namespace ui {

BaseWindow::~BaseWindow() {
    // Whatever the window receives while it is destroyed goes past this wrapper,
    // which is half gone already.
    if (hwnd_ != nullptr && IsWindow(hwnd_)) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    for (Control* child : children_) child->parent_ = nullptr;
    children_.clear();
}

BaseWindow* BaseWindow::FromOwnHandle(HWND hwnd) {
    // The class's procedure, not the window's: a subclass does not change it.
    if (reinterpret_cast<WNDPROC>(GetClassLongPtrW(hwnd, GCLP_WNDPROC)) != WindowProc) return nullptr;
    return reinterpret_cast<BaseWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void BaseWindow::CreateOwnWindow(const WindowClass& windowClass, BaseWindow* parent, DWORD style, DWORD exStyle,
                                 const Bounds& bounds, const std::wstring& text) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(instance, windowClass.name, &existing)) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = windowClass.background;
        wc.hIcon = windowClass.icon;
        wc.lpszClassName = windowClass.name;
        if (RegisterClassExW(&wc) == 0) {
            throw runtime::LastOSError("Cannot register window class \"" + runtime::WideToNarrow(windowClass.name) + "\"");
        }
    }
    if (parent != nullptr) style |= WS_CHILD | WS_CLIPSIBLINGS;
    HWND hwnd = CreateWindowExW(exStyle, windowClass.name, text.c_str(), style, bounds.left, bounds.top,
                                bounds.width, bounds.height, parent != nullptr ? parent->Handle() : nullptr,
                                nullptr, instance, this);
    if (hwnd == nullptr) {
        throw runtime::LastOSError("Cannot create window \"" + runtime::WideToNarrow(windowClass.name) + "\"");
    }
    Attach(hwnd, parent);
    design_ = bounds;
}

LRESULT CALLBACK BaseWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    BaseWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        self = static_cast<BaseWindow*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<BaseWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        LRESULT result = self->HandleMessage(message, wParam, lParam);
        if (self->hwnd_ == hwnd) self->hwnd_ = nullptr;
        return result;
    }
    // Handlers are dispatched one by one already; this keeps whatever else a
    // message does (an allocation that fails) from unwinding into user32.
    LRESULT result = 0;
    Dispatch([&] { result = self->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT BaseWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND child = nullptr;
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
        break;
    case WM_DRAWITEM:
        child = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;
        break;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            for (Control* control : children_) control->FollowParent(LOWORD(lParam), HIWORD(lParam));
        }
        break;
    default:
        break;
    }
    if (child != nullptr && GetParent(child) == hwnd_) {
        if (Control* control = FromHandle(child)) {
            LRESULT result = 0;
            if (control->HandleNotification(message, wParam, lParam, result)) return result;
        }
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace ui
