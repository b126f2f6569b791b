// Thin wrappers over the standard controls (and two of our own) with typed
// accessors and event members. Each Create throws runtime::EOSError when its
// window or a resource it needs cannot be made.
#pragma once

#include "runtime/gdi_handles.h"
#include "ui/base_window.h"

#include <commctrl.h>

#include <string>

namespace ui {

// A container with a raised outer and a lowered inner bevel.
class Panel : public BaseWindow {
public:
    void Create(BaseWindow& parent, const Bounds& bounds);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A caption that sizes itself to its text, with the hand cursor, mouse-move
// and mouse-leave events and a font colour of its own.
class Label : public Control {
public:
    void Create(BaseWindow& parent, const Bounds& bounds, const std::wstring& caption);
    void SetText(const std::string& text) override;
    void SetFont(HFONT font) override;
    COLORREF FontColor() const { return color_; }
    void SetFontColor(COLORREF color);
    void SetHandCursor(bool hand) { handCursor_ = hand; }

    NotifyEvent OnMouseMove;
    NotifyEvent OnMouseLeave;

    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

protected:
    LRESULT SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void SizeToText();

    COLORREF color_ = GetSysColor(COLOR_WINDOWTEXT);
    bool handCursor_ = false;
    bool tracking_ = false;
};

// A flat-looking push button with a 16-colour glyph whose bottom-left colour
// is transparent; it never takes the keyboard focus.
class SpeedButton : public BaseWindow {
public:
    void Create(BaseWindow& parent, const Bounds& bounds, int glyphResource);
    // The colour drawn transparent (the glyph's bottom-left pixel), or
    // CLR_INVALID without a glyph.
    COLORREF TransparentColor() const { return transparent_; }
    bool HasGlyph() const { return static_cast<bool>(glyphs_); }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
    void SetPressed(bool pressed);

    runtime::UniqueImageList glyphs_;
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
    void Create(BaseWindow& parent, const Bounds& bounds, const std::wstring& text);
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
    void Create(BaseWindow& parent, const Bounds& bounds, const std::wstring& caption);
    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// A check box with its box left of the text.
class CheckBox : public Control {
public:
    void Create(BaseWindow& parent, const Bounds& bounds, const std::wstring& caption);
    bool Checked() const;
    void SetChecked(bool checked);
    bool HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

// A multi-line text box without a text limit, both scroll bars, no wrapping.
// Lines are separated by CR LF; the line count does not count an empty last
// line.
class Memo : public Control {
public:
    void Create(BaseWindow& parent, const Bounds& bounds, const std::wstring& text);
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
    void Create(BaseWindow& parent, const Bounds& bounds);
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
