#include "window/form_layout.h"

#include "runtime/exceptions.h"
#include "runtime/gdi_handles.h"
#include "runtime/narrow_text.h"
#include "ui/controls.h"
#include "window/product_profile.h"
#include "window/resource_ids.h"
#include "window/tforminstallprogram.h"

#include <vector>

using ui::akBottom;
using ui::akLeft;
using ui::akRight;
using ui::akTop;
using ui::BaseWindow;
using ui::Control;

namespace {

using F = TFormInstallProgram;

struct FontDesign {
    const wchar_t* face;
    int height;
    bool bold;
    BYTE charset;
    // What a stand-in must be like where the face is missing.
    BYTE pitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
};

using FormHandler = void (F::*)(Control& sender);
struct ControlLayout;

// A control of the form, reached through its member, with what the layout
// does for its kind; the kind comes from the member's type.
struct ControlOfForm {
    Control& (*get)(F& form);
    // bounds: the entry's, scaled to the screen.
    void (*create)(F& form, BaseWindow& parent, const ControlLayout& entry, const ui::Bounds& bounds);
    void (*wire)(F& form, const ControlLayout& entry);
};

struct ControlLayout {
    ControlOfForm control;
    BaseWindow& (*parent)(F& form) = nullptr;  // nullptr: the form itself
    ui::Bounds bounds;
    unsigned anchors = akLeft | akTop;
    int tabOrder = -1;  // among the parent's controls; -1: in the order of the table
    std::wstring text = L"";
    const FontDesign* font = nullptr;  // nullptr: the form's font
    const wchar_t* hint = nullptr;   // nullptr: no tool-tip
    bool handCursor = false;         // labels
    int glyph = 0;                   // bitmap resource of a speed button
    FormHandler onClick = nullptr;
    FormHandler onChange = nullptr;      // edit boxes
    FormHandler onMouseMove = nullptr;   // labels
    FormHandler onMouseLeave = nullptr;  // labels
};

// Labels and speed buttons are painted beneath the other controls.
void SendToBack(const Control& control) {
    SetWindowPos(control.Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

using ui::Bounds;

void Create(ui::Panel& panel, BaseWindow& parent, const ControlLayout&, const Bounds& bounds) {
    panel.Create(parent, bounds);
}
void Create(ui::Label& label, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    label.Create(parent, bounds, entry.text);
    SendToBack(label);
}
void Create(ui::SpeedButton& button, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    // The glyph stays the picture it is, at any dpi.
    button.Create(parent, bounds, entry.glyph);
    SendToBack(button);
}
void Create(ui::Edit& edit, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    edit.Create(parent, bounds, entry.text);
}
void Create(ui::Button& button, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    button.Create(parent, bounds, entry.text);
}
void Create(ui::CheckBox& box, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    box.Create(parent, bounds, entry.text);
}
void Create(ui::Memo& memo, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
    memo.Create(parent, bounds, entry.text);
}
void Create(ui::StatusBar& bar, BaseWindow& parent, const ControlLayout&, const Bounds& bounds) {
    bar.Create(parent, bounds);
}

ui::NotifyEvent Bind(F& form, FormHandler handler) {
    if (handler == nullptr) return {};
    return [&form, handler](Control& sender) { (form.*handler)(sender); };
}

void Wire(Control& control, F& form, const ControlLayout& entry) { control.OnClick = Bind(form, entry.onClick); }
void Wire(ui::Edit& edit, F& form, const ControlLayout& entry) {
    edit.OnClick = Bind(form, entry.onClick);
    edit.OnChange = Bind(form, entry.onChange);
}
void Wire(ui::Label& label, F& form, const ControlLayout& entry) {
    label.OnClick = Bind(form, entry.onClick);
    label.SetHandCursor(entry.handCursor);
    label.OnMouseMove = Bind(form, entry.onMouseMove);
    label.OnMouseLeave = Bind(form, entry.onMouseLeave);
}

template <auto Member>
constexpr ControlOfForm Of{
    [](F& form) -> Control& { return form.*Member; },
    [](F& form, BaseWindow& parent, const ControlLayout& entry, const Bounds& bounds) {
        Create(form.*Member, parent, entry, bounds);
    },
    [](F& form, const ControlLayout& entry) { Wire(form.*Member, form, entry); },
};

template <auto Member>
BaseWindow& In(F& form) {
    return form.*Member;
}

const FontDesign kFormFont{L"Tahoma", -11, false, DEFAULT_CHARSET};
const FontDesign kRunFlagFont{L"MS Sans Serif", -11, false, DEFAULT_CHARSET};
const FontDesign kLogFont{L"Courier New", -12, false, RUSSIAN_CHARSET, FIXED_PITCH | FF_MODERN};
const FontDesign kSiteFont{L"Tahoma", -11, true, DEFAULT_CHARSET};

constexpr unsigned kTopLeft = akLeft | akTop;

// The controls in the order the form declares them.
const std::vector<ControlLayout>& FormInstallProgramLayout() {
    static const std::vector<ControlLayout> layout = {
        {.control = Of<&F::PanelTop>, .bounds = {0, 0, 644, 57}, .anchors = akLeft | akTop | akRight, .tabOrder = 0},
        {.control = Of<&F::Label1>, .parent = In<&F::PanelTop>, .bounds = {16, 12, 102, 13}, .anchors = kTopLeft,
         .text = L"Каталог установки:", .hint = L"Открыть каталог", .handCursor = true, .onClick = &F::Label1Click,
         .onMouseMove = &F::Label1MouseMove, .onMouseLeave = &F::Label1MouseLeave},
        {.control = Of<&F::SBOpenPathDest>, .parent = In<&F::PanelTop>, .bounds = {452, 9, 32, 21},
         .anchors = akTop | akRight, .glyph = IDB_FOLDER_TREE, .onClick = &F::SBOpenPathDestClick},
        {.control = Of<&F::EditPathDest>, .parent = In<&F::PanelTop>, .bounds = {124, 9, 320, 21},
         .anchors = kTopLeft, .tabOrder = 0, .text = L"EditPathDest", .onChange = &F::EditPathDestChange},
        {.control = Of<&F::updates>, .parent = In<&F::PanelTop>, .bounds = {491, 9, 70, 21}, .anchors = kTopLeft,
         .tabOrder = 1, .text = L"Установить", .hint = L"Скачать файлы с сайта", .onClick = &F::updatesClick},
        {.control = Of<&F::dovrin>, .parent = In<&F::PanelTop>, .bounds = {565, 9, 70, 21}, .anchors = kTopLeft,
         .tabOrder = 2, .text = L"Отмена", .onClick = &F::dovrinClick},
        {.control = Of<&F::CheckBoxRun>, .parent = In<&F::PanelTop>, .bounds = {417, 36, 217, 14},
         .anchors = kTopLeft, .tabOrder = 3, .text = L"Запустить программу после установки", .font = &kRunFlagFont},
        {.control = Of<&F::MemoInform>, .bounds = {0, 57, 644, 265}, .anchors = akLeft | akTop | akRight | akBottom,
         .tabOrder = 1, .text = WelcomeText(), .font = &kLogFont},
        {.control = Of<&F::StatusBar1>, .bounds = {0, 322, 644, 19}, .anchors = akLeft | akRight | akBottom},
        {.control = Of<&F::LabelSite>, .parent = In<&F::PanelTop>, .bounds = {16, 38, 87, 13}, .anchors = kTopLeft,
         .text = kMakerSiteHostW, .font = &kSiteFont, .hint = L"Перейти на сайт разработчика", .handCursor = true,
         .onClick = &F::LabelSiteClick, .onMouseMove = &F::Label1MouseMove, .onMouseLeave = &F::Label1MouseLeave},
    };
    return layout;
}

// height: the designed one, scaled to the screen.
HFONT MakeFont(const FontDesign& wanted, int height, std::vector<runtime::UniqueGdiObject>& owner) {
    HFONT font = CreateFontW(height, 0, 0, 0, wanted.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             wanted.charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             wanted.pitchAndFamily, wanted.face);
    if (font == nullptr) {
        throw runtime::LastOSError("Cannot create font \"" + runtime::WideToNarrow(wanted.face) + "\"");
    }
    owner.emplace_back(font);
    return font;
}

}  // namespace

std::wstring WelcomeText() {
    const std::wstring site = kMakerSiteHostW;
    const std::wstring lines[] = {
        L"Выберите каталог установки и нажмите кнопку \"Установить\".",
        L"Данный установщик только скачивает необходимые файлы в указанную папку.",
        L"Перед запуском программы можно проверить все скачанные файлы на вирусы.",
        L"",
        L"Программа Tirven распространяется БЕСПЛАТНО!",
        L"Программа Tirven может использоваться как в личных так и в коммерческих целях БЕСПЛАТНО!",
        L"Обновление и поддержка программы находятся на сайте " + site,
        L"Все вопросы и пожелания отправляйте по почте " + std::wstring(kMakerEmailW),
        L"",
        L"P.S. Если Вы считаете, что эта программа чего-то стоит,",
        L"     или хотите поддержать ее дальнейшее развитие,",
        L"     то Вы можете перечислить любую сумму автору программы минуя посредников.",
        L"     Номера интернет-кошельков можно найти на сайте " + site + L".",
        L"",
        L"Dovrin - Независимый разработчик компьютерных программ.",
    };
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\r\n";
    return text;
}

void LoadFormLayout(F& form) {
    form.CreateForm({L"TFormInstallProgram", IDI_PROGRAM, L"FormInstallProgram", kFormClientWidth, kFormClientHeight,
                     kFormSmallestSize});
    auto makeFont = [&form](const FontDesign& wanted) {
        return MakeFont(wanted, form.Scaled(wanted.height), form.fonts_);
    };
    HFONT formFont = makeFont(kFormFont);
    form.hints_.Create(form.Handle(), 500, 2500);

    for (const ControlLayout& entry : FormInstallProgramLayout()) {
        BaseWindow& parent = entry.parent != nullptr ? entry.parent(form) : form;
        entry.control.create(form, parent, entry, form.Scaled(entry.bounds));
        Control& control = entry.control.get(form);
        if (entry.tabOrder >= 0) control.SetTabOrder(entry.tabOrder);
        control.SetFont(entry.font != nullptr ? makeFont(*entry.font) : formFont);

        // The parent is still at its design size, except the form, which the
        // platform may have made larger than designed to respect its smallest size.
        RECT parentClient{};
        GetClientRect(parent.Handle(), &parentClient);
        SIZE designParent =
            &parent == &form ? form.DesignedClientSize() : SIZE{parentClient.right, parentClient.bottom};
        control.SetAnchors(entry.anchors, designParent);
        if (entry.hint != nullptr) form.hints_.Add(control, entry.hint);
        // Events last: loading the layout raises none.
        entry.control.wire(form, entry);
    }
    form.OnShow = Bind(form, &F::FormShow);
    form.FollowClientSize();
}
