#include "tests/window/running_installer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

namespace {

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

LONG_PTR StyleOf(HWND hwnd) { return GetWindowLongPtrA(hwnd, GWL_STYLE); }

struct TopWindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindow(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<TopWindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->processId && IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Environment(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::map<std::string, std::string> variables;
    char* block = GetEnvironmentStringsA();
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
        std::string text = entry;
        size_t equals = text.find('=', 1);
        if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsA(block);
    for (const auto& [name, value] : extra) variables[name] = value;
    std::string environment;
    for (const auto& [name, value] : variables) environment += name + "=" + value + '\0';
    return environment + '\0';
}

}  // namespace

std::string InstallerPath() {
    std::string path = INSTALLER_PATH;
    // A path of the Unix side, as Wine shows it.
    if (!path.empty() && path.front() == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool Xdotool(const std::string& arguments) {
    // Wine starts a Unix program but gives no handle to wait on: the shell
    // leaves xdotool's status in a file when it is done.
    static std::atomic<unsigned> count{0};
    std::string done = "/tmp/xdotool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    std::string doneSeenHere = "Z:" + done;
    std::replace(doneSeenHere.begin(), doneSeenHere.end(), '/', '\\');
    std::string command = "/bin/sh -c \"xdotool " + arguments + "; echo $? > " + done + ".part; mv " + done +
                          ".part " + done + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    if (info.hThread != nullptr) CloseHandle(info.hThread);
    if (!WaitUntil([&] { return FileExists(doneSeenHere); })) return false;
    char status[8] = {};
    HANDLE file = CreateFileA(doneSeenHere.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, status, sizeof status - 1, &read, nullptr);
        CloseHandle(file);
    }
    DeleteFileA(doneSeenHere.c_str());
    return status[0] == '0';
}

bool PressKeys(const std::string& keys) { return Xdotool("key --delay 30 " + keys); }

bool TypeText(const std::string& text) { return Xdotool("type --delay 20 '" + text + "'"); }

bool ClickAt(POINT screen) {
    return Xdotool("mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y) + " click 1");
}

RunningInstaller::RunningInstaller(const std::string& exe,
                                   const std::vector<std::pair<std::string, std::string>>& extra) {
    std::string commandLine = "\"" + exe + "\"";
    std::string environment = Environment(extra);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, environment.data(), nullptr,
                        &startup, &info)) {
        throw std::runtime_error("cannot start " + exe + ": error " + std::to_string(GetLastError()));
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
}

RunningInstaller::~RunningInstaller() {
    if (Running()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool RunningInstaller::Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool RunningInstaller::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!WaitUntil([&] { return !Running(); }, timeoutMs)) return false;
    if (exitCode != nullptr) GetExitCodeProcess(process_, exitCode);
    return true;
}

std::vector<HWND> RunningInstaller::TopWindows() const {
    TopWindowSearch search{processId_, {}};
    EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool RunningInstaller::WaitForWindow() {
    bool found = WaitUntil([&] {
        if (!Running()) return true;
        for (HWND hwnd : TopWindows()) {
            if (ClassOf(hwnd) == "TFormInstallProgram") window_ = hwnd;
        }
        return window_ != nullptr;
    });
    if (!found || window_ == nullptr) return false;
    EnumChildWindows(window_, FindControl, reinterpret_cast<LPARAM>(this));
    return folderEdit_ && installButton_ && cancelButton_ && runFlag_ && logPanel_;
}

BOOL CALLBACK RunningInstaller::FindControl(HWND hwnd, LPARAM data) {
    auto* self = reinterpret_cast<RunningInstaller*>(data);
    std::string className = ClassOf(hwnd);
    if (className == "Edit") {
        ((StyleOf(hwnd) & ES_MULTILINE) ? self->logPanel_ : self->folderEdit_) = hwnd;
    } else if (className == "Button") {
        std::string text = self->TextOf(hwnd);
        if ((StyleOf(hwnd) & BS_TYPEMASK) == BS_AUTOCHECKBOX) self->runFlag_ = hwnd;
        else if (text == "Установить" || text == "Обновить") self->installButton_ = hwnd;
        else self->cancelButton_ = hwnd;
    }
    return TRUE;
}

std::string RunningInstaller::NameOf(HWND control) const {
    const std::pair<HWND, const char*> names[] = {
        {window_, "Window"},          {folderEdit_, "FolderEdit"}, {installButton_, "InstallButton"},
        {cancelButton_, "CancelButton"}, {runFlag_, "RunFlag"},    {logPanel_, "LogPanel"},
    };
    for (const auto& [hwnd, name] : names) {
        if (hwnd == control && control != nullptr) return name;
    }
    return control == nullptr ? "nothing" : ClassOf(control) + " window";
}

HWND RunningInstaller::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::string RunningInstaller::TextOf(HWND control) const {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::pair<int, int> RunningInstaller::SelectionOf(HWND edit) const {
    DWORD_PTR selection = 0;
    SendMessageTimeoutA(edit, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
    return {LOWORD(selection), HIWORD(selection)};
}

bool RunningInstaller::Checked(HWND box) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
}
