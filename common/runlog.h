#pragma once
// The scanner's run log beside the program.

#include <cstdint>
#include <string>

namespace mdb {

inline constexpr char kRunLogFileName[] = "__mdbscout.log";
inline constexpr std::uint64_t kDefaultRunLogCap = 1048576;  // 1 MiB

// The directory the run log is written to; empty until the program sets it.
void SetRunLogDirectory(std::string directory);
const std::string& RunLogDirectory();

// The cap actually used for a requested cap given as two 32-bit halves.
std::uint64_t NormaliseRunLogCap(std::uint32_t capLow, std::uint32_t capHigh);

// Appends one line, time prefix + message + CR LF, to run-log directory / subdirectory /
// fileName; the file is emptied first when it is longer than the cap. The file is opened
// exclusively, a sharing violation being retried every 100 ms (31 attempts). 1 if written.
int WriteRunLog(const std::string& message, const std::string& subdirectory,
                const std::string& fileName, std::uint32_t capLow = kDefaultRunLogCap,
                std::uint32_t capHigh = 0);

// The scanner's entries: the file name and cap it always uses.
inline int WriteRunLog(const std::string& message) {
    return WriteRunLog(message, "", kRunLogFileName);
}

}  // namespace mdb
