#include "desktop/compaction/safe_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <random>
#include <vector>

namespace mdb::desktop {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) close(fd_);
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

UniqueFd OpenDirectoryNoLinks(const std::filesystem::path& path) {
    if (!path.is_absolute()) return {};
    UniqueFd current(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const auto& level : path.relative_path()) {
        const std::string name = level.string();
        if (name.empty()) continue;  // a trailing separator
        if (name == "." || name == "..") return {};
        UniqueFd next(
            openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid()) return {};
        current = std::move(next);
    }
    return current;
}

bool CopyAndSync(int from, int to) {
    return CopyAll(from, to) && fsync(to) == 0;
}

bool CopyAll(int from, int to) {
    off_t offset = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w = write(to, buffer.data() + written, static_cast<size_t>(n - written));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            written += w;
        }
        offset += n;
    }
    return true;
}

UniqueFd CreateUniqueFile(int dirFd, const std::string& prefix, const std::string& suffix,
                          mode_t mode, std::string& name) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device device;
    std::mt19937_64 random((static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                           static_cast<std::uint64_t>(getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix;
        for (int i = 0; i < 12; ++i) candidate += kDigits[random() % 36];
        candidate += suffix;
        UniqueFd fd(openat(dirFd, candidate.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.Valid()) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

}  // namespace mdb::desktop
