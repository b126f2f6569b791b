// The small disk that the test run mounts (tests/engine/small_disk), on which
// tests fill a disk.
#pragma once

#include <string>

// Its folder, or empty and why there is none in whyNot.
std::string SmallDiskFolder(std::string& whyNot);
