#include "ui/controls.h"

#include "runtime/exceptions.h"
#include "runtime/gdi_handles.h"
#include "runtime/narrow_text.h"

#include <windowsx.h>

namespace ui {

using runtime::NarrowToWide;
using runtime::ScopedGetDc;
using runtime::ScopedSelectObject;

namespace {

HBRUSH FaceBrush() { return GetSysColorBrush(COLOR_BTNFACE); }

// Labels and speed buttons are painted beneath the other controls, as if
// drawn on their parent.
void SendToBack(HWND control) {
    SetWindowPos(control, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT PaintFace(HDC dc) {
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(FaceBrush());
}

}  // namespace

// Panel

void Panel::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs&) {
    CreateOwnWindow({L"TPanel", FaceBrush(), nullptr}, &parent, WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT,
                    bounds, L"");
}

LRESULT Panel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        RECT rect;
        GetClientRect(hwnd_, &rect);
        DrawEdge(dc, &rect, BDR_RAISEDOUTER, BF_RECT);
        InflateRect(&rect, -1, -1);
        DrawEdge(dc, &rect, BDR_SUNKENINNER, BF_RECT);
        EndPaint(hwnd_, &paint);
        return 0;
    }
    case WM_SIZE:
        // The bevels follow the edges.
        InvalidateRect(hwnd_, nullptr, TRUE);
        break;
    default:
        break;
    }
    return BaseWindow::HandleMessage(message, wParam, lParam);
}

// Label

void Label::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    // Labels never wrap: a caption a pixel wider than measured still shows whole.
    CreateChild(parent, L"STATIC", SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_NOPREFIX, 0, bounds, args.caption);
    SizeToText();
    SendToBack(hwnd_);
    handCursor_ = args.handCursor;
    OnClick = args.onClick;
    OnMouseMove = args.onMouseMove;
    OnMouseLeave = args.onMouseLeave;
}

void Label::SetText(const std::string& text) {
    Control::SetText(text);
    SizeToText();
}

void Label::SetFont(HFONT font) {
    Control::SetFont(font);
    SizeToText();
}

void Label::SizeToText() {
    std::wstring text = WideText();
    RECT rect{0, 0, 0, 0};
    {
        ScopedGetDc dc(hwnd_);
        if (!dc) throw runtime::LastOSError("Cannot measure a label");
        ScopedSelectObject font(dc.get(), Font() != nullptr ? static_cast<HGDIOBJ>(Font()) : GetStockObject(SYSTEM_FONT));
        DrawTextW(dc.get(), text.empty() ? L" " : text.c_str(), -1, &rect, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    }
    if (text.empty()) rect.right = 0;
    SetWindowPos(hwnd_, nullptr, 0, 0, rect.right, rect.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Label::SetFontColor(COLORREF color) {
    if (color == color_) return;
    color_ = color;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

bool Label::HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_CTLCOLORSTATIC) {
        auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, color_);
        result = PaintFace(dc);
        return true;
    }
    return Control::HandleNotification(message, wParam, lParam, result);
}

LRESULT Label::SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETCURSOR:
        if (handCursor_) {
            SetCursor(LoadCursorA(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        if (!tracking_) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
            tracking_ = TrackMouseEvent(&track) != FALSE;
        }
        Fire(OnMouseMove);
        break;
    case WM_MOUSELEAVE:
        tracking_ = false;
        Fire(OnMouseLeave);
        break;
    // The static control reports a click (STN_CLICKED) as the button goes
    // down; its notify style stays only so that the mouse reaches it at all.
    case WM_LBUTTONDOWN:
        SetCapture(hwnd_);
        pressed_ = true;
        return 0;
    case WM_LBUTTONDBLCLK:
        return 0;
    case WM_LBUTTONUP: {
        if (!pressed_) return 0;
        pressed_ = false;
        ReleaseCapture();
        RECT rect;
        GetClientRect(hwnd_, &rect);
        if (PtInRect(&rect, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) Fire(OnClick);
        return 0;
    }
    case WM_CAPTURECHANGED:
        // Taken away before the release (a window that took the mouse).
        pressed_ = false;
        break;
    default:
        break;
    }
    return Control::SubclassMessage(message, wParam, lParam);
}

// SpeedButton

void SpeedButton::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    CreateOwnWindow({L"TSpeedButton", FaceBrush(), nullptr}, &parent, WS_VISIBLE, 0, bounds, L"");
    SendToBack(hwnd_);
    const int glyphResource = args.glyph;
    runtime::UniqueGdiObject bitmap(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(glyphResource), IMAGE_BITMAP, 0, 0, 0));
    if (!bitmap) throw runtime::LastOSError("Cannot load bitmap " + std::to_string(glyphResource));
    auto glyph = static_cast<HBITMAP>(bitmap.get());
    BITMAP info{};
    GetObjectW(glyph, sizeof info, &info);
    {
        runtime::UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
        if (!dc) throw runtime::LastOSError("Cannot read bitmap " + std::to_string(glyphResource));
        ScopedSelectObject selected(dc.get(), glyph);
        transparent_ = GetPixel(dc.get(), 0, info.bmHeight - 1);
    }
    glyphs_.reset(ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, 1, 0));
    if (!glyphs_ || ImageList_AddMasked(glyphs_.get(), glyph, transparent_) < 0) {
        throw runtime::LastOSError("Cannot make the image of bitmap " + std::to_string(glyphResource));
    }
    OnClick = args.onClick;
}

