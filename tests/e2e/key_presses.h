// Real key presses and clicks on the virtual display, sent through its X
// server by xdotool (a Unix program that Wine starts for us), so that they
// reach whichever window has the focus, as a person's would.
#pragma once

#include <windows.h>

#include <string>

// Runs xdotool with these arguments (no double quotes in them) and waits for it
// to end; true when it succeeded.
bool Xdotool(const std::string& arguments);
// Key presses, in xdotool's names: "Tab", "shift+Tab", "space", "alt+F4".
bool PressKeys(const std::string& keys);
// Types ASCII text as key presses.
bool TypeText(const std::string& text);
// Moves the mouse to a point of the screen and clicks the left button there.
bool ClickAt(POINT screen);
