// A top-level form: a sizeable window with a fixed client size as designed,
// a smallest outer size, its show event, and closing that ends the program.
#pragma once

#include "ui/base_window.h"

namespace ui {

// What a form is made from; the program gives its own class name and icon.
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
    // Queues the end of the program; the window stays as it is.
    void Close();

    std::string Caption() const { return Text(); }
    void SetCaption(const std::string& caption) { SetText(caption); }

    NotifyEvent OnShow;

protected:
    // Creates the hidden window with the designed client size; throws
    // runtime::EOSError when the icon or the window cannot be made.
    void CreateForm(const FormDesign& design);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Brings every anchored control to the current client size.
    void FollowClientSize();

private:
    SIZE smallest_{};
    bool shown_ = false;
};

}  // namespace ui
