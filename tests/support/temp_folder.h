// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Absolute Windows path without a trailing backslash.
    const std::string& Path() const { return path_; }
    // Path() + "\" + relative.
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// Whole files as bytes; WriteFileBytes makes the missing folders first.
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
// The names of the files and folders in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// The files below a folder, at any depth, as paths relative to it ("\"
// separators), sorted.
std::vector<std::string> FilesBelow(const std::string& folder);
// Removes a folder and everything below it; no error when it is not there.
void RemoveTree(const std::string& path);
