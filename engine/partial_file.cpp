#include "engine/partial_file.h"

#include "runtime/exceptions.h"
#include "runtime/narrow_text.h"

#include <windows.h>

#include <cstdint>

namespace engine {

using runtime::CannotCreateFile;
using runtime::UniqueFileHandle;

namespace {

// The ANSI file functions take paths of up to MAX_PATH - 1 characters.
constexpr size_t kLongestPath = MAX_PATH - 1;
constexpr DWORD kHeldFileRetryStepMs = 50;

// A name as long as name, of "~" and letters and digits that a hash of name
// and suffix picks: for a target whose usual side name would not fit the path
// limit.
std::string ShortSideName(const std::string& name, const std::string& suffix) {
    // FNV-1a over the name and suffix, ASCII letters folded: file names ignore case.
    std::uint64_t hash = 14695981039346656037ULL;
    for (char c : runtime::AsciiLowerCase(name + suffix)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string shortName = "~";
    for (int i = 0; i < 13 && shortName.size() < name.size(); ++i, hash >>= 5) shortName += kDigits[hash & 31];
    if (runtime::EqualsIgnoringCase(shortName, name)) shortName[0] = '$';
    return shortName;
}

bool HasFileName(const std::string& path) {
    char last = path.back();
    return last != '\\' && last != '/' && last != ':';
}

// What another program's brief look at a file gives.
bool IsHeldError(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Opening the target for writing, as creating it would.
BOOL OpenForWriting(const std::string& target, const std::string&) {
    UniqueFileHandle probe(
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(probe);
}

BOOL MoveOnto(const std::string& target, const std::string& from) {
    return MoveFileExA(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Runs attempt until it succeeds, fails for another reason than a held file,
// or the retry window has passed; ERROR_SUCCESS or its last error.
DWORD RetryWhileHeld(BOOL (*attempt)(const std::string& target, const std::string& from), const std::string& target,
                     const std::string& from = {}) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD code = attempt(target, from) ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
        if (!IsHeldError(code) || GetTickCount() - start >= kHeldFileRetryMs) return code;
        Sleep(kHeldFileRetryStepMs);
    }
}

}  // namespace

std::string SidePathFor(const std::string& target, const std::string& suffix) {
    const size_t cut = target.find_last_of("\\/:");
    const size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
    const std::string name = target.substr(nameStart);
    std::string side = target + suffix;
    if (side.size() <= kLongestPath || name.empty()) return side;
    return target.substr(0, nameStart) + ShortSideName(name, suffix);
}

std::string PartialPathFor(const std::string& target) { return SidePathFor(target, ".~part"); }

void ProbeTarget(const std::string& target) {
    const DWORD code = RetryWhileHeld(OpenForWriting, target);
    if (!HasFileName(target)) {
        throw CannotCreateFile(target, code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_NAME : code);
    }
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND) throw CannotCreateFile(target, code);
}

PartialFile::PartialFile(const std::string& target) : target_(target), path_(PartialPathFor(target)) {
    file_.reset(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        DWORD code = GetLastError();
        throw CannotCreateFile(target_, code);
    }
}

PartialFile::~PartialFile() {
    file_.reset();
    if (!replaced_) DeleteFileA(path_.c_str());
}

bool PartialFile::Close() { return CloseHandle(file_.release()) != 0; }

DWORD MoveHeldFile(const std::string& from, const std::string& to) { return RetryWhileHeld(MoveOnto, to, from); }

void MoveOntoTarget(const std::string& from, const std::string& target) {
    const DWORD code = MoveHeldFile(from, target);
    if (code != ERROR_SUCCESS) throw CannotCreateFile(target, code);
}

void PartialFile::Keep() { replaced_ = true; }

void PartialFile::ReplaceTarget() {
    MoveOntoTarget(path_, target_);
    replaced_ = true;
}

}  // namespace engine
