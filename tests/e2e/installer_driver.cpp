#include "tests/e2e/installer_driver.h"

#include "runtime/narrow_text.h"
#include "tests/support/log_text.h"
#include "tests/support/poll.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using runtime::EqualsIgnoringCase;
using runtime::UniqueKernelHandle;

namespace {

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

LONG_PTR StyleOf(HWND window) { return GetWindowLongPtrA(window, GWL_STYLE); }

DWORD ProcessOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// WM_GETTEXT through the window's own thread: an edit keeps its text there.
// One message per read: the window answers it at its next look at messages,
// and a length asked separately would be stale by then.
bool SentText(HWND window, std::string& text, DWORD timeoutMs) {
    for (size_t size = 64 * 1024;; size *= 4) {
        std::string buffer(size, '\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                                 SMTO_NORMAL, timeoutMs, &copied)) {
            return false;
        }
        // A full buffer may have cut the text short.
        if (copied + 1 < size) {
            buffer.resize(copied);
            text = std::move(buffer);
            return true;
        }
    }
}


struct TopWindowSearch {
    DWORD processId = 0;  // 0: any process
    const char* className = nullptr;  // nullptr: any class
    std::function<bool(HWND)> accept;
    HWND found = nullptr;
};

BOOL CALLBACK SearchTopWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<TopWindowSearch*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    if (search.processId != 0 && ProcessOf(window) != search.processId) return TRUE;
    if (search.className != nullptr && !EqualsIgnoringCase(ClassOf(window), search.className)) return TRUE;
    if (search.accept && !search.accept(window)) return TRUE;
    search.found = window;
    return FALSE;
}

HWND FindTopWindow(TopWindowSearch search) {
    EnumWindows(SearchTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

// The program's caption names what it is about to do with the product.
bool IsInstallerCaption(const std::string& caption) {
    return StartsWith(caption, "Установка программы ") || StartsWith(caption, "Обновление программы ");
}

// This process's variables, with `extra` in place of those of the same name,
// as the block CreateProcessA takes.
std::string EnvironmentBlock(const ExtraEnvironment& extra) {
    std::vector<std::string> variables;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
            variables.emplace_back(entry);
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : extra) {
        std::erase_if(variables, [&](const std::string& entry) {
            size_t equals = entry.find('=', 1);
            return equals != std::string::npos && EqualsIgnoringCase(entry.substr(0, equals), name);
        });
        variables.push_back(name + "=" + value);
    }
    std::string environment;
    for (const std::string& entry : variables) environment += entry + '\0';
    environment += '\0';
    return environment;
}

// Ends a process at once and waits a little for it to be gone.
void EndProcess(HANDLE process) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
}

}  // namespace

StartedProcess StartProcess(const std::string& exe, const ExtraEnvironment& extra) {
    std::string environment = EnvironmentBlock(extra);
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, environment.data(), nullptr,
                        &startup, &info)) {
        throw std::runtime_error("cannot start " + exe + ": error " + std::to_string(GetLastError()));
    }
    UniqueKernelHandle thread(info.hThread);
    return {UniqueKernelHandle(info.hProcess), info.dwProcessId};
}

InstallerDriver::InstallerDriver(const std::string& exe, const ExtraEnvironment& extra)
    : process_(StartProcess(exe, extra)) {}

InstallerDriver::~InstallerDriver() { Kill(); }

bool InstallerDriver::Running() const { return WaitForSingleObject(Process(), 0) == WAIT_TIMEOUT; }

bool InstallerDriver::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (WaitForSingleObject(Process(), timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode != nullptr) GetExitCodeProcess(Process(), exitCode);
    return true;
}

void InstallerDriver::Kill() {
    if (Running()) EndProcess(Process());
}

