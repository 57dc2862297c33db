// File operations that never follow a symbolic link, for the files of web sites
// (whose directories site users may be able to change).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace mdb::desktop {

// An open file descriptor, closed on destruction.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();

  private:
    int fd_ = -1;
};

// Opens the directory `path` (absolute, without "." or ".." levels) level by level
// from the root, refusing any level that is a symbolic link. Invalid on failure.
UniqueFd OpenDirectoryNoLinks(const std::filesystem::path& path);

// Copies every byte of `from` (from its start) to `to` (at its current position).
// False on any read or write error.
bool CopyAll(int from, int to);

// CopyAll, then flushes `to` to the disk.
bool CopyAndSync(int from, int to);

// Creates a new file in the directory `dirFd` whose name is `prefix` + a random part +
// `suffix`, exclusively (an existing name is never reused, also not one created at the
// same moment by another process). Returns the open file and sets `name`.
UniqueFd CreateUniqueFile(int dirFd, const std::string& prefix, const std::string& suffix,
                          mode_t mode, std::string& name);

}  // namespace mdb::desktop
