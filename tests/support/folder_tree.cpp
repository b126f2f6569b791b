#include "tests/support/folder_tree.h"

#include "runtime/unique_handle.h"
#include "tests/support/file_bytes.h"

#include <windows.h>

#include <algorithm>

namespace {

struct FolderEntry {
    std::string name;
    bool isFolder = false;
};

// What a folder holds directly, without "." and "..", in the order the
// system gives it; none when it cannot be read.
std::vector<FolderEntry> FolderEntries(const std::string& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAA found;
    runtime::UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search) return entries;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(search.get(), &found));
    return entries;
}

void AddFilesBelow(const std::string& folder, const std::string& prefix, std::vector<std::string>& files) {
    for (const FolderEntry& entry : FolderEntries(folder)) {
        if (entry.isFolder) {
            AddFilesBelow(folder + "\\" + entry.name, prefix + entry.name + "\\", files);
        } else {
            files.push_back(prefix + entry.name);
        }
    }
}

}  // namespace

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (FolderEntry& entry : FolderEntries(folder)) names.push_back(std::move(entry.name));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    AddFilesBelow(folder, "", files);
    std::sort(files.begin(), files.end());
    return files;
}

void RemoveTree(const std::string& folder) {
    if (folder.empty()) return;
    for (const FolderEntry& entry : FolderEntries(folder)) {
        const std::string child = folder + "\\" + entry.name;
        if (entry.isFolder) {
            RemoveTree(child);
        } else {
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(child.c_str());
        }
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(folder.c_str());
}

Tree TreeOf(const std::string& folder) {
    Tree tree;
    for (const std::string& file : FilesBelow(folder)) tree[file] = ReadFileBytes(folder + "\\" + file);
    return tree;
}

std::vector<std::string> Differences(const Tree& expected, const Tree& actual) {
    std::vector<std::string> differ;
    for (const auto& [file, bytes] : expected) {
        auto found = actual.find(file);
        if (found == actual.end()) {
            differ.push_back("missing " + file);
        } else if (found->second != bytes) {
            differ.push_back("changed " + file);
        }
    }
    for (const auto& [file, bytes] : actual) {
        if (expected.count(file) == 0) differ.push_back("added " + file);
    }
    return differ;
}
