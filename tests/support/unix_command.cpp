#include "tests/support/unix_command.h"

#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/support/file_bytes.h"
#include "tests/support/poll.h"

#include <windows.h>

#include <atomic>

bool RunUnixCommand(const std::string& command) {
    // Wine starts a Unix program but gives no handle to wait on: the shell
    // leaves the command's status in a file when it is done, in the prefix's
    // own temporary folder (process ids count per Wine prefix, and the test
    // runs of other build folders may use the same ones at the same time).
    static std::atomic<unsigned> count{0};
    char temp[MAX_PATH + 1] = {};
    if (GetTempPathA(MAX_PATH, temp) == 0) return false;
    const std::string seen = std::string(temp) + "unix-command-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++count);
    const std::string done = UnixPathOf(seen);
    std::string line = "/bin/sh -c \"" + command + "; echo $? > " + done + ".part; mv " + done + ".part " + done + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    // For a Unix program Wine gives no process handle, and what it leaves in
    // hThread then is no handle of ours (0x92, say, which Wine takes as 0x90):
    // closing it would close another handle of this process, and the next
    // handle made would get its number while its old owner still uses it.
    runtime::UniqueKernelHandle process(info.hProcess);
    runtime::UniqueKernelHandle thread(process ? info.hThread : nullptr);
    if (!PollUntil([&] { return runtime::FileExists(seen); }, 15000, 20)) return false;
    const std::string status = ReadFileBytes(seen);
    DeleteFileA(seen.c_str());
    return status.rfind("0", 0) == 0;
}

std::string UnixPathOf(const std::string& windowsPath) {
    // Wine's own mapping, for any drive; the tests run under Wine only.
    using ToUnix = char*(CDECL*)(const WCHAR*);
    static const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    if (toUnix != nullptr) {
        if (char* unix = toUnix(wide.c_str())) {
            std::string path = unix;
            HeapFree(GetProcessHeap(), 0, unix);
            return path;
        }
    }
    std::string path = windowsPath.rfind("Z:", 0) == 0 ? windowsPath.substr(2) : windowsPath;
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}
