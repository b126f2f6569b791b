// The program's errors as the user meets them: the error box of the
// application, with the program's own title, over the window that goes on.
// The error box itself, apart from the program: tests/ui.
#include "runtime/exceptions.h"
#include "tests/support/error_box.h"
#include "tests/window/window_fixture.h"

TEST_F(WindowTest, AnErrorLeavingAHandlerIsShownInTheErrorBoxAndTheProgramGoesOn) {
    Start();
    // Through a real button: an empty destination cannot even be attempted.
    form->EditPathDest.SetText("");
    ErrorBox box = AnswerErrorBox([&] { Click(form->updates); });
    EXPECT_TRUE(box.answered);
    EXPECT_EQ(box.text, "Unable to create directory.");
    EXPECT_EQ(box.title, "window_tests");
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
}