void SpeedButton::SetPressed(bool pressed) {
    if (pressed == pressed_) return;
    pressed_ = pressed;
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void SpeedButton::Paint(HDC dc) {
    RECT rect;
    GetClientRect(hwnd_, &rect);
    DrawFrameControl(dc, &rect, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed_ ? DFCS_PUSHED : 0));
    if (!glyphs_) return;
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(glyphs_.get(), &width, &height);
    int shift = pressed_ ? 1 : 0;
    ImageList_Draw(glyphs_.get(), 0, dc, (rect.right - width) / 2 + shift, (rect.bottom - height) / 2 + shift,
                   ILD_TRANSPARENT);
}

LRESULT SpeedButton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        Paint(dc);
        EndPaint(hwnd_, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        // No SetFocus: the button leaves the keyboard focus where it is.
        SetCapture(hwnd_);
        tracking_ = true;
        SetPressed(true);
        return 0;
    case WM_MOUSEMOVE:
        if (tracking_) {
            RECT rect;
            GetClientRect(hwnd_, &rect);
            SetPressed(PtInRect(&rect, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}) != FALSE);
        }
        return 0;
    case WM_LBUTTONUP: {
        if (!tracking_) return 0;
        bool clicked = pressed_;
        tracking_ = false;
        SetPressed(false);
        ReleaseCapture();
        if (clicked) Fire(OnClick);
        return 0;
    }
    case WM_CAPTURECHANGED:
        tracking_ = false;
        SetPressed(false);
        return 0;
    default:
        return BaseWindow::HandleMessage(message, wParam, lParam);
    }
}

// Edit

void Edit::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    CreateChild(parent, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, bounds, args.text);
    SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);
    known_ = WideText();
    OnChange = args.onChange;
}

void Edit::SetText(const std::string& text) {
    std::wstring wide = NarrowToWide(text);
    if (wide == WideText()) return;
    SetWideText(wide);
    // EN_CHANGE has normally reported it already; this covers a box that does not.
    TextMayHaveChanged();
}

void Edit::FocusEntered() {
    if (!clicking_) SendMessageW(hwnd_, EM_SETSEL, 0, -1);
}

LRESULT Edit::SubclassMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_LBUTTONDOWN && message != WM_LBUTTONDBLCLK) {
        return Control::SubclassMessage(message, wParam, lParam);
    }
    // The box takes the focus inside its handling of the click.
    clicking_ = true;
    LRESULT result = Control::SubclassMessage(message, wParam, lParam);
    clicking_ = false;
    return result;
}

void Edit::TextMayHaveChanged() {
    std::wstring now = WideText();
    if (now == known_) return;
    known_ = std::move(now);
    Fire(OnChange);
}

