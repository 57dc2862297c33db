#include "common/runlog.h"

#include "common/paths.h"
#include "common/text.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <mutex>

namespace mdb {

namespace {

constexpr size_t kMaxMessage = 104857599;
constexpr std::uint64_t kMaxCap = 52428800;  // 50 MiB

struct RunLogState {
    std::mutex lock;
    std::string directory;
};

RunLogState& State() {
    static RunLogState state;
    return state;
}

}  // namespace

void SetRunLogDirectory(std::string directory) {
    std::lock_guard guard(State().lock);
    State().directory = std::move(directory);
}

const std::string& RunLogDirectory() {
    return State().directory;
}

std::uint64_t NormaliseRunLogCap(std::uint32_t capLow, std::uint32_t capHigh) {
    const std::uint64_t cap = (static_cast<std::uint64_t>(capHigh) << 32) | capLow;
    return cap < kDefaultRunLogCap || cap > kMaxCap ? kDefaultRunLogCap : cap;
}

int WriteRunLog(const std::string& message, const std::string& subdirectory,
                const std::string& fileName, std::uint32_t capLow, std::uint32_t capHigh) {
    std::string base;
    {
        std::lock_guard guard(State().lock);
        base = State().directory;
    }
    if (message.empty() || message.size() > kMaxMessage) return 0;
    if (base.size() < 4 || base.size() > 259) return 0;
    if (fileName.empty() || fileName.size() > 259) return 0;
    const std::uint64_t cap = NormaliseRunLogCap(capLow, capHigh);

    const char sep = platform::kSeparator;
    std::string dir = CollapseSeparators(base + sep + subdirectory);
    if (dir.size() >= 3 && dir.size() <= kMaxPath && dir.back() == sep) dir.pop_back();
    if (dir.empty() || dir.size() > 259) return 0;
    if (!PathExists(dir)) {
        CreateDirectoryChain(dir);
        if (!PathExists(dir)) return 0;
    }
    const std::string path = CollapseSeparators(base + sep + subdirectory + sep + fileName);
    if (path.empty() || path.size() > 259) return 0;

    platform::SharedFile file;
    if (platform::OpenWithRetry(file, path, platform::OpenMode::WriteExclusiveCreate, 31, 100) !=
        platform::OpenResult::Ok)
        return 0;
    const std::int64_t length = file.Length();
    if (length < 0) return 0;
    if (static_cast<std::uint64_t>(length) > cap && !file.Truncate()) return 0;
    const std::string line = platform::FormatLocalNow("%Y-%m-%d %H:%M:%S - ") + message + "\r\n";
    if (line.size() > kMaxMessage) return 0;
    // Written in the system code page (GBK on Chinese Windows), as the log has always been.
    return file.Append(platform::SystemCodePageFromUtf8(line)) ? 1 : 0;
}

}  // namespace mdb
