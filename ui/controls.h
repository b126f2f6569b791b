// Thin wrappers over the standard controls (and two of our own) with typed
// accessors and event members. Each kind is made from arguments of its own
// (CreateArgs), which also carry its events: they are set once the window is
// made, so that making a control raises none. Each Create throws
// runtime::EOSError when its window or a resource it needs cannot be made.
//
// Panels and speed buttons are windows of the layer's own classes "TPanel" and
// "TSpeedButton", registered in the program's module on first use: a program
// that uses this layer leaves those two class names to it.
#pragma once

#include "runtime/unique_handle.h"
#include "ui/base_window.h"

#include <commctrl.h>

#include <string>

namespace ui {

// An image list of our own (ImageList_Create).
struct ImageListTraits {
    using Handle = HIMAGELIST;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ImageList_Destroy(h); }
};
using UniqueImageList = runtime::UniqueHandle<ImageListTraits>;

// A container with a raised outer and a lowered inner bevel.
class Panel : public BaseWindow {
public:
    struct CreateArgs {};
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args = {});

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A caption that sizes itself to its text, with the hand cursor, mouse-move
// and mouse-leave events and a font colour of its own. It lies beneath the
// other controls of its parent. It is clicked as a button is: pressed and
// released inside it, so that a press dragged off and released elsewhere
// clicks nothing; the second press of a double click adds no click.
class Label : public Control {
public:
    struct CreateArgs {
        std::wstring caption{};
        bool handCursor = false;
        NotifyEvent onClick{};
        NotifyEvent onMouseMove{};
        NotifyEvent onMouseLeave{};
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    void SetText(const std::string& text) override;
    void SetFont(HFONT font) override;
    COLORREF FontColor() const { return color_; }
    void SetFontColor(COLORREF color);
    void SetHandCursor(bool hand) { handCursor_ = hand; }

    NotifyEvent OnClick;
    NotifyEvent OnMouseMove;
    NotifyEvent OnMouseLeave;

    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    LRESULT SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void SizeToText();

    COLORREF color_ = GetSysColor(COLOR_WINDOWTEXT);
    bool handCursor_ = false;
    bool tracking_ = false;  // for the mouse's leaving
    bool pressed_ = false;   // pressed inside, the mouse captured until released
};

// A flat-looking push button with a 16-colour glyph whose bottom-left colour
// is transparent; it never takes the keyboard focus and lies beneath the
// other controls of its parent. The glyph stays the picture it is, at any dpi.
class SpeedButton : public BaseWindow {
public:
    struct CreateArgs {
        int glyph = 0;  // the program's bitmap resource
        NotifyEvent onClick{};
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    // The colour drawn transparent (the glyph's bottom-left pixel), or
    // CLR_INVALID without a glyph.
    COLORREF TransparentColor() const { return transparent_; }
    bool HasGlyph() const { return static_cast<bool>(glyphs_); }

    NotifyEvent OnClick;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
    void SetPressed(bool pressed);

    UniqueImageList glyphs_;
    COLORREF transparent_ = CLR_INVALID;
    bool pressed_ = false;
    bool tracking_ = false;
};

// A one-line text box without a length limit. OnChange runs once for each
// actual change of the text, typed or set; setting the text it holds runs
// nothing. Entered from the keyboard it selects its whole text, so that typing
// replaces it; entered by a click it places the caret where clicked.
class Edit : public Control {
public:
    struct CreateArgs {
        std::wstring text{};
        NotifyEvent onChange{};
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    void SetText(const std::string& text) override;
    void FocusEntered() override;

    NotifyEvent OnChange;

    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    LRESULT SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void TextMayHaveChanged();

    std::wstring known_;
    bool clicking_ = false;
};

// A push button that is neither the default nor the cancel button.
class Button : public Control {
public:
    struct CreateArgs {
        std::wstring caption{};
        NotifyEvent onClick{};
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    NotifyEvent OnClick;
};

// A check box with its box left of the text.
class CheckBox : public Control {
public:
    struct CreateArgs {
        std::wstring caption{};  // unchecked as made
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    bool Checked() const;
    void SetChecked(bool checked);
    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// A multi-line text box without a text limit, both scroll bars, no wrapping.
// Lines are separated by CR LF; the line count does not count an empty last
// line.
class Memo : public Control {
public:
    struct CreateArgs {
        std::wstring text{};
    };
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args);
    void SetText(const std::string& text) override;
    int LineCount() const;
    void Clear();
    // Adds a line after the last one.
    void AppendLine(const std::string& line);

    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Asking the control about its lines walks all of them, so the answer is
    // kept until a change made elsewhere (typing, a whole-text assignment).
    void CountLines() const;

    mutable int lineCount_ = -1;         // not counting an empty last line; -1: not known
    mutable bool lastLineOpen_ = false;  // the last line has no break of its own
    bool appending_ = false;
};

// A status bar of one part with a size grip.
class StatusBar : public Control {
public:
    struct CreateArgs {};
    void Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args = {});
};

// The tool-tips of a form's controls.
class ToolTips {
public:
    ToolTips() = default;
    ToolTips(const ToolTips&) = delete;
    ToolTips& operator=(const ToolTips&) = delete;
    ~ToolTips();

    // Shown after initialMs, for autoPopMs. Throws runtime::EOSError when the
    // window cannot be made.
    void Create(HWND owner, int initialMs, int autoPopMs);
    // The text must outlive the tool-tips.
    void Add(const Control& control, const wchar_t* text);
    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace ui
