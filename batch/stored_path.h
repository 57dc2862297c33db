// The paths of the recorded files: a record's `filepath` is Base64 text of the UTF-16LE
// bytes of the file's long path (the platform's long-path prefix, then an absolute path).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mdb::batch {

// The absolute path a long path names (prefixes removed); nullopt when it is not an
// acceptable long path (too long, a zero unit, an unpaired surrogate, relative).
std::optional<std::filesystem::path> PathFromLong(std::u16string longPath);

// The file path a record's `filepath` text names (the long path it decodes to, without
// the prefix).
std::optional<std::filesystem::path> DecodeStoredPath(const std::string& storedPath);

// DecodeStoredPath for messages: the path as text, or the stored text itself when it
// does not decode.
std::string StoredPathText(const std::string& storedPath);

// The `filepath` text of the file `path` (absolute).
std::string StoredPathOf(const std::filesystem::path& path);

// A recorded file as the batch takes it: the record's `filepath` text, which keys the
// record's statements, and the site file's path that text names, decoded once.
struct RecordedFile {
    std::string stored;
    // Empty when the text does not decode to an acceptable path (DecodeStoredPath).
    std::optional<std::filesystem::path> path;

    // For messages: the path as text, or the stored text itself when it does not decode.
    std::string Text() const;
};

RecordedFile DecodeRecordedFile(const std::string& storedPath);
std::vector<RecordedFile> DecodeRecordedFiles(const std::vector<std::string>& storedPaths);

}  // namespace mdb::batch
