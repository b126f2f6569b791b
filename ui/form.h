// A top-level form: a sizeable window with a fixed client size as designed,
// a smallest outer size and its show event. As in a program of one main
// window, closing the application's main form ends the program.
// Designs are drawn at 96 dpi; the form scales them to the screen's dpi. The
// form keeps the keyboard focus in one of its controls: the first in tab order
// when it is first shown, then the one that had it last, whenever the form is
// activated again or restored.
#pragma once

#include "ui/base_window.h"
#include "ui/screen.h"

#include <vector>

namespace ui {

// What a form is made from; the program gives its own class name and icon.
// Sizes are at kDesignPixelsPerInch.
struct FormDesign {
    const wchar_t* className;  // registered on first use
    int iconResource;          // the program's icon, also on the taskbar
    std::wstring caption;
    int clientWidth;
    int clientHeight;
    SIZE smallestOuterSize;
};

class TForm : public BaseWindow {
public:
    TForm() = default;

    // The first time: raises OnShow while the window is still hidden, centres
    // it on the screen; then makes it visible.
    void Show();
    // The close box, Alt+F4 and the system menu come here too. The main form
    // queues the end of the program (Application->Terminate) and stays as it
    // is until the application destroys it; any other form is hidden.
    void Close();

    std::string Caption() const { return Text(); }
    void SetCaption(const std::string& caption) { SetText(caption); }

    NotifyEvent OnShow;

    // The screen's dpi that the form is made for.
    int PixelsPerInch() const { return pixelsPerInch_; }
    // A length or a place designed at 96 dpi, on this screen (ScaledToDpi: a
    // place by its edges). Anchored distances to the right and bottom edges
    // then follow from the scaled edges too: the designed client size is
    // scaled as a place from 0, 0.
    int Scaled(int designed) const;
    Bounds Scaled(const Bounds& designed) const;
    // The designed client size on this screen; the window is larger where its
    // smallest outer size asks for more.
    SIZE DesignedClientSize() const { return designedClient_; }

    // The control that has the keyboard focus, or had it last; nullptr before
    // any control had it.
    Control* ActiveControl() const;
    // Moves the focus to the next control in tab order that can take it (or
    // the previous one), round the ends.
    void SelectNext(bool forward);
    // The form that a window is or belongs to, or nullptr.
    static TForm* OfWindow(HWND hwnd);

protected:
    // Creates the hidden window with the designed client size, never smaller
    // than the smallest outer size; throws runtime::EOSError when the icon or
    // the window cannot be made.
    void CreateForm(const FormDesign& design);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Brings every anchored control to the current client size.
    void FollowClientSize();

private:
    friend class Control;
    // A control of this form has taken the focus.
    void ControlFocused(Control& control);
    // The focus to the active control, or to the first in tab order.
    void RestoreFocus();
    // Visible and enabled up to the form.
    bool CanFocus(HWND control) const;
    // The controls that Tab stops at, in tab order.
    std::vector<HWND> TabStops() const;
    void CollectTabStops(const BaseWindow& parent, std::vector<HWND>& stops) const;

    SIZE smallest_{};
    SIZE designedClient_{};
    int pixelsPerInch_ = kDesignPixelsPerInch;
    HWND activeControl_ = nullptr;  // a window of ours; checked before use
    bool minimized_ = false;
    bool shown_ = false;
};

}  // namespace ui