bool Edit::HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) {
        TextMayHaveChanged();
        result = 0;
        return true;
    }
    return Control::HandleNotification(message, wParam, lParam, result);
}

// Button

void Button::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    CreateChild(parent, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, bounds, args.caption);
    OnClick = args.onClick;
}

bool Button::HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        Fire(OnClick);
        result = 0;
        return true;
    }
    return Control::HandleNotification(message, wParam, lParam, result);
}

// CheckBox

void CheckBox::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    CreateChild(parent, L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0, bounds, args.caption);
}

bool CheckBox::Checked() const { return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void CheckBox::SetChecked(bool checked) {
    SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool CheckBox::HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) {
        auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        result = PaintFace(dc);
        return true;
    }
    return Control::HandleNotification(message, wParam, lParam, result);
}

// Memo

void Memo::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs& args) {
    CreateChild(parent, L"EDIT", WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                    ES_AUTOHSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
                WS_EX_CLIENTEDGE, bounds, L"");
    // Without this a multi-line box stops at 30000 characters.
    SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);
    SetWideText(args.text);
}

void Memo::CountLines() const {
    auto count = static_cast<int>(SendMessageW(hwnd_, EM_GETLINECOUNT, 0, 0));
    LRESULT lastStart = SendMessageW(hwnd_, EM_LINEINDEX, static_cast<WPARAM>(count > 0 ? count - 1 : 0), 0);
    lastLineOpen_ = lastStart >= 0 && SendMessageW(hwnd_, EM_LINELENGTH, static_cast<WPARAM>(lastStart), 0) > 0;
    lineCount_ = lastLineOpen_ ? count : count - 1;
    if (lineCount_ < 0) lineCount_ = 0;
}

void Memo::SetText(const std::string& text) {
    Control::SetText(text);
    // A multi-line edit reports no change for a whole-text assignment.
    lineCount_ = -1;
}

int Memo::LineCount() const {
    if (lineCount_ < 0) CountLines();
    return lineCount_;
}

void Memo::Clear() {
    SetWideText(L"");
    lineCount_ = 0;
    lastLineOpen_ = false;
}

void Memo::AppendLine(const std::string& line) {
    if (lineCount_ < 0) CountLines();
    std::wstring insert;
    if (lastLineOpen_) insert = L"\r\n";  // the last line has no break of its own
    insert += NarrowToWide(line);
    insert += L"\r\n";
    int length = GetWindowTextLengthW(hwnd_);
    appending_ = true;
    // Placing the caret walks every line; after our own append it is at the end already.
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (start != static_cast<DWORD>(length) || end != static_cast<DWORD>(length)) {
        SendMessageW(hwnd_, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    }
    SendMessageW(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(insert.c_str()));
    appending_ = false;
    if (line.find_first_of("\r\n") == std::string::npos) {
        ++lineCount_;
        lastLineOpen_ = false;
    } else {
        lineCount_ = -1;  // the line brings breaks of its own: count them again
    }
}

bool Memo::HandleNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && !appending_) lineCount_ = -1;
    return Control::HandleNotification(message, wParam, lParam, result);
}

// StatusBar

void StatusBar::Create(BaseWindow& parent, const Bounds& bounds, const CreateArgs&) {
    // Placed by its anchors like every other control, not by itself.
    CreateChild(parent, STATUSCLASSNAMEW, SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, bounds, L"");
    int rightEdges[] = {-1};  // the one part spans the bar
    SendMessageW(hwnd_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(rightEdges));
}

// ToolTips

ToolTips::~ToolTips() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void ToolTips::Create(HWND owner, int initialMs, int autoPopMs) {
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr) throw runtime::LastOSError("Cannot create the tool-tips");
    SendMessageW(hwnd_, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(initialMs, 0));
    SendMessageW(hwnd_, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(autoPopMs, 0));
}

void ToolTips::Add(const Control& control, const wchar_t* text) {
    TOOLINFOW tool{};
    // The size that every version of the common controls accepts.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(control.Handle());
    tool.uId = reinterpret_cast<UINT_PTR>(control.Handle());
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(hwnd_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace ui
