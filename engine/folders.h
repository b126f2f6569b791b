// The engine's folder operation: making the folder of a file to fetch, with the
// log line when it cannot be made.
#pragma once

#include "engine/installer_form.h"

#include <string>

namespace engine {

// Makes sure a folder exists, making the chain; logs
// "Не могу создать директорию - <dir>" on failure when report is set.
bool CheckDirectory(InstallerForm& form, const std::string& dir, bool report);

}  // namespace engine
