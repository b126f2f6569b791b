// What is below a folder, listed and removed through one walk of its entries.
#pragma once

#include <map>
#include <string>
#include <vector>

// The names of the files and folders in a folder, sorted; none when it cannot
// be read.
std::vector<std::string> FolderNames(const std::string& folder);
// The files below a folder, at any depth, as paths relative to it ("\"
// separators), sorted.
std::vector<std::string> FilesBelow(const std::string& folder);
// Removes a folder and everything below it; no error when it is not there.
void RemoveTree(const std::string& folder);

// Every file below a folder (as FilesBelow names it) with its bytes.
using Tree = std::map<std::string, std::string>;
Tree TreeOf(const std::string& folder);
// The files in which two trees differ: "missing ", "changed " or "added " and
// the file; none when they are the same.
std::vector<std::string> Differences(const Tree& expected, const Tree& actual);