bool InstallerDriver::WaitForWindow(DWORD timeoutMs) {
    bool found = false;
    PollUntil([&] {
        TopWindowSearch search;
        search.processId = process_.id;
        search.accept = [](HWND window) { return IsInstallerCaption(WindowCaption(window)); };
        window_ = FindTopWindow(search);
        found = window_ != nullptr && FindControls();
        return found || !Running();
    }, timeoutMs);
    return found;
}

bool InstallerDriver::FindControls() {
    std::vector<HWND> children;
    EnumChildWindows(window_, CollectChild, reinterpret_cast<LPARAM>(&children));
    folderEdit_ = installButton_ = cancelButton_ = runCheckBox_ = logPanel_ = nullptr;
    for (HWND child : children) {
        std::string className = ClassOf(child);
        LONG_PTR style = StyleOf(child);
        if (EqualsIgnoringCase(className, "Edit")) {
            (style & ES_MULTILINE ? logPanel_ : folderEdit_) = child;
        } else if (EqualsIgnoringCase(className, "Button")) {
            LONG_PTR type = style & BS_TYPEMASK;
            std::string caption = WindowCaption(child);
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX) {
                runCheckBox_ = child;
            } else if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
                if (caption == "Установить" || caption == "Обновить") installButton_ = child;
                if (caption == "Отмена" || caption == "Закрыть") cancelButton_ = child;
            }
        }
    }
    return folderEdit_ && installButton_ && cancelButton_ && runCheckBox_ && logPanel_;
}

std::string InstallerDriver::Caption() const { return WindowCaption(window_); }
std::string InstallerDriver::InstallButtonCaption() const { return WindowCaption(installButton_); }
std::string InstallerDriver::CancelButtonCaption() const { return WindowCaption(cancelButton_); }

std::string InstallerDriver::NameOf(HWND control) const {
    const std::pair<HWND, const char*> names[] = {
        {window_, "Window"},           {folderEdit_, "FolderEdit"}, {installButton_, "InstallButton"},
        {cancelButton_, "CancelButton"}, {runCheckBox_, "RunFlag"},  {logPanel_, "LogPanel"},
    };
    if (control == nullptr) return "nothing";
    for (const auto& [hwnd, name] : names) {
        if (hwnd == control) return name;
    }
    return ClassOf(control) + " window";
}

HWND InstallerDriver::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::vector<HWND> InstallerDriver::TopWindows() const {
    std::vector<HWND> windows;
    TopWindowSearch search;
    search.processId = process_.id;
    search.accept = [&](HWND window) {
        windows.push_back(window);
        return false;  // on to the next
    };
    FindTopWindow(search);
    return windows;
}

std::string InstallerDriver::TextOf(HWND window, DWORD timeoutMs) const {
    std::string text;
    SentText(window, text, timeoutMs);
    return text;
}

std::pair<int, int> InstallerDriver::SelectionOf(HWND edit, DWORD timeoutMs) const {
    DWORD_PTR selection = 0;
    SendMessageTimeoutA(edit, EM_GETSEL, 0, 0, SMTO_NORMAL, timeoutMs, &selection);
    return {LOWORD(selection), HIWORD(selection)};
}

bool InstallerDriver::Checked(HWND box, DWORD timeoutMs) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_NORMAL, timeoutMs, &state);
    return state == BST_CHECKED;
}

bool InstallerDriver::FolderText(std::string& text, DWORD timeoutMs) const {
    return SentText(folderEdit_, text, timeoutMs);
}

bool InstallerDriver::RunFlag(bool& checked, DWORD timeoutMs) const {
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutA(runCheckBox_, BM_GETCHECK, 0, 0, SMTO_NORMAL, timeoutMs, &state)) return false;
    checked = state == BST_CHECKED;
    return true;
}

bool InstallerDriver::LogLines(std::vector<std::string>& lines, DWORD timeoutMs) const {
    std::string text;
    if (!SentText(logPanel_, text, timeoutMs)) return false;
    lines = SplitLines(text);
    return true;
}

bool InstallerDriver::SetFolder(const std::string& path, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(folderEdit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL,
                               timeoutMs, &result) != 0;
}

