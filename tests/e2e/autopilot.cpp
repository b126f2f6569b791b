// installer_autopilot INSTALLER_EXE DEST_FOLDER
// Does what a user of the installer does: sets the folder, presses the Install
// button, watches the log, and sees the product start. Prints the log panel's
// lines as they stand at the end (the program's own bytes). Exits 0 only when
// the run ended with "OK" and the product started; 1 otherwise.
#include "tests/e2e/installer_driver.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRunTimeoutMs = 120000;
constexpr DWORD kProductTimeoutMs = 30000;

bool IsErrorLine(const std::string& line) {
    std::string message = LogMessageOf(line);
    for (const char* start : {"Ошибка при получении файла - ", "Не могу создать директорию ", "Недопустимый путь файла - "}) {
        if (message.rfind(start, 0) == 0) return true;
    }
    return false;
}

bool IsOkLine(const std::string& line) { return LogMessageOf(line) == "OK"; }

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

void PrintNote(const std::string& note) {
    std::fprintf(stderr, "installer_autopilot: %s\n", note.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: installer_autopilot INSTALLER_EXE DEST_FOLDER\n");
        return 2;
    }
    // The lines go out as the program's bytes, without a CR added.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string installerExe = WindowsPathFromUnix(argv[1]);
    const std::string dest = WindowsPathFromUnix(argv[2]);

    try {
        // Only a product window that the run opens counts.
        const std::set<HWND> productsBefore = TopWindowsOfClass("DemoProduct");
        InstallerDriver installer(installerExe);
        if (!installer.WaitForWindow()) {
            PrintNote("the installer window did not appear");
            return 1;
        }
        if (!installer.SetFolder(dest)) {
            PrintNote("the installer did not take the folder");
            return 1;
        }
        bool runFlag = false;
        if (!installer.RunFlag(runFlag) || !runFlag) PrintNote("the run flag is not checked; the product will not start");
        installer.PressInstall();

        // The program closes itself right after "OK": the watcher sees it anyway.
        LogWatcher watcher(installer);
        std::vector<std::string> lines;
        ErrorBox box;
        bool boxShown = false;
        bool ok = false;
        bool failed = false;
        bool ended = false;
        for (DWORD start = GetTickCount(); GetTickCount() - start < kRunTimeoutMs;) {
            lines = watcher.Lines();
            ok = std::any_of(lines.begin(), lines.end(), IsOkLine);
            failed = std::any_of(lines.begin(), lines.end(), IsErrorLine);
            if (ok || failed) break;
            if ((boxShown = installer.FindErrorBox(box))) break;
            if (ended) break;  // one more look at the lines after the end
            ended = !installer.Running();
            if (ended) watcher.Stop();
            Sleep(50);
        }
        watcher.Stop();
        lines = watcher.Lines();
        ok = std::any_of(lines.begin(), lines.end(), IsOkLine);
        failed = std::any_of(lines.begin(), lines.end(), IsErrorLine);
        PrintLines(lines);

        if (boxShown) {
            std::printf("Error box \"%s\": %s\n", box.title.c_str(), box.text.c_str());
            InstallerDriver::PressOk(box);
            installer.CloseByCloseBox();
            installer.WaitForExit(10000);
            return 1;
        }

        HWND product = nullptr;
        if (ok) {
            product = WaitForTopWindowOfClass("DemoProduct", kProductTimeoutMs, productsBefore);
            if (product == nullptr) PrintNote("the product did not start");
            // Leave nothing running: the product, and a second one if it came.
            for (int i = 0; i < 5; ++i) {
                HWND started = FindTopWindowOfClass("DemoProduct", productsBefore);
                if (started == nullptr) break;
                CloseWindowAndProcess(started);
            }
        } else {
            PrintNote(failed ? "the run failed" : ended ? "the installer ended without \"OK\"" : "the run did not end in time");
        }
        // A successful run closes the window itself; otherwise close it.
        if (!installer.WaitForExit(ok ? 10000 : 0)) {
            installer.CloseByCloseBox();
            installer.WaitForExit(10000);
        }
        return ok && product != nullptr ? 0 : 1;
    } catch (const std::exception& error) {
        PrintNote(error.what());
        return 1;
    }
}
