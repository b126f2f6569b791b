// The one place where event handlers run: an exception that leaves a handler
// is shown in the error box and goes no further, so none ever crosses a window
// procedure.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace ui {

// Runs handler; shows any exception that leaves it (Application->ShowException).
void Dispatch(const std::function<void()>& handler) noexcept;

// The error box text: message, with "." added when the message is not empty
// and its last character's code is above that of ".".
std::string ErrorBoxText(const std::string& message);

// The modal error box: error icon, one OK button.
void ShowErrorBox(HWND owner, const std::string& message, const std::string& title);

}  // namespace ui
