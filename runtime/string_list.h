// An ordered list of narrow text lines.
#pragma once

#include <string>
#include <vector>

namespace runtime {

class TStringList {
public:
    // Replaces the list with the lines of a text file. A byte-order mark picks
    // the encoding (UTF-8, UTF-16 LE or BE) and is dropped; without one the
    // bytes are ANSI. Lines end at CR, LF or CR LF; a final break adds no empty
    // line; U+0000 ends the text.
    // Throws EFOpenError when the file cannot be opened for reading, and
    // EEncodingError for invalid UTF-8 after a UTF-8 mark (the list is then
    // left as it was).
    void LoadFromFile(const std::string& fileName);

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }
    // Index of the first line equal to text, letter case ignored by the
    // user's locale; -1 when there is none.
    int IndexOf(const std::string& text) const;

private:
    std::vector<std::string> lines_;
};

}  // namespace runtime
