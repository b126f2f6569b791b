#include "ui/control.h"

#include "runtime/exceptions.h"
#include "runtime/narrow_text.h"
#include "ui/base_window.h"
#include "ui/dispatch.h"
#include "ui/form.h"

#include <commctrl.h>

#include <algorithm>

namespace ui {

using runtime::NarrowToWide;
using runtime::WideToNarrow;

namespace {

// The property that leads from a standard control to its wrapper; the
// layer's own name, the same in every program that uses it.
constexpr wchar_t kWrapperProperty[] = L"ui.Control";

}  // namespace

Control::~Control() {
    HWND hwnd = hwnd_;
    Detach();
    if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
}

Control* Control::FromHandle(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    // A window of a class of ours keeps its wrapper in its user data, a
    // standard control in a property.
    if (BaseWindow* window = BaseWindow::FromOwnHandle(hwnd)) return window;
    return static_cast<Control*>(GetPropW(hwnd, kWrapperProperty));
}

void Control::Attach(HWND hwnd, BaseWindow* parent) {
    hwnd_ = hwnd;
    parent_ = parent;
    if (parent_ != nullptr) parent_->children_.push_back(this);
}

void Control::Detach() {
    if (parent_ != nullptr) std::erase(parent_->children_, this);
    parent_ = nullptr;
    if (hwnd_ == nullptr) return;
    if (IsWindow(hwnd_) && subclassed_) {
        RemovePropW(hwnd_, kWrapperProperty);
        RemoveWindowSubclass(hwnd_, SubclassProc, 0);
    }
    subclassed_ = false;
    hwnd_ = nullptr;
}

void Control::CreateChild(BaseWindow& parent, const wchar_t* className, DWORD style, DWORD exStyle,
                          const Bounds& bounds, const std::wstring& text) {
    HWND hwnd = CreateWindowExW(exStyle, className, text.c_str(), style | WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                bounds.left, bounds.top, bounds.width, bounds.height, parent.Handle(), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (hwnd == nullptr) throw runtime::LastOSError("Cannot create window \"" + WideToNarrow(className) + "\"");
    Attach(hwnd, &parent);
    design_ = bounds;
    if (!SetWindowSubclass(hwnd, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this))) {
        throw runtime::LastOSError("Cannot subclass window \"" + WideToNarrow(className) + "\"");
    }
    subclassed_ = true;
    if (!SetPropW(hwnd, kWrapperProperty, this)) {
        throw runtime::LastOSError("Cannot tie window \"" + WideToNarrow(className) + "\" to its wrapper");
    }
}

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR refData) {
    auto* self = reinterpret_cast<Control*>(refData);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 0);
        RemovePropW(hwnd, kWrapperProperty);
        if (self->hwnd_ == hwnd) {
            self->subclassed_ = false;
            self->hwnd_ = nullptr;
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    Dispatch([&] {
        result = self->SubclassMessage(message, wParam, lParam);
        // The form keeps the control that has the focus, to give it back.
        if (message == WM_SETFOCUS) {
            if (TForm* form = TForm::OfWindow(hwnd)) form->ControlFocused(*self);
        }
    });
    return result;
}

LRESULT Control::SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

bool Control::HandleNotification(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void Control::Fire(const NotifyEvent& event) {
    if (!event) return;
    Dispatch([&] { event(*this); });
}

std::wstring Control::WideText() const {
    int length = GetWindowTextLengthW(hwnd_);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(hwnd_, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
    return text;
}

void Control::SetWideText(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }

std::string Control::Text() const { return WideToNarrow(WideText()); }

void Control::SetText(const std::string& text) { SetWideText(NarrowToWide(text)); }

Bounds Control::GetBounds() const {
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    HWND parent = GetParent(hwnd_);
    if (parent != nullptr && (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_CHILD) != 0) {
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    }
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void Control::SetBounds(const Bounds& bounds) {
    MoveWindow(hwnd_, bounds.left, bounds.top, bounds.width, bounds.height, TRUE);
}

void Control::SetAnchors(unsigned anchors, SIZE designParent) {
    anchors_ = anchors;
    design_ = GetBounds();
    designParent_ = designParent;
}

void Control::FollowParent(int parentWidth, int parentHeight) {
    // Controls tied to the top left never move.
    if ((anchors_ & (akRight | akBottom)) == 0) return;
    int dx = parentWidth - designParent_.cx;
    int dy = parentHeight - designParent_.cy;
    Bounds bounds = design_;
    if (anchors_ & akRight) {
        if (anchors_ & akLeft) bounds.width += dx;
        else bounds.left += dx;
    }
    if (anchors_ & akBottom) {
        if (anchors_ & akTop) bounds.height += dy;
        else bounds.top += dy;
    }
    if (bounds.width < 0) bounds.width = 0;
    if (bounds.height < 0) bounds.height = 0;
    if (!(GetBounds() == bounds)) SetBounds(bounds);
}

void Control::SetTabOrder(int position) {
    if (parent_ == nullptr) return;
    std::vector<Control*>& siblings = parent_->children_;
    std::erase(siblings, this);
    auto at = std::min(static_cast<size_t>(std::max(position, 0)), siblings.size());
    siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(at), this);
}

void Control::SetFont(HFONT font) {
    font_ = font;
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace ui
