// The error objects that the program and the layers under it raise. A handler
// that catches Exception shows Message() to the user in the error box.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace runtime {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    // Narrow text in the ANSI code page.
    const std::string& Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A file that could not be created or replaced.
class EFCreateError : public Exception { using Exception::Exception; };
// A file that could not be opened for reading.
class EFOpenError : public Exception { using Exception::Exception; };
// A folder chain that could not even be attempted.
class EInOutError : public Exception { using Exception::Exception; };
// Text that cannot be decoded (invalid UTF-8 after a UTF-8 mark).
class EEncodingError : public Exception { using Exception::Exception; };

// A call to the system that failed: "<what>. <system text>", with the code.
class EOSError : public Exception {
public:
    EOSError(const std::string& what, DWORD code);
    DWORD Code() const { return code_; }

private:
    DWORD code_;
};

// The system's own text for a Win32 error code, in the ANSI code page, with
// trailing line breaks, blanks and its final full stop removed.
std::string SystemErrorText(DWORD code);

// The error of the calling thread's last failed system call.
EOSError LastOSError(const std::string& what);

// "Cannot create file "<absolute path>". <system text>"
EFCreateError CannotCreateFile(const std::string& path, DWORD code);
// "Cannot open file "<absolute path>". <system text>"
EFOpenError CannotOpenFile(const std::string& path, DWORD code);

}  // namespace runtime
