#include "ui/dispatch.h"

#include "runtime/exceptions.h"
#include "ui/application.h"

namespace ui {

void Dispatch(HandlerRef handler) noexcept {
    try {
        try {
            handler();
        } catch (const runtime::Exception& error) {
            Application->ShowException(error);
        } catch (...) {
            // Nothing but our own errors carries a message meant for the user.
            Application->ShowException(runtime::Exception(""));
        }
    } catch (...) {
        // Even the error box failed (out of memory); the program goes on.
    }
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
        return message + ".";
    }
    return message;
}

void ShowErrorBox(HWND owner, const std::string& message, const std::string& title) {
    MessageBoxA(owner, ErrorBoxText(message).c_str(), title.c_str(), MB_ICONERROR | MB_OK);
}

}  // namespace ui
