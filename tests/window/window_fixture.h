// A fresh application with the real installer window for each test; the
// shell's launches are recorded instead of made, and the modal folder picker
// answers from the test.
#pragma once

#include "tests/support/log_text.h"
#include "tests/support/scoped_hook.h"
#include "ui/application.h"
#include "window/folder_picker.h"
#include "window/shell_open.h"
#include "window/tforminstallprogram.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ui {

// A place reads "left, top, width, height" where a test fails.
inline void PrintTo(const Bounds& bounds, std::ostream* out) {
    *out << bounds.left << ", " << bounds.top << ", " << bounds.width << ", " << bounds.height;
}

}  // namespace ui

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        application.Initialize();
        application.CreateForm(form);
    }

    void TearDown() override { application.ProcessMessages(); }

    // Start-up as the entry point does it, up to the message loop.
    void Start(const std::string& programName = "Pelmar") {
        form->SetProgramName(programName);
        form->Show();
        application.ProcessMessages();
    }

    // The log panel's lines as the user sees them.
    std::vector<std::string> LogLines() const {
        return SplitLines(form->MemoInform.Text());
    }

    // The message part of a log line (after ") - ").
    static std::string MessageOf(const std::string& line) { return MessageOfLogLine(line); }

    void Click(const ui::Control& button) {
        PostMessageW(button.Handle(), BM_CLICK, 0, 0);
        application.ProcessMessages();
    }

    ui::TApplication application;
    TFormInstallProgram* form = nullptr;  // owned by the application
    std::vector<std::string> launches;
    std::vector<FolderPickerSettings> pickerSettings;
    std::optional<std::string> pickerAnswer;

private:
    // After what they fill: they go first.
    ScopedHook shellOpen_{SetShellOpenHookForTesting, [this](HWND owner, const std::string& target) {
                              EXPECT_EQ(owner, form->Handle());
                              launches.push_back(target);
                          }};
    ScopedHook folderPicker_{SetFolderPickerHookForTesting,
                             [this](HWND, const FolderPickerSettings& settings) {
                                 pickerSettings.push_back(settings);
                                 return pickerAnswer;
                             }};
};
