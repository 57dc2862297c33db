#include "platform/profile.h"

#include "platform/clock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace mdb::platform {

namespace {

thread_local ProfileError lastError = ProfileError::None;

// The lock is awaited as a shared file is: 31 attempts, 100 ms apart (about 3 seconds).
constexpr int kLockAttempts = 31;
constexpr unsigned kLockRetryMs = 100;

// Opens `path` without waiting on a FIFO; -1 (with lastError set) unless it is a regular file.
int OpenRegular(const std::string& path, int flags, bool& missing) {
    missing = false;
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        missing = errno == ENOENT;
        if (!missing)
            lastError = errno == ELOOP || errno == EISDIR || errno == ENXIO
                            ? ProfileError::NotRegularFile
                            : ProfileError::OpenFailed;
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lastError = ProfileError::NotRegularFile;
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Holds the lock file beside an INI file for the duration of one call.
class ProfileLock {
  public:
    ProfileLock(const std::string& path, bool exclusive) {
        bool missing = false;
        fd_ = OpenRegular(path + ".lock", O_RDWR | O_CREAT | O_NOFOLLOW, missing);
        if (fd_ < 0) return;
        for (int attempt = 1;; ++attempt) {
            if (flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return;
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK || attempt == kLockAttempts) break;
            SleepMilliseconds(kLockRetryMs);
        }
        lastError = errno == EWOULDBLOCK ? ProfileError::LockTimeout : ProfileError::OpenFailed;
        close(fd_);
        fd_ = -1;
    }
    ~ProfileLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadFile(const std::string& path, std::string& out) {
    out.clear();
    bool missing = false;
    const int fd = OpenRegular(path, O_RDONLY, missing);
    if (fd < 0) return missing ? ReadOutcome::Missing : ReadOutcome::Failed;
    char buf[8192];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return ReadOutcome::Read;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Section name of a "[name]" line, if it is one.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const size_t close = line.find(']');
    if (close == std::string_view::npos) return Trim(line.substr(1));
    return Trim(line.substr(1, close - 1));
}

// Key and value of a "key=value" line, if it is one.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}

std::optional<std::string> Lookup(const std::string& text, const std::string& section,
                                  const std::string& key) {
    bool inSection = false;
    for (std::string_view line : SplitLines(text)) {
        if (auto name = SectionName(line)) {
            inSection = EqualNoCase(*name, Trim(section));
            continue;
        }
        std::string_view k, v;
        if (inSection && KeyValue(line, k, v) && EqualNoCase(k, Trim(key))) {
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::nullopt;
}

std::string Replace(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
    const std::vector<std::string_view> lines = SplitLines(text);
    std::string out;
    bool inSection = false, sectionSeen = false, done = false;
    size_t insertAfter = std::string::npos;  // output offset after the section's last entry
    for (std::string_view line : lines) {
        if (auto name = SectionName(line)) {
            inSection = !done && EqualNoCase(*name, Trim(section));
            if (inSection) sectionSeen = true;
        } else if (inSection) {
            std::string_view k, v;
            if (KeyValue(line, k, v) && EqualNoCase(k, Trim(key))) {
                out.append(k).append("=").append(value).append("\r\n");
                done = true;
                inSection = false;
                continue;
            }
        }
        out.append(line).append("\r\n");
        if (inSection && !Trim(line).empty()) insertAfter = out.size();
    }
    if (done) return out;
    const std::string entry = std::string(Trim(key)) + "=" + value + "\r\n";
    if (sectionSeen && insertAfter != std::string::npos) {
        out.insert(insertAfter, entry);
        return out;
    }
    out.append("[").append(Trim(section)).append("]\r\n").append(entry);
    return out;
}

bool WriteReplacing(const std::string& path, const std::string& content) {
    const std::string temp = path + ".tmp";
    // The lock is held, so no other writer uses the temporary name: whatever is left there
    // (an earlier copy, or a FIFO that would block the open) is removed first.
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError = ProfileError::WriteFailed;
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    lastError = ProfileError::WriteFailed;
    return false;
}

}  // namespace

ProfileError LastProfileError() {
    return lastError;
}

unsigned GetProfileInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& path) {
    lastError = ProfileError::None;
    std::optional<std::string> value;
    {
        ProfileLock lock(path, false);
        std::string text;
        if (ReadFile(path, text) == ReadOutcome::Read) value = Lookup(text, section, key);
    }
    if (!value || value->empty()) return static_cast<unsigned>(defaultValue);
    std::string_view v = Trim(*value);
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    std::uint32_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return negative ? 0u : n;
}

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path) {
    lastError = ProfileError::None;
    std::optional<std::string> value;
    {
        ProfileLock lock(path, false);
        std::string text;
        if (ReadFile(path, text) == ReadOutcome::Read) value = Lookup(text, section, key);
    }
    const std::string trimmed = value ? std::string(Trim(*value)) : std::string();
    return trimmed.empty() ? defaultValue : trimmed;
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    lastError = ProfileError::None;
    if (Trim(section).empty() || Trim(key).empty()) return false;
    ProfileLock lock(path, true);
    if (!lock.Held()) return false;
    std::string text;
    const ReadOutcome read = ReadFile(path, text);
    // Whatever stands in place of the file and is not one (a FIFO, a directory) stays as it is.
    if (read == ReadOutcome::Failed) return false;
    const bool exists = read == ReadOutcome::Read;
    std::string updated = Replace(text, section, key, value);
    // Rewriting identical content would change nothing but cost a file replacement.
    if (exists && updated == text) return true;
    return WriteReplacing(path, updated);
}

}  // namespace mdb::platform
