// The error box of a program under test (a message box, dialog class
// "#32770"), found, read and answered from outside the thread that shows it:
// another process, or another thread of this one.
#pragma once

#include "tests/support/poll.h"

#include <windows.h>

#include <string>
#include <thread>

struct ErrorBox {
    HWND window = nullptr;
    std::string title;
    std::string text;       // the message, in the ANSI code page
    std::wstring wideText;  // the message as the box shows it
    bool answered = false;  // its OK button was pressed
};

// Reads the visible error box of a process into box; false when it shows none.
// The message is asked of the box's thread, which answers from its modal loop.
bool FindErrorBoxOf(DWORD processId, ErrorBox& box);
// Presses the box's OK button, found by its ID whatever its caption.
void PressOk(ErrorBox& box);

// Runs show() on this thread while another waits up to 20 s for this
// process's error box, reads it and presses OK. A box never shown comes back
// empty and not answered.
template <typename Show>
ErrorBox AnswerErrorBox(Show show) {
    ErrorBox box;
    std::thread answer([&box] {
        if (PollUntil([&box] { return FindErrorBoxOf(GetCurrentProcessId(), box); }, 20000, 20)) PressOk(box);
    });
    show();
    answer.join();
    return box;
}
