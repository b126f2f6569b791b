#include "runtime/exceptions.h"
#include "tests/support/error_box.h"
#include "tests/window/window_fixture.h"
#include "ui/dispatch.h"
#include "window/resource_ids.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace runtime;
using namespace engine;
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

TEST_F(WindowTest, AnErrorLeavingAHandlerIsShownInTheErrorBoxAndTheProgramGoesOn) {
    Start();
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
        EXPECT_EQ(box.title, "window_tests");
        EXPECT_FALSE(after);
    }

    // Through a real button: an empty destination cannot even be attempted.
    form->EditPathDest.SetText("");
    ErrorBox box = AnswerErrorBox([&] { Click(form->updates); });
    EXPECT_EQ(box.text, "Unable to create directory.");
    EXPECT_EQ(box.title, "window_tests");
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST_F(WindowTest, AnythingButOurOwnErrorIsShownWithAnEmptyMessage) {
    Start();
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
        CreateForm({L"HalfMadeForm", IDI_PROGRAM, L"half made", 200, 100, {120, 80}});
        panel.Create(*this, {0, 0, 200, 40});
        edit.Create(panel, {4, 4, 100, 20}, L"");
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