bool InstallerDriver::SetRunFlag(bool checked, DWORD timeoutMs) {
    bool clicked = false;
    return PollUntil([&] {
        bool now = false;
        if (RunFlag(now, timeoutMs) && now == checked) return true;
        // One click at a time: a second one could land before the first is seen.
        if (!clicked) {
            PostMessageA(runCheckBox_, BM_CLICK, 0, 0);
            clicked = true;
        }
        return false;
    }, timeoutMs);
}

void InstallerDriver::PressInstall() { PostMessageA(installButton_, BM_CLICK, 0, 0); }
void InstallerDriver::PressCancel() { PostMessageA(cancelButton_, BM_CLICK, 0, 0); }
void InstallerDriver::CloseByCloseBox() { PostMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool InstallerDriver::WaitForLogLine(const std::function<bool(const std::string&)>& match, DWORD timeoutMs,
                                     std::vector<std::string>* lines) const {
    bool matched = false;
    PollUntil([&] {
        std::vector<std::string> read;
        if (LogLines(read, 1000)) {
            if (lines != nullptr) *lines = read;
            matched = std::any_of(read.begin(), read.end(), match);
        }
        return matched || !Running();
    }, timeoutMs);
    return matched;
}

bool InstallerDriver::FindErrorBox(ErrorBox& box) const { return FindErrorBoxOf(process_.id, box); }

bool InstallerDriver::WaitForErrorBox(ErrorBox& box, DWORD timeoutMs) const {
    bool found = false;
    PollUntil([&] {
        found = FindErrorBox(box);
        return found || !Running();
    }, timeoutMs);
    return found;
}

LogWatcher::LogWatcher(const InstallerDriver& installer)
    : installer_(installer), thread_([this] { Watch(); }) {}

LogWatcher::~LogWatcher() { Stop(); }

void LogWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> LogWatcher::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void LogWatcher::Watch() {
    std::vector<std::string> read;
    while (!stop_) {
        if (installer_.LogLines(read, 10000)) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_ = read;
        } else {
            // A timed-out read is retried at once; a window that is gone fails fast.
            Sleep(installer_.Running() ? 1 : 50);
        }
    }
}

std::string WindowCaption(HWND window) {
    if (window == nullptr) return {};
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND FindTopWindowOfClass(const char* className, const std::set<HWND>& known) {
    TopWindowSearch search;
    search.className = className;
    search.accept = [&](HWND window) { return known.count(window) == 0; };
    return FindTopWindow(search);
}

HWND WaitForTopWindowOfClass(const char* className, DWORD timeoutMs, const std::set<HWND>& known) {
    HWND window = nullptr;
    PollUntil([&] { return (window = FindTopWindowOfClass(className, known)) != nullptr; }, timeoutMs);
    return window;
}

std::set<HWND> TopWindowsOfClass(const char* className) {
    std::set<HWND> windows;
    while (HWND window = FindTopWindowOfClass(className, windows)) windows.insert(window);
    return windows;
}

void CloseWindowAndProcess(HWND window, DWORD timeoutMs) {
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ProcessOf(window)));
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process && WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) EndProcess(process.get());
}

std::set<DWORD> ProcessesNamed(const std::string& exeName) {
    std::set<DWORD> found;
    UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        if (EqualsIgnoringCase(entry.szExeFile, exeName)) found.insert(entry.th32ProcessID);
    }
    return found;
}

void EndProcessesNamed(const std::string& exeName, const std::set<DWORD>& keep) {
    DWORD desktopOwner = ProcessOf(GetDesktopWindow());
    for (DWORD processId : ProcessesNamed(exeName)) {
        if (keep.count(processId) != 0 || processId == desktopOwner || processId == GetCurrentProcessId()) continue;
        UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
        if (process) EndProcess(process.get());
    }
}

std::string WindowsPathFromUnix(const std::string& path) {
    if (path.empty() || path.front() != '/') return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}
