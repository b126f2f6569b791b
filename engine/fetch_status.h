// The status line of a run while it fetches a file, in Russian: the file's
// entry, how much has come (of how much, in per cent, when the site sent a
// length), the rate and the file's place in the list:
//   Pelmar.exe — 12,3 из 48,0 МБ (25 %), 2,1 МБ/с — файл 1 из 14
#pragma once

#include "engine/installer_form.h"

#include <windows.h>

#include <optional>
#include <string>

namespace engine {

// The line for progress; bytesPerSecond below 0 leaves the rate out. Counts
// go in units of 1024 with one decimal from kilobytes on ("512 Б", "12,3 КБ").
std::string FetchStatusText(const FileProgress& progress, long long bytesPerSecond);

// Paces the line: a new text at most every kFetchStatusIntervalMs, and only
// when it differs from the one shown; the rate is that of the file so far.
constexpr DWORD kFetchStatusIntervalMs = 100;

class FetchStatus {
public:
    // The text to show for progress at nowMs (GetTickCount()), or nothing
    // when the line stays as it is.
    std::optional<std::string> Next(const FileProgress& progress, DWORD nowMs);
    // Forgets the run: the next report is shown at once.
    void Reset() { *this = FetchStatus(); }

private:
    std::string shown_;
    DWORD shownAt_ = 0;
    bool anyShown_ = false;
    DWORD fileStart_ = 0;
};

}  // namespace engine
