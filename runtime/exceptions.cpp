#include "runtime/exceptions.h"

#include "runtime/file_system.h"

namespace runtime {

std::string SystemErrorText(DWORD code) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);

    // The system's texts end in a full stop and a line break; the messages that
    // quote them add their own punctuation.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

namespace {

std::string WithSystemText(const std::string& what, DWORD code) {
    std::string text = SystemErrorText(code);
    if (text.empty()) text = "error " + std::to_string(code);
    return what + ". " + text;
}

}  // namespace

EOSError::EOSError(const std::string& what, DWORD code) : Exception(WithSystemText(what, code)), code_(code) {}

EOSError LastOSError(const std::string& what) { return EOSError(what, GetLastError()); }

EFCreateError CannotCreateFile(const std::string& path, DWORD code) {
    return EFCreateError("Cannot create file \"" + ExpandFileName(path) + "\". " + SystemErrorText(code));
}

EFOpenError CannotOpenFile(const std::string& path, DWORD code) {
    return EFOpenError("Cannot open file \"" + ExpandFileName(path) + "\". " + SystemErrorText(code));
}

}  // namespace runtime
