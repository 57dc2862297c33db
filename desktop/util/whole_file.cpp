#include "desktop/util/whole_file.h"

#include "desktop/util/file_mode.h"

#include "platform/arguments.h"
#include "platform/files.h"

#include <exception>
#include <system_error>

namespace mdb::desktop {

namespace fs = std::filesystem;

namespace {

// Refuses what is there but is no regular file (a directory, a pipe that would block the
// open, a device, a symbolic link). `mayBeMissing`: a missing path is acceptable.
bool AcceptableTarget(const std::string& path, bool mayBeMissing) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(platform::PathFromUtf8(path), ec);
    if (st.type() == fs::file_type::not_found) return mayBeMissing;
    return !ec && fs::is_regular_file(st);
}

platform::OpenResult OpenWithSharingRetry(platform::SharedFile& file, const std::string& path,
                                          platform::OpenMode mode, const Sleeper& sleep) {
    return platform::OpenWithRetry(file, path, mode, kShareAttempts, kShareRetryDelay, sleep);
}

// Reads the whole file after its length passed the limits; `data` receives its bytes.
int ReadLockedUnguarded(const std::string& path, std::string& data, const Sleeper& sleep) {
    data.clear();
    if (path.empty() || !AcceptableTarget(path, false)) return 0;
    platform::SharedFile file;
    if (OpenWithSharingRetry(file, path, platform::OpenMode::ReadDenyWrite, sleep) !=
        platform::OpenResult::Ok) {
        return 0;
    }
    const std::int64_t length = file.Length();
    if (length < 1 || static_cast<std::uint64_t>(length) > kMaxWholeFile) return 0;
    std::string bytes;
    if (!file.ReadAll(bytes) || bytes.size() != static_cast<std::uint64_t>(length)) return 0;
    data = std::move(bytes);
    return 1;
}

int ReadLocked(const std::string& path, std::string& data, const Sleeper& sleep) {
    try {
        return ReadLockedUnguarded(path, data, sleep);
    } catch (const std::exception&) {  // no memory for the content
        data.clear();
        return 0;
    }
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& out, const Sleeper& sleep) {
    out.clear();
    if (path.empty()) return 0;
    return ReadLocked(path, out, sleep);
}

int WriteWholeFile(const std::string& path, std::span<const char> bytes, const Sleeper& sleep) {
    if (path.empty() || !AcceptableTarget(path, true)) return 0;
    for (int attempt = 1;; ++attempt) {
        {
            // Waits until no other process reads or writes the file, as a reader waits for
            // a writer; the lock goes before the replacement (Windows cannot replace a file
            // that is held open).
            platform::SharedFile holders;
            if (OpenWithSharingRetry(holders, path, platform::OpenMode::WriteExclusiveCreate,
                                     sleep) != platform::OpenResult::Ok) {
                return 0;
            }
        }
        // The new content goes beside the file and then takes its name, so a crash or a
        // full disk leaves the old content whole, never an empty or cut-off file.
        const platform::OpenResult replaced = platform::ReplaceFileContent(path, bytes);
        if (replaced == platform::OpenResult::Ok) return 1;
        if (replaced != platform::OpenResult::SharingViolation || attempt >= kShareAttempts) {
            return 0;
        }
        sleep(kShareRetryDelay);
    }
}

int WriteTextFile(std::string_view text, const std::string& path, const Sleeper& sleep) {
    const std::string_view content = text.empty() ? std::string_view("\r\n") : text;
    std::error_code ec;
    if (!path.empty() && fs::is_regular_file(fs::symlink_status(platform::PathFromUtf8(path), ec))) {
        MakeOwnerWritable(platform::PathFromUtf8(path));  // a failure shows when the file is opened
    }
    return WriteWholeFile(path, std::span<const char>(content.data(), content.size()), sleep);
}

}  // namespace mdb::desktop
