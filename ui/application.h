// The application object: initialises the UI, owns the forms, runs the message
// loop and shows errors. Closing the main form only queues the end: the loop
// ends when it reaches it, so an install run in progress finishes first with
// every window alive.
#pragma once

#include "runtime/exceptions.h"
#include "ui/form.h"

#include <memory>
#include <string>
#include <vector>

namespace ui {

class TApplication {
public:
    // While it lives, this object is the program's Application.
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The screen's dpi, the common controls, and COM for the shell's folder
    // picker.
    void Initialize();
    // The main form carries the program's own taskbar button.
    bool MainFormOnTaskBar = false;

    // Creates a form; the first one created is the main form.
    template <typename Form>
    void CreateForm(Form*& reference) {
        auto form = std::make_unique<Form>();
        reference = form.get();
        if (mainForm_ == nullptr) mainForm_ = form.get();
        forms_.push_back(std::move(form));
    }
    TForm* MainForm() const { return mainForm_; }

    // Shows the main form and handles messages until the end is reached.
    void Run();
    // Handles every pending message, then returns.
    void ProcessMessages();
    // Waits up to timeoutMs for event and returns whether it was set. The
    // windows go on answering meanwhile: paint and sent messages are handled,
    // and so is the main form's frame (moving and sizing it, its title bar's
    // buttons, Alt+F4 and the system menu); input meant for the controls
    // stays queued for the next ProcessMessages.
    bool WaitAnswering(HANDLE event, DWORD timeoutMs);
    // Handles what WaitAnswering lets through as far as it is queued now, and
    // returns: for a long step that does not wait.
    void AnswerWaiting();
    // Queues the end of the message loop.
    void Terminate();
    // Whether the loop has reached the end.
    bool Terminated() const { return terminated_; }

    // The error box with the application's title, owned by the main form.
    void ShowException(const runtime::Exception& error);
    // The program file's name without its folder, cut at its first ".", every
    // character after the first in lower case: "Install-pelmar".
    std::string Title() const;

private:
    // Keyboard navigation first, then the message's own window.
    void TranslateAndDispatch(MSG& message);

    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* mainForm_ = nullptr;  // one of forms_
    bool terminated_ = false;
    // Terminate was called: a modal loop of the platform's may have taken
    // the quit message meant for Run.
    bool endQueued_ = false;
    bool comInitialized_ = false;
    TApplication* previous_ = nullptr;
};

// The title made from a program file's path.
std::string TitleFromFileName(const std::string& path);

// The application object of the program.
extern TApplication* Application;

}  // namespace ui
