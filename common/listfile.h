#pragma once
// The directory list file ScanDir.txt as the scanner reads it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mdb {

inline constexpr char kScanDirFileName[] = "ScanDir.txt";

// Adds one line of the list file to `entries`: the line is trimmed and freed of CR and LF;
// comment lines (";" first) and lines shorter than 2 characters are skipped; an entry equal
// to an earlier one is not added again. Entries keep their case where paths are
// case-sensitive (Linux) and are lower-cased where they are not (Windows).
void AddListLine(std::string_view line, std::vector<std::string>& entries);

// A line of the list file that was left out although it was not blank or a comment.
struct IgnoredListLine {
    enum class Why {
        NulByte,         // a NUL byte: the text after it would be cut off unseen
        FileSystemRoot,  // "/" (or a spelling of it): not a site directory
    };
    size_t line = 0;  // 1-based
    std::string text;
    Why why = Why::NulByte;
};

struct ParsedListFile {
    std::vector<std::string> entries;
    std::vector<IgnoredListLine> ignored;
    // Lines ended by a lone CR (old Mac style) were met; they were split there.
    bool crLineEnds = false;
};

// Every line of a list file's text, in order, through AddListLine. Lines end at CR LF, LF or
// a lone CR.
ParsedListFile ParseListFile(std::string_view text);

// The entries of ParseListFile alone.
std::vector<std::string> ParseListText(std::string_view text);

}  // namespace mdb
