#include "window/form_layout.h"

#include "window/product_profile.h"
#include "window/resource_ids.h"
#include "window/tforminstallprogram.h"

namespace {

using F = TFormInstallProgram;

template <auto Member>
Control& Field(F& form) {
    return form.*Member;
}

const FontSpec kFormFont{L"Tahoma", -11, false, DEFAULT_CHARSET};
const FontSpec kRunFlagFont{L"MS Sans Serif", -11, false, DEFAULT_CHARSET};
const FontSpec kLogFont{L"Courier New", -12, false, RUSSIAN_CHARSET, FIXED_PITCH | FF_MODERN};
const FontSpec kSiteFont{L"Tahoma", -11, true, DEFAULT_CHARSET};

constexpr unsigned kTopLeft = akLeft | akTop;

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

const std::vector<ControlLayout>& FormInstallProgramLayout() {
    static const std::vector<ControlLayout> layout = {
        {.name = "PanelTop", .kind = ControlKind::Panel, .control = Field<&F::PanelTop>,
         .bounds = {0, 0, 644, 57}, .anchors = akLeft | akTop | akRight},
        {.name = "Label1", .kind = ControlKind::Label, .control = Field<&F::Label1>, .parent = Field<&F::PanelTop>,
         .bounds = {16, 12, 102, 13}, .anchors = kTopLeft, .text = L"Каталог установки:",
         .hint = L"Открыть каталог", .handCursor = true, .onClick = &F::Label1Click,
         .onMouseMove = &F::Label1MouseMove, .onMouseLeave = &F::Label1MouseLeave},
        {.name = "SBOpenPathDest", .kind = ControlKind::SpeedButton, .control = Field<&F::SBOpenPathDest>,
         .parent = Field<&F::PanelTop>, .bounds = {452, 9, 32, 21}, .anchors = akTop | akRight,
         .glyph = IDB_FOLDER_TREE, .onClick = &F::SBOpenPathDestClick},
        {.name = "EditPathDest", .kind = ControlKind::Edit, .control = Field<&F::EditPathDest>,
         .parent = Field<&F::PanelTop>, .bounds = {124, 9, 320, 21}, .anchors = kTopLeft, .text = L"EditPathDest",
         .onChange = &F::EditPathDestChange},
        {.name = "updates", .kind = ControlKind::Button, .control = Field<&F::updates>, .parent = Field<&F::PanelTop>,
         .bounds = {491, 9, 70, 21}, .anchors = kTopLeft, .text = L"Установить", .hint = L"Скачать файлы с сайта",
         .onClick = &F::updatesClick},
        {.name = "dovrin", .kind = ControlKind::Button, .control = Field<&F::dovrin>, .parent = Field<&F::PanelTop>,
         .bounds = {565, 9, 70, 21}, .anchors = kTopLeft, .text = L"Отмена", .onClick = &F::dovrinClick},
        {.name = "CheckBoxRun", .kind = ControlKind::CheckBox, .control = Field<&F::CheckBoxRun>,
         .parent = Field<&F::PanelTop>, .bounds = {417, 36, 217, 14}, .anchors = kTopLeft,
         .text = L"Запустить программу после установки", .font = &kRunFlagFont},
        {.name = "MemoInform", .kind = ControlKind::Memo, .control = Field<&F::MemoInform>,
         .bounds = {0, 57, 644, 265}, .anchors = akLeft | akTop | akRight | akBottom, .text = WelcomeText(),
         .font = &kLogFont},
        {.name = "StatusBar1", .kind = ControlKind::StatusBar, .control = Field<&F::StatusBar1>,
         .bounds = {0, 322, 644, 19}, .anchors = akLeft | akRight | akBottom},
        {.name = "LabelSite", .kind = ControlKind::Label, .control = Field<&F::LabelSite>,
         .parent = Field<&F::PanelTop>, .bounds = {16, 38, 87, 13}, .anchors = kTopLeft, .text = kMakerSiteHostW,
         .font = &kSiteFont, .hint = L"Перейти на сайт разработчика", .handCursor = true,
         .onClick = &F::LabelSiteClick, .onMouseMove = &F::Label1MouseMove, .onMouseLeave = &F::Label1MouseLeave},
    };
    return layout;
}

void LoadFormLayout(F& form) {
    form.CreateForm(L"FormInstallProgram", kFormClientWidth, kFormClientHeight, kFormSmallestSize);

    auto makeFont = [&form](const FontSpec& wanted) {
        HFONT font = CreateFontW(wanted.height, 0, 0, 0, wanted.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                 wanted.charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 wanted.pitchAndFamily, wanted.face);
        form.fonts_.emplace_back(font);
        return font;
    };
    auto bind = [&form](FormHandler handler) -> NotifyEvent {
        if (handler == nullptr) return {};
        return [&form, handler](Control& sender) { (form.*handler)(sender); };
    };
    HFONT formFont = makeFont(kFormFont);
    form.hints_.Create(form.Handle(), 500, 2500);

    for (const ControlLayout& entry : FormInstallProgramLayout()) {
        BaseWindow& parent = entry.parent != nullptr ? static_cast<BaseWindow&>(entry.parent(form)) : form;
        Control& control = entry.control(form);
        switch (entry.kind) {
        case ControlKind::Panel:
            static_cast<Panel&>(control).Create(parent, entry.bounds);
            break;
        case ControlKind::Label:
            static_cast<Label&>(control).Create(parent, entry.bounds, entry.text);
            break;
        case ControlKind::SpeedButton:
            static_cast<SpeedButton&>(control).Create(parent, entry.bounds, entry.glyph);
            break;
        case ControlKind::Edit:
            static_cast<Edit&>(control).Create(parent, entry.bounds, entry.text);
            break;
        case ControlKind::Button:
            static_cast<Button&>(control).Create(parent, entry.bounds, entry.text);
            break;
        case ControlKind::CheckBox:
            static_cast<CheckBox&>(control).Create(parent, entry.bounds, entry.text);
            break;
        case ControlKind::Memo:
            static_cast<Memo&>(control).Create(parent, entry.bounds, entry.text);
            break;
        case ControlKind::StatusBar:
            static_cast<StatusBar&>(control).Create(parent, entry.bounds);
            break;
        }
        control.SetFont(entry.font != nullptr ? makeFont(*entry.font) : formFont);

        // The parent is still at its design size, except the form, which the
        // platform may have made larger than designed to respect its smallest size.
        RECT parentClient{};
        GetClientRect(parent.Handle(), &parentClient);
        SIZE designParent = &parent == &form ? SIZE{kFormClientWidth, kFormClientHeight}
                                             : SIZE{parentClient.right, parentClient.bottom};
        control.SetAnchors(entry.anchors, designParent);

        // Labels and speed buttons are painted beneath the other controls.
        if (entry.kind == ControlKind::Label || entry.kind == ControlKind::SpeedButton) {
            SetWindowPos(control.Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        if (entry.hint != nullptr) form.hints_.Add(control, entry.hint);

        // Events last: loading the layout raises none.
        control.OnClick = bind(entry.onClick);
        if (entry.kind == ControlKind::Edit) static_cast<Edit&>(control).OnChange = bind(entry.onChange);
        if (entry.kind == ControlKind::Label) {
            auto& label = static_cast<Label&>(control);
            label.SetHandCursor(entry.handCursor);
            label.OnMouseMove = bind(entry.onMouseMove);
            label.OnMouseLeave = bind(entry.onMouseLeave);
        }
    }
    form.OnShow = bind(&F::FormShow);
    form.FollowClientSize();
}
