// The layout of the installer's window as data: every control with its place,
// anchors, tab order, text, font, tool-tip and events, read top to bottom like
// the form. Places, sizes and font heights are at 96 dpi; the form scales them
// to the screen.
#pragma once

#include <windows.h>

#include <string>

class TFormInstallProgram;

// The form's client size and smallest outer size as designed, at 96 dpi.
inline constexpr int kFormClientWidth = 644;
inline constexpr int kFormClientHeight = 341;
inline constexpr SIZE kFormSmallestSize{660, 380};

// The 15 lines of the welcome text, for the maker's site host and e-mail.
std::wstring WelcomeText();

// Creates the form's window and its controls, hidden; raises no event.
// Throws runtime::EOSError when a window, a font or a resource cannot be made.
void LoadFormLayout(TFormInstallProgram& form);
