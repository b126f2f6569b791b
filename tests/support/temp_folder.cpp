#include "tests/support/temp_folder.h"

#include "runtime/file_system.h"
#include "runtime/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

using namespace runtime;

namespace {

std::string LastErrorText(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\" failed with error " + std::to_string(GetLastError());
}

// The files below folder, each named with prefix before its relative path.
std::vector<std::string> FilesBelowWithPrefix(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search) return names;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (auto& inner : FilesBelowWithPrefix(folder + "\\" + name, prefix + name + "\\")) names.push_back(inner);
        } else {
            names.push_back(prefix + name);
        }
    } while (FindNextFileA(search.get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    UniqueFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find.get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FilesBelow(const std::string& folder) { return FilesBelowWithPrefix(folder, ""); }

TempFolder::TempFolder() {
    char base[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    std::string root(base, length);
    if (!root.empty() && root.back() == '\\') root.pop_back();

    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = root + "\\engine-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error(LastErrorText("CreateDirectoryA", candidate));
    }
    throw std::runtime_error("no free temporary folder name");
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    const std::string dir = ExtractFileDir(path);
    if (!dir.empty()) ForceDirectories(dir);
    UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error(LastErrorText("CreateFileA", path));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            throw std::runtime_error(LastErrorText("WriteFile", path));
        }
        done += written;
    }
}

std::string ReadFileBytes(const std::string& path) {
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error(LastErrorText("CreateFileA", path));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

void RemoveTree(const std::string& path) {
    if (path.empty()) return;
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA((path + "\\*").c_str(), &found));
    if (search) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search.get(), &found));
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(path.c_str());
}
