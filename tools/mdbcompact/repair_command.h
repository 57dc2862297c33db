// `mdbcompact repair SRC DST`: a new, sound file from what a damaged database holds.
#pragma once

#include <cstdint>
#include <string>

namespace mdbcompact {

extern const char kRepairHelp[];

// Exit 0 when repaired with nothing lost, 1 when repaired with losses (each named),
// 2 when no file was made (the reason is printed). `json`: the report as JSON on
// standard output instead of text.
int RunRepair(const std::string& source, const std::string& destination, bool json,
              std::uint64_t memory_budget);

}  // namespace mdbcompact
