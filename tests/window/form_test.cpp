#include "tests/window/window_fixture.h"

#include "engine/activity_log.h"
#include "runtime/date_time.h"
#include "runtime/file_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_folder.h"
#include "window/form_layout.h"
#include "window/product_profile.h"

#include <shlobj.h>

#include <algorithm>

using namespace runtime;
using namespace engine;
using namespace ui;

namespace {

struct Placement {
    const char* name;
    Control& (*control)(TFormInstallProgram&);
    Bounds design;
    Bounds wider;  // client 900 by 500
};

// A length designed at 96 dpi, on this screen.
int Scaled(int designed) { return MulDiv(designed, ScreenPixelsPerInch(), 96); }

// A place designed at 96 dpi, on this screen: its edges scaled, its size the
// distances between them.
Bounds Scaled(const Bounds& designed) {
    int left = Scaled(designed.left);
    int top = Scaled(designed.top);
    return {left, top, Scaled(designed.left + designed.width) - left, Scaled(designed.top + designed.height) - top};
}

template <auto Member>
Control& Of(TFormInstallProgram& form) {
    return form.*Member;
}

using F = TFormInstallProgram;

// Every windowed control; labels size themselves to their text (below).
const Placement kPlacements[] = {
    {"PanelTop", Of<&F::PanelTop>, {0, 0, 644, 57}, {0, 0, 900, 57}},
    {"SBOpenPathDest", Of<&F::SBOpenPathDest>, {452, 9, 32, 21}, {708, 9, 32, 21}},
    {"EditPathDest", Of<&F::EditPathDest>, {124, 9, 320, 21}, {124, 9, 320, 21}},
    {"updates", Of<&F::updates>, {491, 9, 70, 21}, {491, 9, 70, 21}},
    {"dovrin", Of<&F::dovrin>, {565, 9, 70, 21}, {565, 9, 70, 21}},
    {"CheckBoxRun", Of<&F::CheckBoxRun>, {417, 36, 217, 14}, {417, 36, 217, 14}},
    {"MemoInform", Of<&F::MemoInform>, {0, 57, 644, 265}, {0, 57, 900, 424}},
    {"StatusBar1", Of<&F::StatusBar1>, {0, 322, 644, 19}, {0, 481, 900, 19}},
};

void SetClientSize(HWND hwnd, int width, int height) {
    RECT window{};
    RECT client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    SetWindowPos(hwnd, nullptr, 0, 0, width + (window.right - window.left) - client.right,
                 height + (window.bottom - window.top) - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
}

SIZE ClientSize(HWND hwnd) {
    RECT client{};
    GetClientRect(hwnd, &client);
    return {client.right, client.bottom};
}

SIZE OuterSize(HWND hwnd) {
    RECT window{};
    GetWindowRect(hwnd, &window);
    return {window.right - window.left, window.bottom - window.top};
}

// Where a control stands in a client area of at least the designed size: its
// designed place on this screen, with the edges that follow the window's right
// and bottom edges (those that differ in the wider column) moved by the growth.
Bounds Expected(const Placement& p, SIZE client) {
    int dx = client.cx - Scaled(kFormClientWidth);
    int dy = client.cy - Scaled(kFormClientHeight);
    Bounds bounds = Scaled(p.design);
    if (p.wider.left != p.design.left) bounds.left += dx;
    if (p.wider.width != p.design.width) bounds.width += dx;
    if (p.wider.top != p.design.top) bounds.top += dy;
    if (p.wider.height != p.design.height) bounds.height += dy;
    return bounds;
}

// Mouse button messages to a label, each at a point inside it, the releases
// outside it where asked (the label has the mouse captured then).
void PressLabel(const Label& label, const std::vector<UINT>& messages, bool releasedOutside = false) {
    for (UINT message : messages) {
        bool outside = releasedOutside && message == WM_LBUTTONUP;
        LPARAM at = outside ? MAKELPARAM(static_cast<WORD>(-30), 60) : MAKELPARAM(2, 2);
        SendMessageW(label.Handle(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
    }
}

COLORREF DrawnTextColor(const Label& label) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(GetParent(label.Handle()), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(label.Handle()));
    COLORREF color = GetTextColor(dc);
    DeleteDC(dc);
    return color;
}

std::string Welcome(const std::string& product, const std::string& site, const std::string& email) {
    return "Выберите каталог установки и нажмите кнопку \"Установить\".\r\n"
           "Данный установщик только скачивает необходимые файлы в указанную папку.\r\n"
           "Перед запуском программы можно проверить все скачанные файлы на вирусы.\r\n"
           "\r\n"
           "Программа " + product + " распространяется БЕСПЛАТНО!\r\n"
           "Программа " + product + " может использоваться как в личных так и в коммерческих целях БЕСПЛАТНО!\r\n"
           "Обновление и поддержка программы находятся на сайте " + site + "\r\n"
           "Все вопросы и пожелания отправляйте по почте " + email + "\r\n"
           "\r\n"
           "P.S. Если Вы считаете, что эта программа чего-то стоит,\r\n"
           "     или хотите поддержать ее дальнейшее развитие,\r\n"
           "     то Вы можете перечислить любую сумму автору программы минуя посредников.\r\n"
           "     Номера интернет-кошельков можно найти на сайте " + site + ".\r\n"
           "\r\n"
           "Dovrin - Независимый разработчик компьютерных программ.\r\n";
}

}  // namespace

// Sizes and places are designed at 96 dpi; on another screen every one of
// them is scaled (a run of these tests at 144 dpi: ScreenScaling below).
TEST_F(WindowTest, ControlsStandWhereDesignedAndTheFolderButtonFollowsTheRightEdge) {
    Start();
    // The designed client size, or more where the frame leaves the window
    // below its smallest size (below).
    SIZE client = ClientSize(form->Handle());
    ASSERT_GE(client.cx, Scaled(kFormClientWidth));
    ASSERT_GE(client.cy, Scaled(kFormClientHeight));
    for (const Placement& p : kPlacements) EXPECT_EQ(p.control(*form).GetBounds(), Expected(p, client)) << p.name;
    // Labels keep their top left corner and size themselves to one line of text.
    for (const Label* label : {&form->Label1, &form->LabelSite}) {
        Bounds bounds = label->GetBounds();
        EXPECT_EQ(bounds.left, Scaled(16));
        EXPECT_EQ(bounds.top, Scaled(label == &form->Label1 ? 12 : 38));
        EXPECT_GT(bounds.width, Scaled(40));
        EXPECT_GE(bounds.height, Scaled(12));
        EXPECT_LE(bounds.height, Scaled(16));
    }

    // As much larger as the wider column's 900 by 500 (which at 144 dpi would
    // not fit on the screen).
    SIZE wider{Scaled(kFormClientWidth) + 900 - kFormClientWidth, Scaled(kFormClientHeight) + 500 - kFormClientHeight};
    SetClientSize(form->Handle(), wider.cx, wider.cy);
    ASSERT_EQ(ClientSize(form->Handle()).cx, wider.cx);
    ASSERT_EQ(ClientSize(form->Handle()).cy, wider.cy);
    for (const Placement& p : kPlacements) EXPECT_EQ(p.control(*form).GetBounds(), Expected(p, wider)) << p.name;
    if (ScreenPixelsPerInch() == 96) {
        for (const Placement& p : kPlacements) EXPECT_EQ(p.control(*form).GetBounds(), p.wider) << p.name;
    }
    EXPECT_EQ(form->Label1.GetBounds().left, Scaled(16));
}

TEST_F(WindowTest, WindowIsNeverSmallerThan660By380) {
    Start();
    SetWindowPos(form->Handle(), nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
    SIZE outer = OuterSize(form->Handle());
    EXPECT_EQ(outer.cx, Scaled(660));
    EXPECT_EQ(outer.cy, Scaled(380));
    // The folder button keeps its designed distance to the right edge, 644 - 484.
    EXPECT_EQ(form->SBOpenPathDest.GetBounds().left + form->SBOpenPathDest.GetBounds().width +
                  Scaled(kFormClientWidth) - Scaled(452 + 32),
              ClientSize(form->Handle()).cx);
}

TEST_F(WindowTest, FirstShownAtTheDesignedClientSizeButNeverBelowTheSmallestSize) {
    // Wine's classic frame is thinner than the one the smallest size was
    // designed with: 644 by 341 inside it make only 652 by 368.
    for (bool shown : {false, true}) {
        if (shown) Start();
        SIZE outer = OuterSize(form->Handle());
        SIZE client = ClientSize(form->Handle());
        SIZE frame{outer.cx - client.cx, outer.cy - client.cy};
        EXPECT_EQ(outer.cx, std::max<LONG>(Scaled(660), Scaled(kFormClientWidth) + frame.cx)) << shown;
        EXPECT_EQ(outer.cy, std::max<LONG>(Scaled(380), Scaled(kFormClientHeight) + frame.cy)) << shown;
    }
}

TEST_F(WindowTest, FontsAreTheDesignedOnesWithTheirHeightsScaled) {
    struct Expectation {
        const char* name;
        const Control& control;
        const wchar_t* face;
        int height;
        bool bold;
        BYTE charset;
    };
    const Expectation expected[] = {
        {"Label1", form->Label1, L"Tahoma", -11, false, DEFAULT_CHARSET},
        {"EditPathDest", form->EditPathDest, L"Tahoma", -11, false, DEFAULT_CHARSET},
        {"updates", form->updates, L"Tahoma", -11, false, DEFAULT_CHARSET},
        {"dovrin", form->dovrin, L"Tahoma", -11, false, DEFAULT_CHARSET},
        {"CheckBoxRun", form->CheckBoxRun, L"MS Sans Serif", -11, false, DEFAULT_CHARSET},
        {"MemoInform", form->MemoInform, L"Courier New", -12, false, RUSSIAN_CHARSET},
        {"LabelSite", form->LabelSite, L"Tahoma", -11, true, DEFAULT_CHARSET},
    };
    for (const Expectation& e : expected) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(e.control.Handle(), WM_GETFONT, 0, 0));
        LOGFONTW log{};
        ASSERT_EQ(GetObjectW(font, sizeof log, &log), static_cast<int>(sizeof log)) << e.name;
        EXPECT_EQ(std::wstring(log.lfFaceName), e.face) << e.name;
        EXPECT_EQ(log.lfHeight, Scaled(e.height)) << e.name;
        EXPECT_EQ(log.lfWeight, e.bold ? FW_BOLD : FW_NORMAL) << e.name;
        EXPECT_EQ(log.lfCharSet, e.charset) << e.name;
    }
}

TEST_F(WindowTest, ToolTipsOnlyOnTheFolderLabelTheSiteLabelAndTheInstallButton) {
    Start();
    HWND tips = form->Hints().Handle();
    ASSERT_NE(tips, nullptr);
    EXPECT_EQ(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), 3);
    const std::pair<const Control*, std::wstring> expected[] = {
        {&form->Label1, L"Открыть каталог"},
        {&form->LabelSite, L"Перейти на сайт разработчика"},
        {&form->updates, L"Скачать файлы с сайта"},
    };
    for (const auto& [control, text] : expected) {
        wchar_t buffer[100] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = GetParent(control->Handle());
        tool.uId = reinterpret_cast<UINT_PTR>(control->Handle());
        tool.lpszText = buffer;
        ASSERT_TRUE(SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        EXPECT_EQ(std::wstring(buffer), text);
    }
    EXPECT_EQ(SendMessageW(tips, TTM_GETDELAYTIME, TTDT_INITIAL, 0), 500);
    EXPECT_EQ(SendMessageW(tips, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), 2500);
}

TEST_F(WindowTest, LayoutAsLoaded) {
    // Before the window is shown: the texts of the layout, no event raised.
    EXPECT_EQ(form->Caption(), "FormInstallProgram");
    EXPECT_EQ(form->EditPathDest.Text(), "EditPathDest");
    EXPECT_EQ(form->updates.Text(), "Установить");
    EXPECT_EQ(form->dovrin.Text(), "Отмена");
    EXPECT_EQ(form->Label1.Text(), "Каталог установки:");
    EXPECT_EQ(form->LabelSite.Text(), kMakerSiteHost);
    EXPECT_EQ(form->CheckBoxRun.Text(), "Запустить программу после установки");
    EXPECT_FALSE(form->CheckBoxRun.Checked());
    EXPECT_EQ(form->MemoInform.Text(), Welcome("Tirven", kMakerSiteHost, kMakerEmail));
    EXPECT_EQ(form->LogLineCount(), 15);
    EXPECT_EQ(form->LastLogTime(), 0);
    EXPECT_TRUE(form->ProgramName().empty());
    // The log panel scrolls both ways and does not wrap.
    LONG_PTR memoStyle = GetWindowLongPtrW(form->MemoInform.Handle(), GWL_STYLE);
    EXPECT_EQ(memoStyle & (WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL), WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL);
    // Neither button is a default button.
    EXPECT_EQ(GetWindowLongPtrW(form->updates.Handle(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(GetWindowLongPtrW(form->dovrin.Handle(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_TRUE(form->SBOpenPathDest.HasGlyph());
    EXPECT_EQ(form->SBOpenPathDest.TransparentColor(), RGB(128, 0, 128));
}

struct Variant {
    const char* programName;
    std::string welcome;
    std::string site;
    bool runChecked;
};

TEST_F(WindowTest, StartUpAdaptsTheWelcomeTextSiteAndRunFlagToTheProduct) {
    const Variant variants[] = {
        {"Pelmar", Welcome("Pelmar", kProductSiteHost, kProductEmail), kProductSiteHost, true},
        {"Zunt", Welcome("Zunt", kMakerSiteHost, kMakerEmail), kMakerSiteHost, false},
        {"Kvarn", Welcome("Kvarn", kMakerSiteHost, kMakerEmail), kMakerSiteHost, false},
    };
    for (const Variant& v : variants) {
        TApplication application;
        TFormInstallProgram* shown = nullptr;
        application.CreateForm(shown);
        shown->SetProgramName(v.programName);
        TDateTime before = Now();
        shown->Show();
        EXPECT_EQ(shown->MemoInform.Text(), v.welcome) << v.programName;
        EXPECT_EQ(shown->LabelSite.Text(), v.site) << v.programName;
        EXPECT_EQ(shown->CheckBoxRun.Checked(), v.runChecked) << v.programName;
        EXPECT_GE(shown->LastLogTime(), before) << v.programName;
        EXPECT_EQ(shown->Caption(), std::string("Установка программы ") + v.programName);
    }
}

TEST_F(WindowTest, ZuntVariantAlsoRenamesTheLowerCaseProduct) {
    form->MemoInform.SetText("Tirven tirven TIRVEN\r\n");
    Start("Zunt");
    EXPECT_EQ(form->MemoInform.Text(), "Zunt zunt TIRVEN\r\n");
}

TEST_F(WindowTest, ProposedDestinationIsOnDriveDOnlyWhenDProgramsExists) {
    static std::vector<std::string> asked;
    static bool answer = false;
    for (bool present : {true, false}) {
        asked.clear();
        answer = present;
        TApplication application;
        TFormInstallProgram* shown = nullptr;
        application.CreateForm(shown);
        ScopedHook programsFolder(SetProgramsFolderExistsForTesting, [](const std::string& folder) {
            asked.push_back(folder);
            return answer;
        });
        shown->SetProgramName("Pelmar");
        shown->Show();
        EXPECT_EQ(asked, std::vector<std::string>{"D:\\Programs"});
        EXPECT_EQ(shown->EditPathDest.Text(), present ? "D:\\Programs\\Pelmar" : "C:\\Programs\\Pelmar");
        EXPECT_FALSE(DirectoryExists(shown->EditPathDest.Text()));
        EXPECT_EQ(shown->Caption(), "Установка программы Pelmar");
    }
}

TEST_F(WindowTest, CaptionAndButtonSwitchAsTheTypedFolderGainsOrLosesTheProduct) {
    TempFolder temp;
    WriteFileBytes(temp / "App\\Pelmar.exe", "MZ");
    Start();
    HWND edit = form->EditPathDest.Handle();
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    std::string typed = temp / "App";
    for (size_t i = 0; i < typed.size(); ++i) {
        SendMessageW(edit, WM_CHAR, static_cast<unsigned char>(typed[i]), 0);
        bool complete = i + 1 == typed.size();
        ASSERT_EQ(form->Caption(), complete ? "Обновление программы Pelmar" : "Установка программы Pelmar") << i;
        ASSERT_EQ(form->updates.Text(), complete ? "Обновить" : "Установить") << i;
    }
    SendMessageW(edit, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(form->Caption(), "Установка программы Pelmar");
    EXPECT_EQ(form->updates.Text(), "Установить");
}

TEST_F(WindowTest, ChangeHandlerRunsOncePerActualChangeOfTheSetText) {
    TempFolder temp;
    WriteFileBytes(temp / "App\\Pelmar.exe", "MZ");
    CreateDirectoryA((temp / "Folder").c_str(), nullptr);
    CreateDirectoryA((temp / "Folder\\Pelmar.exe").c_str(), nullptr);
    Start();
    int changes = 0;
    NotifyEvent original = form->EditPathDest.OnChange;
    form->EditPathDest.OnChange = [&](Control& sender) {
        ++changes;
        original(sender);
    };

    form->EditPathDest.SetText(temp / "App");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(form->Caption(), "Обновление программы Pelmar");
    form->EditPathDest.SetText(temp / "App");
    EXPECT_EQ(changes, 1);

    // A folder named like the product's program is not the program.
    form->EditPathDest.SetText(temp / "Folder");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(form->Caption(), "Установка программы Pelmar");
    EXPECT_EQ(form->updates.Text(), "Установить");
}

TEST_F(WindowTest, LabelsTurnBlueUnderTheMouseAndNavyAfterIt) {
    Start();
    for (Label* label : {&form->Label1, &form->LabelSite}) {
        EXPECT_EQ(DrawnTextColor(*label), GetSysColor(COLOR_WINDOWTEXT));
        SendMessageW(label->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        EXPECT_EQ(DrawnTextColor(*label), RGB(0, 0, 255));
        SendMessageW(label->Handle(), WM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(DrawnTextColor(*label), RGB(0, 0, 128));
    }
}

TEST_F(WindowTest, EnterAndEscapePressNoButton) {
    Start();
    std::string log = form->MemoInform.Text();
    for (const Control* focused : std::initializer_list<const Control*>{&form->EditPathDest, &form->updates, &form->dovrin}) {
        SetFocus(focused->Handle());
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(focused->Handle(), WM_KEYDOWN, key, 0);
            PostMessageW(focused->Handle(), WM_KEYUP, key, 0);
        }
        application.ProcessMessages();
    }
    EXPECT_EQ(form->MemoInform.Text(), log);
    EXPECT_FALSE(application.Terminated());
}

TEST_F(WindowTest, FolderButtonPutsThePickedFolderIntoTheEditBox) {
    TempFolder temp;
    Start();
    form->EditPathDest.SetText(temp.Path());
    SetFocus(form->EditPathDest.Handle());
    HWND button = form->SBOpenPathDest.Handle();
    auto press = [&] {
        SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    };

    pickerAnswer.reset();  // cancelled
    press();
    ASSERT_EQ(pickerSettings.size(), 1u);
    EXPECT_EQ(pickerSettings[0].preselect, temp.Path());
    EXPECT_EQ(form->EditPathDest.Text(), temp.Path());
    EXPECT_EQ(GetFocus(), form->EditPathDest.Handle());  // the button takes no focus

    pickerAnswer = "C:\\";
    press();
    EXPECT_EQ(form->EditPathDest.Text(), "C:\\");
    EXPECT_EQ(form->Caption(), "Установка программы Pelmar");
}

TEST(FolderPicker, AsksForAFileSystemFolderWithoutEditBoxOrNewFolderButton) {
    TempFolder temp;
    WriteFileBytes(temp / "file.txt", "x");
    FolderPickerSettings settings = FolderPickerSettingsFor(temp.Path());
    EXPECT_EQ(settings.prompt, "Выберите директорию...");
    EXPECT_EQ(settings.flags, static_cast<UINT>(BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON));
    EXPECT_EQ(settings.flags & BIF_EDITBOX, 0u);
    EXPECT_TRUE(settings.wholeNamespace);
    EXPECT_EQ(settings.preselect, temp.Path());
    // Only an existing folder is preselected.
    EXPECT_EQ(FolderPickerSettingsFor(temp / "missing").preselect, "");
    EXPECT_EQ(FolderPickerSettingsFor(temp / "file.txt").preselect, "");
    EXPECT_EQ(FolderPickerSettingsFor("").preselect, "");
}

TEST_F(WindowTest, LabelsOpenTheSiteAndTheDestinationThroughTheShell) {
    TempFolder temp;
    Start();
    PressLabel(form->LabelSite, {WM_LBUTTONDOWN, WM_LBUTTONUP});
    form->EditPathDest.SetText(temp / "missing");
    PressLabel(form->Label1, {WM_LBUTTONDOWN, WM_LBUTTONUP});
    form->EditPathDest.SetText(temp.Path());
    PressLabel(form->Label1, {WM_LBUTTONDOWN, WM_LBUTTONUP});
    EXPECT_EQ(launches, (std::vector<std::string>{kProductSiteHost, temp.Path()}));
}

TEST_F(WindowTest, ALabelOpensOnItsReleaseInsideItAndOnceForADoubleClick) {
    TempFolder temp;
    Start();
    form->EditPathDest.SetText(temp.Path());
    struct Case {
        const char* name;
        std::vector<UINT> presses;
        bool releasedOutside;
        size_t opens;
    };
    const Case cases[] = {
        {"down and up inside", {WM_LBUTTONDOWN, WM_LBUTTONUP}, false, 1},
        {"down inside, up outside", {WM_LBUTTONDOWN, WM_LBUTTONUP}, true, 0},
        {"a double click", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}, false, 1},
    };
    for (Label* label : {&form->Label1, &form->LabelSite}) {
        for (const Case& c : cases) {
            launches.clear();
            PressLabel(*label, c.presses, c.releasedOutside);
            EXPECT_EQ(launches.size(), c.opens) << c.name;
        }
    }
}

TEST_F(WindowTest, CancelButtonEndsTheProgramWithTheWindowLeftAlive) {
    Start();
    Click(form->dovrin);
    EXPECT_TRUE(application.Terminated());
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST_F(WindowTest, LogPanelHoldsMoreThan21600LinesThenStartsAgain) {
    Start();
    std::string lines;
    for (int i = 0; i < 21600; ++i) lines += "2015-01-05 14\xB7" "03\xB7" "27 (1250) - line " + std::to_string(i) + "\r\n";
    form->MemoInform.SetText(lines);
    ASSERT_EQ(form->LogLineCount(), 21600);
    LogMessage(*form, "one more");
    EXPECT_EQ(form->LogLineCount(), 21601);
    EXPECT_EQ(MessageOf(LogLines().back()), "one more");
    LogMessage(*form, "after the limit");
    EXPECT_EQ(form->LogLineCount(), 1);
    EXPECT_EQ(MessageOf(LogLines().at(0)), "after the limit");
}

TEST_F(WindowTest, LogPanelCountsLinesTheUserTypedOrPasted) {
    Start();
    form->ClearLog();
    LogMessage(*form, "first");
    // As a paste by the user would: at the end, without a final line break.
    HWND memo = form->MemoInform.Handle();
    int length = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    SendMessageW(memo, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"typed\r\nby hand"));
    EXPECT_EQ(form->LogLineCount(), 3);
    LogMessage(*form, "second");
    EXPECT_EQ(form->LogLineCount(), 4);
    EXPECT_EQ(LogLines().at(2), "by hand");
    EXPECT_EQ(MessageOf(LogLines().at(3)), "second");
}
