#include "platform/files.h"

#include <errno.h>

#include <utility>

#include "platform/clock.h"

// The parts of the file layer that are the same on every system.
namespace mdb::platform {

SharedFile::~SharedFile() {
    Close();
}

SharedFile::SharedFile(SharedFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lastError_(other.lastError_) {}

SharedFile& SharedFile::operator=(SharedFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

OpenResult OpenWithRetry(SharedFile& file, const std::string& path, OpenMode mode, int attempts,
                         std::chrono::milliseconds delay, const RetryPause& pause,
                         int* violations) {
    int refused = 0;
    OpenResult result = OpenResult::Failed;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        result = file.Open(path, mode);
        if (result != OpenResult::SharingViolation) break;
        ++refused;
        if (attempt + 1 < attempts && pause) pause(delay);
    }
    if (violations != nullptr) *violations = refused;
    return result;
}

OpenResult OpenWithRetry(SharedFile& file, const std::string& path, OpenMode mode, int attempts,
                         unsigned delayMs, int* violations) {
    return OpenWithRetry(
        file, path, mode, attempts, std::chrono::milliseconds(delayMs),
        [](std::chrono::milliseconds d) { SleepMilliseconds(static_cast<unsigned>(d.count())); },
        violations);
}

FileError ClassifyFileError(int systemError) {
    switch (systemError) {
        case ENOENT:
            return FileError::NotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
            return FileError::BadPath;
        case EMFILE:
        case ENFILE:
            return FileError::TooManyOpen;
        case EACCES:
        case EPERM:
            return FileError::AccessDenied;
        default:
            return FileError::Other;
    }
}

}  // namespace mdb::platform
