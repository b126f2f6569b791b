#include "engine/file_hashes.h"

#include "engine/download.h"
#include "engine/manifest.h"
#include "runtime/narrow_text.h"
#include "runtime/unique_handle.h"

#include <windows.h>

#include <memory>
#include <set>
#include <string_view>

namespace engine {

using runtime::TStringList;

namespace {

// A positive decimal number of at most limit; -1 otherwise.
long long ParseCount(std::string_view digits, long long limit) {
    if (digits.empty() || digits.size() > 18) return -1;
    long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= limit ? value : -1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseDigest(std::string_view hex, Sha256Digest& digest) {
    if (hex.size() != 2 * digest.size()) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

// "<size> <hash>" after the entry's "=".
bool ParseListedFile(std::string_view value, ListedFile& listed) {
    const size_t blank = value.find(' ');
    if (blank == std::string_view::npos) return false;
    listed.size = ParseCount(value.substr(0, blank), kDownloadByteLimit);
    return listed.size >= 0 && ParseDigest(value.substr(blank + 1), listed.sha256);
}

}  // namespace

FileHashes FileHashes::Read(const TStringList& manifest) {
    FileHashes hashes;
    TStringList lines;
    hashes.hasSection_ = manifest.IndexOf("[FileHashes]") >= 0;
    ReadIniSection(manifest, lines, "FileHashes");
    std::set<std::string> twice;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty()) continue;
        // The value has no "=", an entry may.
        const size_t equals = line.rfind('=');
        ListedFile listed;
        if (equals == std::string_view::npos || equals == 0 || !ParseListedFile(line.substr(equals + 1), listed)) {
            ++hashes.malformedLines_;
            continue;
        }
        // Which of two lines for one entry is meant cannot be told: neither counts.
        std::string entry(line.substr(0, equals));
        if (twice.count(entry) != 0) {
            ++hashes.malformedLines_;
        } else if (!hashes.files_.emplace(entry, listed).second) {
            hashes.files_.erase(entry);
            twice.insert(std::move(entry));
            hashes.malformedLines_ += 2;
        }
    }

    ReadIniSection(manifest, lines, "Release");
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string_view line = lines[i];
        constexpr std::string_view kNumber = "Number=";
        if (line.size() > kNumber.size() && runtime::EqualsIgnoringCase(line.substr(0, kNumber.size()), kNumber)) {
            const long long number = ParseCount(line.substr(kNumber.size()), 999999999999999999LL);
            hashes.release_ = number > 0 ? number : 0;
            break;
        }
    }
    return hashes;
}

const ListedFile* FileHashes::Find(const std::string& entry) const {
    auto found = files_.find(entry);
    return found == files_.end() ? nullptr : &found->second;
}

bool FileMatches(const std::string& path, const ListedFile& listed) {
    runtime::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart != listed.size) return false;
    Sha256 hash;
    constexpr DWORD kBlockSize = 256 * 1024;
    std::unique_ptr<char[]> block(new char[kBlockSize]);
    long long total = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), block.get(), kBlockSize, &read, nullptr)) return false;
        if (read == 0) break;
        hash.Add(block.get(), read);
        total += read;
    }
    return total == listed.size && hash.Finish() == listed.sha256;
}

}  // namespace engine
