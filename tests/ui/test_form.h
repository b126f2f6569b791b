// A small form of the tests' own, made only of the layer's parts: a button on
// a panel, and a label beside it.
#pragma once

#include "tests/ui/test_form_ids.h"
#include "ui/controls.h"
#include "ui/form.h"

class TestForm : public ui::TForm {
public:
    TestForm() {
        CreateForm({L"UiTestForm", IDI_TEST_FORM, L"test form", 300, 120, {200, 100}});
        panel.Create(*this, {0, 0, 300, 60});
        button.Create(panel, {8, 8, 80, 24}, {.caption = L"Press", .onClick = [this](ui::Control&) { ++clicks; }});
        label.Create(panel, {100, 12, 60, 13}, {.caption = L"Label"});
    }

    ui::Panel panel;
    ui::Button button;
    ui::Label label;
    int clicks = 0;
};
