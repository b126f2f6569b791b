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

constexpr unsigned kTopLeft = akLeft | akTop;

// What the form gives a control of any kind: its place at 96 dpi, the edges
// it keeps, its tab order, font and tool-tip. What only some kinds have (texts,
// events, the glyph) is in each kind's own CreateArgs.
struct Place {
    ui::Bounds bounds;
    unsigned anchors = kTopLeft;
    int tabOrder = -1;                 // among the parent's controls; -1: in the order made
    const FontDesign* font = nullptr;  // nullptr: the form's font
    const wchar_t* hint = nullptr;     // nullptr: no tool-tip
};

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

// Makes the form's controls one by one, in the order of the layout.
class Layout {
public:
    // fonts and hints: the form's own, which its controls borrow.
    Layout(F& form, std::vector<runtime::UniqueGdiObject>& fonts, ui::ToolTips& hints, const FontDesign& formFont)
        : form_(form), fonts_(fonts), hints_(hints), formFont_(MakeScaledFont(formFont)) {}

    template <typename Kind>
    void operator()(Kind& control, BaseWindow& parent, const Place& place,
                    const typename Kind::CreateArgs& args = {}) {
        control.Create(parent, form_.Scaled(place.bounds), args);
        Arrange(control, parent, place);
    }

    // An event that runs one of the form's handlers.
    ui::NotifyEvent On(FormHandler handler) const {
        return [&form = form_, handler](Control& sender) { (form.*handler)(sender); };
    }

private:
    void Arrange(Control& control, BaseWindow& parent, const Place& place) {
        if (place.tabOrder >= 0) control.SetTabOrder(place.tabOrder);
        control.SetFont(place.font != nullptr ? MakeScaledFont(*place.font) : formFont_);
        // The parent is still at its design size, except the form, which the
        // platform may have made larger than designed to respect its smallest size.
        RECT parentClient{};
        GetClientRect(parent.Handle(), &parentClient);
        SIZE designParent =
            &parent == &form_ ? form_.DesignedClientSize() : SIZE{parentClient.right, parentClient.bottom};
        control.SetAnchors(place.anchors, designParent);
        if (place.hint != nullptr) hints_.Add(control, place.hint);
    }

    HFONT MakeScaledFont(const FontDesign& wanted) { return MakeFont(wanted, form_.Scaled(wanted.height), fonts_); }

    F& form_;
    std::vector<runtime::UniqueGdiObject>& fonts_;
    ui::ToolTips& hints_;
    HFONT formFont_;  // one of fonts_
};

const FontDesign kFormFont{L"Tahoma", -11, false, DEFAULT_CHARSET};
const FontDesign kRunFlagFont{L"MS Sans Serif", -11, false, DEFAULT_CHARSET};
const FontDesign kLogFont{L"Courier New", -12, false, RUSSIAN_CHARSET, FIXED_PITCH | FF_MODERN};
const FontDesign kSiteFont{L"Tahoma", -11, true, DEFAULT_CHARSET};

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
    form.hints_.Create(form.Handle(), 500, 2500);
    Layout add(form, form.fonts_, form.hints_, kFormFont);
    ui::Panel& top = form.PanelTop;

    // The controls in the order the form declares them; loading them raises no event.
    add(form.PanelTop, form, {.bounds = {0, 0, 644, 57}, .anchors = akLeft | akTop | akRight, .tabOrder = 0});
    add(form.Label1, top, {.bounds = {16, 12, 102, 13}, .hint = L"Открыть каталог"},
        {.caption = L"Каталог установки:", .handCursor = true, .onClick = add.On(&F::Label1Click),
         .onMouseMove = add.On(&F::Label1MouseMove), .onMouseLeave = add.On(&F::Label1MouseLeave)});
    add(form.SBOpenPathDest, top, {.bounds = {452, 9, 32, 21}, .anchors = akTop | akRight},
        {.glyph = IDB_FOLDER_TREE, .onClick = add.On(&F::SBOpenPathDestClick)});
    add(form.EditPathDest, top, {.bounds = {124, 9, 320, 21}, .tabOrder = 0},
        {.text = L"EditPathDest", .onChange = add.On(&F::EditPathDestChange)});
    add(form.updates, top, {.bounds = {491, 9, 70, 21}, .tabOrder = 1, .hint = L"Скачать файлы с сайта"},
        {.caption = L"Установить", .onClick = add.On(&F::updatesClick)});
    add(form.dovrin, top, {.bounds = {565, 9, 70, 21}, .tabOrder = 2},
        {.caption = L"Отмена", .onClick = add.On(&F::dovrinClick)});
    add(form.CheckBoxRun, top, {.bounds = {417, 36, 217, 14}, .tabOrder = 3, .font = &kRunFlagFont},
        {.caption = L"Запустить программу после установки"});
    add(form.MemoInform, form,
        {.bounds = {0, 57, 644, 265}, .anchors = akLeft | akTop | akRight | akBottom, .tabOrder = 1,
         .font = &kLogFont},
        {.text = WelcomeText()});
    add(form.StatusBar1, form, {.bounds = {0, 322, 644, 19}, .anchors = akLeft | akRight | akBottom});
    add(form.LabelSite, top, {.bounds = {16, 38, 87, 13}, .font = &kSiteFont, .hint = L"Перейти на сайт разработчика"},
        {.caption = kMakerSiteHostW, .handCursor = true, .onClick = add.On(&F::LabelSiteClick),
         .onMouseMove = add.On(&F::Label1MouseMove), .onMouseLeave = add.On(&F::Label1MouseLeave)});

    form.OnShow = add.On(&F::FormShow);
    form.FollowClientSize();
}
