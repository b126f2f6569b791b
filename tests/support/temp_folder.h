// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

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
