#include "tests/support/temp_folder.h"

#include "runtime/exceptions.h"
#include "tests/support/folder_tree.h"

#include <windows.h>

#include <stdexcept>

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
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw runtime::LastOSError("CreateDirectoryA \"" + candidate + "\"");
    }
    throw std::runtime_error("no free temporary folder name");
}

TempFolder::~TempFolder() { RemoveTree(path_); }
