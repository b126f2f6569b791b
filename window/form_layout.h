// The layout of the installer's window as data: every control with its kind,
// place, anchors, text, font, tool-tip and events.
#pragma once

#include "window/control.h"

#include <string>
#include <vector>

class TFormInstallProgram;

enum class ControlKind { Panel, Label, SpeedButton, Edit, Button, CheckBox, Memo, StatusBar };

struct FontSpec {
    const wchar_t* face;
    int height;
    bool bold;
    BYTE charset;
    // What a stand-in must be like where the face is missing.
    BYTE pitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
};

using FormHandler = void (TFormInstallProgram::*)(Control& sender);
using ControlOfForm = Control& (*)(TFormInstallProgram& form);

struct ControlLayout {
    const char* name = nullptr;
    ControlKind kind = ControlKind::Panel;
    ControlOfForm control = nullptr;
    ControlOfForm parent = nullptr;  // nullptr: the form itself
    Bounds bounds;
    unsigned anchors = akLeft | akTop;
    std::wstring text = L"";
    const FontSpec* font = nullptr;  // nullptr: the form's font
    const wchar_t* hint = nullptr;   // nullptr: no tool-tip
    bool handCursor = false;
    int glyph = 0;                   // bitmap resource of a speed button
    FormHandler onClick = nullptr;
    FormHandler onChange = nullptr;
    FormHandler onMouseMove = nullptr;
    FormHandler onMouseLeave = nullptr;
};

// The form's client size and smallest outer size as designed.
inline constexpr int kFormClientWidth = 644;
inline constexpr int kFormClientHeight = 341;
inline constexpr SIZE kFormSmallestSize{660, 380};

// The controls in the order the form declares them.
const std::vector<ControlLayout>& FormInstallProgramLayout();

// The 15 lines of the welcome text, for the maker's site host and e-mail.
std::wstring WelcomeText();

// Creates the form's window and its controls, hidden; raises no event.
void LoadFormLayout(TFormInstallProgram& form);
