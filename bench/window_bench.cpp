// Creates the real installer window as the program does, shows it, and times
// the engine's LogMessage in the visible log panel as the panel fills:
//   window_bench
// Lines 1 to 1000 go into an emptied panel; then one assignment of the whole
// text brings the panel to 20600 lines, and lines 20601 to 21601 follow (the
// last ones before the panel empties itself). Each line is about 80
// characters, like a logged file path. Prints key=value figures in ms:
//   log_*   LogMessage alone (the text and scroll-bar update);
//   line_*  LogMessage and then handling what it left pending (the repaint),
//           as the install run does after each file.
#include "engine/activity_log.h"
#include "ui/application.h"
#include "window/product_profile.h"
#include "window/tforminstallprogram.h"

#include <windows.h>

#include <cstdio>
#include <string>

using namespace runtime;
using namespace engine;
using namespace ui;

namespace {

constexpr int kEarlyLines = 1000;
constexpr int kFillLines = 20600;
constexpr int kLateLines = 21601 - kFillLines;
constexpr size_t kLineLength = 80;

double Milliseconds(LONGLONG ticks) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return ticks * 1000.0 / frequency;
}

LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// A message that makes a logged line of about kLineLength characters
// ("yyyy-mm-dd hh·mm·ss (N) - " takes 26).
std::string FileMessage(int number) {
    std::string message = "C:\\Programs\\Pelmar\\Resources\\data\\file" + std::to_string(number) + ".bin";
    if (message.size() < kLineLength - 26) message.insert(message.size() - 4, kLineLength - 26 - message.size(), '0');
    return message;
}

struct Figures {
    double log = 0;      // sum of LogMessage alone
    double line = 0;     // sum of LogMessage and the repaint after it
    double lineMax = 0;  // the slowest line, repaint included
};

Figures LogLines(TFormInstallProgram& form, int first, int count) {
    Figures figures;
    for (int i = 0; i < count; ++i) {
        LONGLONG start = Ticks();
        LogMessage(form, FileMessage(first + i));
        LONGLONG logged = Ticks();
        Application->ProcessMessages();
        LONGLONG painted = Ticks();
        figures.log += Milliseconds(logged - start);
        double line = Milliseconds(painted - start);
        figures.line += line;
        if (line > figures.lineMax) figures.lineMax = line;
    }
    return figures;
}

}  // namespace

int main() {
    Application->Initialize();
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(FormInstallProgram);
    TFormInstallProgram& form = *FormInstallProgram;
    form.SetProgramName(kProductName);
    form.Show();
    Application->ProcessMessages();
    const bool visible = IsWindowVisible(form.Handle()) && IsWindowVisible(form.MemoInform.Handle());

    // As an install run starts: an empty panel.
    form.MemoInform.Clear();
    Application->ProcessMessages();
    const Figures early = LogLines(form, 1, kEarlyLines);

    std::string text;
    text.reserve(static_cast<size_t>(kFillLines) * (kLineLength + 2));
    const std::string stamp = "2024-01-01 12\xB7" "00\xB7" "00 (0) - ";
    for (int i = 1; i <= kFillLines; ++i) text += stamp + FileMessage(i) + "\r\n";
    LONGLONG fillStart = Ticks();
    form.MemoInform.SetText(text);
    Application->ProcessMessages();
    const double fill = Milliseconds(Ticks() - fillStart);
    const int filled = form.MemoInform.LineCount();

    const Figures late = LogLines(form, kFillLines + 1, kLateLines);
    const int lines = form.MemoInform.LineCount();

    std::printf("visible=%d early_lines=%d early_log_ms=%.3f early_line_ms=%.3f early_line_max_ms=%.3f "
                "fill_ms=%.1f filled_lines=%d late_lines=%d late_log_ms=%.3f late_line_ms=%.3f "
                "late_line_max_ms=%.3f lines=%d\n",
                visible ? 1 : 0, kEarlyLines, early.log / kEarlyLines, early.line / kEarlyLines, early.lineMax, fill,
                filled, kLateLines, late.log / kLateLines, late.line / kLateLines, late.lineMax, lines);
    std::fflush(stdout);
    return visible && filled == kFillLines && lines == 21601 ? 0 : 1;
}
