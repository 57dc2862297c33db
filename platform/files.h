#pragma once
// Files and directories: existence, directory creation and share-locked opening.
//
// Sharing follows the Windows model: a writer that opens "exclusively" refuses every other
// opener, a reader that "denies writers" refuses writers. Here that is an advisory lock
// (flock) on the open file; a lock held by another opener is a sharing violation.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace mdb::platform {

// True when a file-system entry matches `path` (the entry itself; a symbolic link counts as
// found even when it dangles). Wildcards '*' and '?' in the last component match.
bool FindFirst(const std::string& path);

// Creates one directory level. True on success or when a directory is already there.
bool MakeDirectory(const std::string& path);

enum class OpenResult { Ok, SharingViolation, Failed };

// The error number given for a path that names something other than a regular file (a FIFO,
// a device, a socket). Such files are never opened for reading or writing: a FIFO would block
// the opener until some other process writes to it. Directories give EISDIR.
inline constexpr int kErrorNotRegularFile = -1;

enum class OpenMode {
    ReadDenyWrite,         // existing file, read only, other writers refused
    WriteExclusiveCreate,  // read/write, created when missing, never truncated, no sharing
};

// An open file with its sharing lock; closed by the destructor.
class SharedFile {
  public:
    SharedFile() = default;
    ~SharedFile();
    SharedFile(SharedFile&& other) noexcept;
    SharedFile& operator=(SharedFile&& other) noexcept;
    SharedFile(const SharedFile&) = delete;
    SharedFile& operator=(const SharedFile&) = delete;

    // One attempt to open `path` in `mode`; only a regular file is opened, never through a
    // symbolic link.
    OpenResult Open(const std::string& path, OpenMode mode);
    bool IsOpen() const { return fd_ >= 0; }
    // The system error number of the last failed Open (0 after a success).
    int LastError() const { return lastError_; }
    void Close();

    // File length, or -1 on failure.
    std::int64_t Length() const;
    bool Truncate();
    // Appends all of `bytes` at the end of the file.
    bool Append(std::span<const char> bytes);
    // Reads the whole file from its start.
    bool ReadAll(std::string& out);

  private:
    int fd_ = -1;
    int lastError_ = 0;
};

// Opens `path` with retries: a sharing violation is retried every `delayMs` milliseconds,
// `attempts` attempts in all; any other failure gives up at once. `violations` receives the
// number of attempts refused by a sharing violation.
OpenResult OpenWithRetry(SharedFile& file, const std::string& path, OpenMode mode, int attempts,
                         unsigned delayMs, int* violations = nullptr);

// The same with the pause between attempts made by `pause` (so a caller decides how to
// wait); an empty `pause` retries at once.
using RetryPause = std::function<void(std::chrono::milliseconds)>;
OpenResult OpenWithRetry(SharedFile& file, const std::string& path, OpenMode mode, int attempts,
                         std::chrono::milliseconds delay, const RetryPause& pause,
                         int* violations = nullptr);

// Kinds of failure to open a file, from the system error number SharedFile::LastError gives.
enum class FileError {
    NotFound,      // the file does not exist
    BadPath,       // a directory of the path is missing or no directory, or it is too long
    TooManyOpen,   // no file handle to spare
    AccessDenied,  // not permitted
    Other,
};
FileError ClassifyFileError(int systemError);

// Replaces the whole content of the regular file `path` (created when missing) by `bytes`
// without ever leaving it empty or cut short, also after a crash or a full disk: the bytes
// go to a new file beside it, which is flushed to the disk and then renamed over `path`
// (an existing file's permission bits, and where permitted its owner, are kept). Readers
// that opened the old file go on reading it whole. SharingViolation: another process holds
// the file so that it cannot be replaced now (Windows); nothing changed, try again later.
OpenResult ReplaceFileContent(const std::string& path, std::span<const char> bytes);

enum class HeaderResult { Ok, SharingViolation, Failed };

// Reads up to `buffer.size()` bytes from the start of an existing regular file, opened for
// reading with other writers refused. Symbolic links and special files are never opened.
// `fileSize` receives the size of the opened file and `bytesRead` the count read; `error` the
// system error number of a failure (kErrorNotRegularFile, EISDIR included).
HeaderResult ReadFileStart(const std::string& path, std::span<std::uint8_t> buffer,
                           std::uint64_t& fileSize, std::size_t& bytesRead,
                           int* error = nullptr);

}  // namespace mdb::platform
