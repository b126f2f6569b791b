#include "tests/support/small_disk.h"

#include <windows.h>

#include <cstdlib>

std::string SmallDiskFolder(std::string& whyNot) {
    const char* folder = std::getenv("SMALL_DISK");
    if (folder == nullptr || *folder == '\0') {
        whyNot = "SMALL_DISK is not set: the test run mounts a small disk there (tests/engine/small_disk)";
        return {};
    }
    ULARGE_INTEGER total{};
    if (!GetDiskFreeSpaceExA(folder, nullptr, &total, nullptr) || total.QuadPart > 4u << 20) {
        whyNot = std::string("no small disk mounted at ") + folder + " (mounting needs root)";
        return {};
    }
    return folder;
}
