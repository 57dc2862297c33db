#pragma once
// Files reached through an open directory, never through a symbolic link: the files of
// web sites (whose directories site users may be able to change) and of the backup area.
// Every name below is one level (no separator) relative to an open directory.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace mdb::platform {

// An open file or directory, closed on destruction.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();

  private:
    int fd_ = -1;
};

// What identifies one state of a file: which file it is, and its size and times.
struct FileStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0;
    std::int64_t ctimeSec = 0, ctimeNsec = 0;
    std::uint32_t owner = 0, group = 0;
    std::uint32_t mode = 0;  // permission bits (07777)
    std::uint64_t links = 1;  // names (hard links) the file has
    bool regular = false;
    bool directory = false;
};

// True when `a` and `b` describe the same file in the same state (same file, size,
// modification and change times to the nanosecond).
bool SameFileState(const FileStatus& a, const FileStatus& b);
bool SameFile(const FileStatus& a, const FileStatus& b);

bool StatusOf(const FileHandle& file, FileStatus& status);
// The entry `name` itself (a link is described, not followed).
bool StatusAt(const FileHandle& dir, const std::string& name, FileStatus& status);

// Opens the directory `path` (absolute, without "." or ".." levels) level by level from
// the root, refusing any level that is a symbolic link. Invalid on failure.
FileHandle OpenDirectoryNoLinks(const std::filesystem::path& path);
// Opens the directory `name` inside `dir`, refusing a link.
FileHandle OpenSubdirectory(const FileHandle& dir, const std::string& name);
// The same, creating the directory (mode 0755) when `name` is free. `name` is one level:
// no separator, not "." or "..". Relative to a handle, so no path length limit applies.
FileHandle OpenOrCreateSubdirectory(const FileHandle& dir, const std::string& name);
// Opens the directory `path` (absolute), creating its missing levels one by one relative
// to the level above: never through a link, and at any path length (a backup root may be
// longer than the 260 characters the path functions of Windows take). Invalid on failure.
FileHandle OpenOrCreateDirectoryNoLinks(const std::filesystem::path& path);

// Opens `name` for reading, refusing a link; never blocks on a pipe.
FileHandle OpenForReading(const FileHandle& dir, const std::string& name);

// Creates the new file `name` for writing; fails when any entry has that name.
FileHandle CreateExclusive(const FileHandle& dir, const std::string& name, std::uint32_t mode);

// Creates a new file in `dir` whose name is `prefix` + 12 random characters of
// [0-9a-z] + `suffix`, exclusively (an existing name is never reused, also not one
// created at the same moment by another process). Sets `name`.
FileHandle CreateUniqueFile(const FileHandle& dir, const std::string& prefix,
                            const std::string& suffix, std::uint32_t mode, std::string& name);
// The same for a directory (mode 0700); the directory is returned open.
FileHandle CreateUniqueDirectory(const FileHandle& dir, const std::string& prefix,
                                 std::string& name);
// Length of the random part of the names above.
inline constexpr std::size_t kUniqueNameChars = 12;

// Copies every byte of `from` (from its start) to `to` (at its current position).
bool CopyAll(const FileHandle& from, const FileHandle& to);
// Reads up to `buffer.size()` bytes from `offset`; the count read, or -1.
std::int64_t ReadAt(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer);
// Flushes a file, or a directory's entries, to the disk.
bool Sync(const FileHandle& file);

// Gives `file` the owner, group, permission bits and modification time of `like`, as
// "cp -p" does: when the owner cannot be given (not permitted), the set-id bits are
// dropped and the rest is still copied. False on any other failure.
bool CopyOwnerModeTime(const FileHandle& file, const FileStatus& like);
// Owner, group and permission bits only (the time stays).
bool SetOwnerAndMode(const FileHandle& file, const FileStatus& like, std::uint32_t mode);

// Renames `from` to `to` in `dir`, replacing `to`. Where the system cannot replace a file
// that is held open (Windows before 10 1709, Wine), the file under `to` is first renamed
// aside, to `to` + kReplacedAsideMiddle + a unique part, and removed afterwards; when that
// removal fails the rename still counts, and `leftAside` (when given) receives the name
// left aside (empty otherwise).
bool Rename(const FileHandle& dir, const std::string& from, const std::string& to,
            std::string* leftAside = nullptr);
inline constexpr char kReplacedAsideMiddle[] = ".replaced-";
enum class RenameResult { Done, Exists, Failed };
// Renames without ever replacing an existing `to`.
RenameResult RenameNoReplace(const FileHandle& dir, const std::string& from,
                             const std::string& to);
enum class ExchangeResult { Exchanged, Unsupported, Failed };
// Swaps the two names atomically. Unsupported where the file system cannot.
ExchangeResult Exchange(const FileHandle& dir, const std::string& a, const std::string& b);

bool RemoveFile(const FileHandle& dir, const std::string& name);
bool RemoveDirectory(const FileHandle& dir, const std::string& name);

struct DirectoryEntry {
    std::string name;
    FileStatus status;  // of the entry itself, links not followed
    bool link = false;
};
// The entries of `dir` (without "." and ".."); false when it cannot be read.
bool ListDirectory(const FileHandle& dir, std::vector<DirectoryEntry>& entries);

// The user this process runs as.
std::uint32_t CurrentUser();

// True when `name` in `dir` cannot be opened for reading because another process holds
// it open and refuses readers, or holds it for writing while this process refuses writers
// (Windows sharing modes; never on POSIX, where opening is not refused by other openers).
bool ReadingRefusedByAnotherProcess(const FileHandle& dir, const std::string& name);

enum class Writers {
    None,     // no process holds the file open for writing or mapped writable
    Writing,  // some process does (this one included)
    Unseen,   // cannot be told: see WritersOf
};
// Whether any process holds the file `file` describes open for writing or mapped
// writable. On Linux the kernel answers through a read lease when this process holds the
// file open and may take one (it owns the file, or has CAP_LEASE); otherwise every
// process's descriptors and mappings are looked at, which answers only when this process
// may see them all (root, or no process of another user): else Unseen. On Windows a file
// this process holds open with writers refused has none; any other counts as Writing.
Writers WritersOf(const FileStatus& file);
// WritersOf(file) != None: a writer that cannot be ruled out counts as one.
bool OpenForWritingByAProcess(const FileStatus& file);

}  // namespace mdb::platform
