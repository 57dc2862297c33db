#pragma once
// Names the programs give their own files beside a site's database: the batch's temporary
// copies (".NAME.mdbwarden-XXXXXXXXXXXX.tmp", a backup or the compacted file before it
// takes its name) and the original put aside while the compacted file takes its place
// ("NAME.replaced-XXXXXXXXXXXX", see platform::Rename). They are never recorded by a
// scan, and the start of a batch clears what an interrupted one left of them.

#include <optional>
#include <string>
#include <string_view>

namespace mdb {

inline constexpr char kStagingMiddle[] = ".mdbwarden-";
inline constexpr char kStagingSuffix[] = ".tmp";

// The first part of a temporary file's name beside `name` (CreateUniqueFile adds the rest).
std::string StagingPrefixFor(const std::string& name);

// The name a temporary file stands beside, or nullopt when `entry` is no such name.
std::optional<std::string> StagingFileTarget(std::string_view entry);
// The name whose file was put aside as `entry`, or nullopt when `entry` is no such name.
std::optional<std::string> AsideFileTarget(std::string_view entry);

inline bool IsOwnFileName(std::string_view entry) {
    return StagingFileTarget(entry) || AsideFileTarget(entry);
}

}  // namespace mdb
