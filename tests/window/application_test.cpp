#include "runtime/exceptions.h"
#include "tests/window/error_box.h"
#include "tests/window/window_fixture.h"
#include "ui/dispatch.h"

#include <atomic>
#include <chrono>
#include <thread>

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
