// Folder and file tests, the folder chain and whole-file reading, on narrow
// (ANSI) paths.
#pragma once

#include <string>

namespace runtime {

// True for an existing folder, and also for a path whose attributes cannot be
// read for a reason other than "not found" (access denied, for example).
bool DirectoryExists(const std::string& path);
// True for an existing file; false for a folder.
bool FileExists(const std::string& path);

// Creates a folder and every missing parent; returns whether the last one was
// made or was there. A drive alone (C: or C:\) counts as existing.
// Throws EInOutError "Unable to create directory" for an empty path, and for a
// relative path whose first missing folder name has 3 or more characters.
bool ForceDirectories(const std::string& dir);

// The bytes of a file, as they are on disk. Throws EFOpenError when the file
// cannot be opened for reading.
std::string ReadWholeFile(const std::string& fileName);

// Everything before the last "\" or ":"; the ":" stays, the "\" only when it is
// the first character or follows "\" or ":".
std::string ExtractFileDir(const std::string& path);
// ExtractFileDir, with a drive root (C:\) shortened to the drive (C:).
std::string ExtractDir(const std::string& path);
// The path made absolute against the current folder.
std::string ExpandFileName(const std::string& path);

}  // namespace runtime
