// What every window has in common: its handle, its text as narrow text, its
// place in the parent and the anchors that keep that place when the parent is
// resized.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

class Control;
class BaseWindow;

// An event handler; the sender is the control that raised the event.
using NotifyEvent = std::function<void(Control& sender)>;

// Edges of the parent that a control keeps its distance to.
enum Anchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

// A control's place in its parent's client area.
struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Bounds&) const = default;
};

class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    // Destroys the window if it is still there.
    virtual ~Control();

    HWND Handle() const { return hwnd_; }
    // The wrapper of a window made by one of ours, or nullptr.
    static Control* FromHandle(HWND hwnd);

    // The text through the ANSI code page.
    std::string Text() const;
    virtual void SetText(const std::string& text);
    std::wstring WideText() const;
    void SetWideText(const std::wstring& text);

    Bounds GetBounds() const;
    void SetBounds(const Bounds& bounds);
    // Keeps the given edges at their distance from the parent's edges, the
    // parent's client area being designParent in size at the current bounds.
    void SetAnchors(unsigned anchors, SIZE designParent);
    // Borrowed: the form owns its fonts.
    virtual void SetFont(HFONT font);
    HFONT Font() const { return font_; }

    // Moves and sizes the control for a new parent client size.
    void FollowParent(int parentWidth, int parentHeight);

    // A notification that the control sent its parent (WM_COMMAND, WM_NOTIFY,
    // WM_CTLCOLOR*, WM_DRAWITEM), routed back here. Returns true with result
    // set when handled.
    virtual bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Moves the control to this place among its parent's controls in tab
    // order (0 first); controls are in the order of their creation until then.
    void SetTabOrder(int position);
    // The focus has come to the control from elsewhere in its form (not given
    // back to it on activation).
    virtual void FocusEntered() {}

protected:
    // Creates a child window of a standard class and subclasses it; throws
    // runtime::EOSError when either fails.
    void CreateChild(BaseWindow& parent, const wchar_t* className, DWORD style, DWORD exStyle,
                     const Bounds& bounds, const std::wstring& text);
    // Takes over a window made elsewhere (BaseWindow).
    void Attach(HWND hwnd, BaseWindow* parent);
    // Runs an event handler through the one dispatch point.
    void Fire(const NotifyEvent& event);
    // Messages to a subclassed standard control.
    virtual LRESULT SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR refData);
    void Detach();

    BaseWindow* parent_ = nullptr;  // borrowed
    HFONT font_ = nullptr;          // borrowed
    bool subclassed_ = false;
    unsigned anchors_ = akLeft | akTop;
    Bounds design_;
    SIZE designParent_{};
    friend class BaseWindow;
};

}  // namespace ui
