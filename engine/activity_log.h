// The activity log: one time-stamped line per step in the form's log panel.
#pragma once

#include "engine/installer_form.h"

#include <string>

namespace engine {

// Lines beyond which the log panel is emptied before the next line.
constexpr int kLogLineLimit = 21600;

// Appends "<stamp> (<ms since the previous line>) - <message>" and remembers
// the time in the form's LastLogTime.
void LogMessage(InstallerForm& form, const std::string& message);

}  // namespace engine
