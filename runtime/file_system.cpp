#include "runtime/file_system.h"

#include "runtime/exceptions.h"
#include "runtime/unique_handle.h"

#include <windows.h>

namespace runtime {

namespace {

bool IsNotFoundError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_BAD_NET_NAME:
        return true;
    default:
        return false;
    }
}

// Position just past the last "\" or ":" (0 when there is none).
size_t CutAfterLastDelimiter(const std::string& path) {
    size_t at = path.find_last_of("\\:");
    return at == std::string::npos ? 0 : at + 1;
}

// The folder part with its final "\" or ":" kept.
std::string ExtractFilePath(const std::string& path) { return path.substr(0, CutAfterLastDelimiter(path)); }

}  // namespace

bool DirectoryExists(const std::string& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A folder we may not look at (access denied, a locked volume) is still there.
    return !IsNotFoundError(GetLastError());
}

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ForceDirectories(const std::string& dir) {
    if (dir.empty()) throw EInOutError("Unable to create directory");
    std::string path = dir;
    if (path.back() == '\\') path.pop_back();
    // A drive (C:), a root or a name that is its own parent ends the climb.
    if (path.size() < 3 || DirectoryExists(path)) return true;
    std::string parent = ExtractFilePath(path);
    if (parent == path) return true;
    return ForceDirectories(parent) && CreateDirectoryA(path.c_str(), nullptr) != 0;
}

std::string ReadWholeFile(const std::string& fileName) {
    UniqueFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw CannotOpenFile(fileName, GetLastError());

    std::string bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) bytes.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

std::string ExtractFileDir(const std::string& path) {
    size_t length = CutAfterLastDelimiter(path);
    // The "\" of a root (\, C:\, \\) is part of the folder; any other is not.
    if (length > 1 && path[length - 1] == '\\' && path[length - 2] != '\\' && path[length - 2] != ':') {
        --length;
    }
    return path.substr(0, length);
}

std::string ExtractDir(const std::string& path) {
    std::string dir = ExtractFileDir(path);
    if (dir.size() == 3 && dir.find('\\') == 2) dir.resize(2);
    return dir;
}

std::string ExpandFileName(const std::string& path) {
    if (path.empty()) return {};
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::string full(size, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

}  // namespace runtime
