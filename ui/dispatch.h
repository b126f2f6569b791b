// The one place where event handlers run: an exception that leaves a handler
// is shown in the error box and goes no further, so none ever crosses a window
// procedure.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace ui {

// A handler borrowed for one call: the callable's address and the way to call
// it. Making one allocates nothing and cannot throw, so a window procedure
// builds nothing that could fail before it is inside the dispatch.
class HandlerRef {
public:
    template <typename Handler,
              typename = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<Handler>, HandlerRef>>>
    HandlerRef(Handler&& handler) noexcept  // not explicit: a lambda is passed as it is
        : handler_(const_cast<void*>(static_cast<const void*>(std::addressof(handler)))),
          call_([](void* h) { (*static_cast<std::remove_reference_t<Handler>*>(h))(); }) {}

    void operator()() const { call_(handler_); }

private:
    void* handler_;
    void (*call_)(void* handler);
};

// Runs handler; shows any exception that leaves it (Application->ShowException).
// The handler must outlive the call, as a lambda written in the call does.
void Dispatch(HandlerRef handler) noexcept;

// The error box text: message, with "." added when the message is not empty
// and its last character's code is above that of ".".
std::string ErrorBoxText(const std::string& message);

// The modal error box: error icon, one OK button.
void ShowErrorBox(HWND owner, const std::string& message, const std::string& title);

}  // namespace ui
