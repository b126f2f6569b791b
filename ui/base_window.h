// A window of a class of our own, with its wrapper: the one window procedure
// takes the wrapper from CREATESTRUCT at WM_NCCREATE, keeps it in
// GWLP_USERDATA and forwards every message to HandleMessage. Notifications of
// child controls go back to the child's wrapper.
#pragma once

#include "ui/control.h"

#include <vector>

namespace ui {

class BaseWindow : public Control {
public:
    ~BaseWindow() override;

    // The wrapper of a window of a class registered here, or nullptr.
    static BaseWindow* FromOwnHandle(HWND hwnd);

    // The controls whose parent this window is, in tab order (borrowed).
    const std::vector<Control*>& Children() const { return children_; }

protected:
    struct WindowClass {
        const wchar_t* name;
        HBRUSH background;
        HICON icon;
    };

    // Registers the class once and creates the window. parent is nullptr for a
    // top-level window; bounds are then the outer size and place. Throws
    // runtime::EOSError when the class or the window cannot be made.
    void CreateOwnWindow(const WindowClass& windowClass, BaseWindow* parent, DWORD style, DWORD exStyle,
                         const Bounds& bounds, const std::wstring& text);

    // The default: child notifications to the child, anchors on WM_SIZE, the
    // rest to DefWindowProc. Must not throw.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::vector<Control*> children_;
    friend class Control;
};

}  // namespace ui
