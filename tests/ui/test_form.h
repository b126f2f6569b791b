// A small form of the tests' own, made only of the layer's parts: a button on
// a panel, and a label beside it.
#pragma once

#include "tests/ui/test_form_ids.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <gtest/gtest.h>

class TestForm : public ui::TForm {
public:
    TestForm() {
        CreateForm({L"UiTestForm", IDI_TEST_FORM, L"test form", 300, 120, {200, 100}});
        panel.Create(*this, {0, 0, 300, 60});
        button.Create(panel, {8, 8, 80, 24}, {.caption = L"Press", .onClick = [this](ui::Control&) { ++clicks; }});
        label.Create(panel, {100, 12, 60, 13},
                     {.caption = L"Label", .onClick = [this](ui::Control&) { ++labelClicks; }});
    }

    ui::Panel panel;
    ui::Button button;
    ui::Label label;
    int clicks = 0;       // of the button
    int labelClicks = 0;
};

// A fresh application for each test, with a TestForm shown as its main form.
class ShownTestForm : public testing::Test {
protected:
    void SetUp() override {
        application.Initialize();
        application.CreateForm(form);
        form->Show();
        application.ProcessMessages();
    }
    void TearDown() override { application.ProcessMessages(); }

    ui::TApplication application;
    TestForm* form = nullptr;  // owned by the application
};
