#include "tests/e2e/key_presses.h"

#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/support/file_bytes.h"
#include "tests/support/poll.h"

#include <atomic>

bool Xdotool(const std::string& arguments) {
    // Wine starts a Unix program but gives no handle to wait on: the shell
    // leaves xdotool's status in a file when it is done.
    static std::atomic<unsigned> count{0};
    const std::string done = "/tmp/xdotool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    std::string command = "/bin/sh -c \"xdotool " + arguments + "; echo $? > " + done + ".part; mv " + done +
                          ".part " + done + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    runtime::UniqueKernelHandle process(info.hProcess);
    runtime::UniqueKernelHandle thread(info.hThread);
    // The same file as Wine shows it.
    std::string seen = "Z:" + done;
    for (char& c : seen) {
        if (c == '/') c = '\\';
    }
    if (!PollUntil([&] { return runtime::FileExists(seen); }, 15000, 20)) return false;
    const std::string status = ReadFileBytes(seen);
    DeleteFileA(seen.c_str());
    return status.rfind("0", 0) == 0;
}

bool PressKeys(const std::string& keys) { return Xdotool("key --delay 30 " + keys); }

bool TypeText(const std::string& text) { return Xdotool("type --delay 20 '" + text + "'"); }

bool ClickAt(POINT screen) {
    return Xdotool("mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) + " click 1");
}
