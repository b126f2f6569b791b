#include "tests/support/file_bytes.h"

#include "runtime/exceptions.h"
#include "runtime/file_system.h"
#include "runtime/unique_handle.h"

#include <windows.h>

#include <algorithm>

using namespace runtime;

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    const std::string dir = ExtractFileDir(path);
    if (!dir.empty()) ForceDirectories(dir);
    UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw CannotCreateFile(path, GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            throw LastOSError("WriteFile \"" + path + "\"");
        }
        done += written;
    }
}

std::string ReadFileBytes(const std::string& path) { return ReadWholeFile(path); }
