// installer_autopilot INSTALLER_EXE DEST_FOLDER [--screenshot FILE.bmp]
// Does what a user of the installer does: sets the folder, presses the Install
// button, watches the log, and sees the product start. Prints the log panel's
// lines as they stand at the end (the program's own bytes). Exits 0 only when
// the run ended with "OK" and the product started; 1 otherwise. With
// --screenshot, the window as it looks when the run ends is saved as a bitmap.
#include "runtime/gdi_handles.h"
#include "tests/e2e/installer_driver.h"
#include "tests/support/log_text.h"
#include "tests/support/poll.h"

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

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

// The window's pixels as the screen shows them, as a 24-bit bitmap file. Read
// from the screen, so the window's own thread need not answer.
bool SaveWindowImage(HWND window, const std::string& path) {
    RECT area;
    if (window == nullptr || !IsWindowVisible(window) || !GetWindowRect(window, &area)) return false;
    // A window that is being taken down has lost its controls first.
    if (FindWindowExA(window, nullptr, "Edit", nullptr) == nullptr) return false;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    runtime::ScopedGetDc screen(nullptr);
    runtime::UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    runtime::UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!screen || !memory || !bitmap) return false;
    {
        runtime::ScopedSelectObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
    }

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<char> pixels(stride * static_cast<DWORD>(height));
    GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    return std::fclose(out) == 0;
}

void PrintNote(const std::string& note) {
    std::fprintf(stderr, "installer_autopilot: %s\n", note.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string screenshot;
    if (argc == 5 && std::string(argv[3]) == "--screenshot") {
        screenshot = WindowsPathFromUnix(argv[4]);
    } else if (argc != 3) {
        std::fprintf(stderr, "usage: installer_autopilot INSTALLER_EXE DEST_FOLDER [--screenshot FILE.bmp]\n");
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
        bool ended = false;
        PollUntil([&] {
            lines = watcher.Lines();
            if (std::any_of(lines.begin(), lines.end(), IsOkLine)) return true;
            if (std::any_of(lines.begin(), lines.end(), IsErrorLine)) return true;
            if ((boxShown = installer.FindErrorBox(box))) return true;
            // The last look before the end: a successful run closes the window.
            if (!screenshot.empty()) SaveWindowImage(installer.Window(), screenshot);
            if (ended) return true;  // one more look at the lines after the end
            ended = !installer.Running();
            if (ended) watcher.Stop();
            return false;
        }, kRunTimeoutMs);
        if (!screenshot.empty()) SaveWindowImage(installer.Window(), screenshot);
        watcher.Stop();
        lines = watcher.Lines();
        const bool ok = std::any_of(lines.begin(), lines.end(), IsOkLine);
        const bool failed = std::any_of(lines.begin(), lines.end(), IsErrorLine);
        PrintLines(lines);

        if (boxShown) {
            std::printf("Error box \"%s\": %s\n", box.title.c_str(), box.text.c_str());
            PressOk(box);
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
