// The application object, its error box and its forms, apart from any
// program.
#include "runtime/exceptions.h"
#include "tests/ui/test_form.h"
#include "tests/support/error_box.h"
#include "ui/application.h"
#include "ui/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace runtime;
using namespace ui;

TEST(ApplicationTitle, IsTheProgramFileNameCutAtItsFirstDotWithTheRestInLowerCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Program Files\\Install-Pelmar.exe", "Install-pelmar"},
        {"Z:\\tmp\\Install-PELMAR.v2.exe", "Install-pelmar"},
        {"install-Zunt.exe", "install-zunt"},
        {"C:\\a.b\\Setup", "Setup"},
    };
    for (const auto& [path, title] : cases) EXPECT_EQ(TitleFromFileName(path), title) << path;
}

TEST(ErrorBoxText, AddsAFullStopOnlyAfterACharacterAboveIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"Unable to create directory", "Unable to create directory."},
        {"Ошибка", "Ошибка."},
        {"code 5", "code 5."},
        {"path:", "path:."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},
        {"(x)", "(x)"},
        {"trailing ", "trailing "},
        {"", ""},
    };
    for (const auto& [message, text] : cases) EXPECT_EQ(ErrorBoxText(message), text) << message;
}

using DispatchTest = ShownTestForm;

TEST_F(DispatchTest, AnErrorLeavingAHandlerIsShownInTheErrorBoxAndTheProgramGoesOn) {
    const std::pair<std::string, std::string> cases[] = {
        {"Cannot open file \"C:\\x\". Отказано в доступе", "Cannot open file \"C:\\x\". Отказано в доступе."},
        {"Готово.", "Готово."},
    };
    for (const auto& [message, shown] : cases) {
        bool after = false;
        ErrorBox box = AnswerErrorBox([&] {
            Dispatch([&] {
                throw Exception(message);
                after = true;
            });
        });
        EXPECT_TRUE(box.answered);
        EXPECT_EQ(box.text, shown);
        EXPECT_EQ(box.title, "ui_tests");
        EXPECT_FALSE(after);
    }

    // Through a real button's click event.
    form->button.OnClick = [](Control&) { throw Exception("Pressed"); };
    ErrorBox box = AnswerErrorBox([&] {
        PostMessageW(form->button.Handle(), BM_CLICK, 0, 0);
        application.ProcessMessages();
    });
    EXPECT_EQ(box.text, "Pressed.");
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST_F(DispatchTest, AnythingButOurOwnErrorIsShownWithAnEmptyMessage) {
    ErrorBox box = AnswerErrorBox([] { Dispatch([] { throw 42; }); });
    EXPECT_TRUE(box.answered);
    EXPECT_EQ(box.text, "");
}

namespace {

// A control of a class that nobody registered.
class Unmakeable : public Control {
public:
    void Create(BaseWindow& parent) { CreateChild(parent, L"NoSuchWindowClass", 0, 0, {0, 0, 10, 10}, L""); }
};

// A form whose last control cannot be made.
class HalfMadeForm : public TForm {
public:
    HalfMadeForm() {
        CreateForm({L"HalfMadeForm", IDI_TEST_FORM, L"half made", 200, 100, {120, 80}});
        panel.Create(*this, {0, 0, 200, 40});
        edit.Create(panel, {4, 4, 100, 20}, {});
        made = {Handle(), panel.Handle(), edit.Handle()};
        broken.Create(*this);
    }
    static inline std::vector<HWND> made;
    Panel panel;
    Edit edit;
    Unmakeable broken;
};

}  // namespace

TEST(Creation, AWindowThatCannotBeMadeRaisesTheSystemsReasonAndLeavesNothingBehind) {
    TApplication application;
    HalfMadeForm* form = nullptr;
    try {
        application.CreateForm(form);
        ADD_FAILURE() << "the form was made";
    } catch (const EOSError& error) {
        // Windows says the class cannot be found, Wine that it does not exist.
        EXPECT_TRUE(error.Code() == ERROR_CANNOT_FIND_WND_CLASS || error.Code() == ERROR_CLASS_DOES_NOT_EXIST)
            << error.Code();
        EXPECT_EQ(error.Message(), "Cannot create window \"NoSuchWindowClass\". " + SystemErrorText(error.Code()));
    }
    EXPECT_EQ(application.MainForm(), nullptr);
    ASSERT_EQ(HalfMadeForm::made.size(), 3u);
    for (HWND hwnd : HalfMadeForm::made) EXPECT_FALSE(IsWindow(hwnd));
}

TEST(FormClose, TheMainFormEndsTheProgramWithItsWindowLeftAliveAnotherFormIsHidden) {
    TApplication application;
    application.Initialize();
    TestForm* main = nullptr;
    TestForm* other = nullptr;
    application.CreateForm(main);
    application.CreateForm(other);
    ASSERT_EQ(application.MainForm(), main);
    main->Show();
    other->Show();
    application.ProcessMessages();

    // As the close box does.
    SendMessageW(other->Handle(), WM_CLOSE, 0, 0);
    application.ProcessMessages();
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(IsWindow(other->Handle()));
    EXPECT_FALSE(IsWindowVisible(other->Handle()));

    SendMessageW(main->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(application.Terminated()) << "the end is queued, not taken at once";
    application.ProcessMessages();
    EXPECT_TRUE(application.Terminated());
    EXPECT_TRUE(IsWindowVisible(main->Handle()));
}

TEST(LayerClasses, PanelsAndSpeedButtonsAreOfTheLayersOwnClassesAndFoundFromTheirWindows) {
    TApplication application;
    TestForm* form = nullptr;
    application.CreateForm(form);
    char name[64] = {};
    GetClassNameA(form->panel.Handle(), name, sizeof name);
    EXPECT_STREQ(name, "TPanel");
    GetClassNameA(form->Handle(), name, sizeof name);
    EXPECT_STREQ(name, "UiTestForm");
    EXPECT_EQ(Control::FromHandle(form->panel.Handle()), &form->panel);
    EXPECT_EQ(Control::FromHandle(form->button.Handle()), &form->button);
    EXPECT_EQ(TForm::OfWindow(form->button.Handle()), form);
}
