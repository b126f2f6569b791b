// Whole files as bytes, for tests that lay out a folder and check what is in it.
#pragma once

#include <string>

// Makes the missing folders, then writes bytes as the whole file at path.
// Throws runtime::EFCreateError or runtime::EOSError when it cannot.
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The file's bytes, read as the program reads a file (runtime::ReadWholeFile).
// Throws runtime::EFOpenError when it cannot be opened.
std::string ReadFileBytes(const std::string& path);
