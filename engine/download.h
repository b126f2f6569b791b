// Fetching one HTTP URL into one local file.
#pragma once

#include "engine/installer_form.h"

#include <string>

namespace engine {

// Results of DownloadFile below 1.
constexpr int kDownloadEmpty = 0;          // empty URL, path or body; nothing written
constexpr int kDownloadNotOpened = -1;     // URL not opened, or a status other than 2xx
constexpr int kDownloadNoSession = -2;     // no internet session
constexpr int kDownloadIncomplete = -3;    // cut off, failed read or write, or too long

// Most bytes copied into one file (100000 reads of 10240 bytes).
constexpr long long kDownloadByteLimit = 100000LL * 10240;

// Makes sure a folder exists, making the chain; logs
// "Не могу создать директорию - <dir>" on failure when report is set.
bool CheckDirectory(InstallerForm& form, const std::string& dir, bool report);

// Copies the body of url into localPath and returns its byte count, or a
// result above. The body goes to a temporary file beside the target, which
// replaces the target only when it is complete: on any failure the target
// stays as it was. Throws EFCreateError when the file cannot be created or the
// target cannot be replaced.
int DownloadFile(InstallerForm& form, const std::string& url, const std::string& localPath);

}  // namespace engine
