#pragma once
// The directory list file ScanDir.txt as the scanner reads it.

#include <string>
#include <string_view>
#include <vector>

namespace mdb {

inline constexpr char kScanDirFileName[] = "ScanDir.txt";

// Adds one line of the list file to `entries`: the line is trimmed and freed of CR and LF;
// comment lines (";" first) and lines shorter than 2 characters are skipped; an entry equal
// to an earlier one is not added again. Entries keep their case (paths are case-sensitive).
void AddListLine(std::string_view line, std::vector<std::string>& entries);

// Every line of a list file's text, in order, through AddListLine.
std::vector<std::string> ParseListText(std::string_view text);

}  // namespace mdb
