#include "batch/backup_retention.h"

#include "platform/arguments.h"

#include <fstream>

namespace mdb::batch {
namespace fs = std::filesystem;

namespace {

// The time a run directory's names stand for, or -1 when they are not a run's names.
std::time_t RunTime(const std::string& date, const std::string& time) {
    std::tm tm{};
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday) != 3 ||
        date.size() != 10 || time.size() != 8 ||
        std::sscanf(time.c_str(), "%2d-%2d-%2d", &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 3)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

bool RealDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() == fs::file_type::directory;
}

}  // namespace

void MarkRunDirectory(const fs::path& runDir) {
    std::ofstream(runDir / kRunMarker) << "made by mdbwarden / mdbcompact batch\n";
}

int RemoveOldBackupRuns(const fs::path& root, int days, const fs::path& current, std::time_t now) {
    int removed = 0;
    std::error_code ec;
    if (!RealDirectory(root)) return 0;
    const std::time_t limit = now - static_cast<std::time_t>(days) * 24 * 3600;
    for (const auto& date : fs::directory_iterator(root, ec)) {
        if (!RealDirectory(date.path())) continue;
        for (const auto& run : fs::directory_iterator(date.path(), ec)) {
            const fs::path p = run.path();
            if (!RealDirectory(p) || p.lexically_normal() == current.lexically_normal()) continue;
            if (fs::symlink_status(p / kRunMarker, ec).type() != fs::file_type::regular) continue;
            const std::time_t made = RunTime(platform::Utf8OfPath(date.path().filename()),
                                             platform::Utf8OfPath(p.filename()));
            if (made < 0 || made >= limit) continue;
            // remove_all removes links themselves, never what they point to.
            if (fs::remove_all(p, ec) != static_cast<std::uintmax_t>(-1) && !ec) ++removed;
        }
        if (fs::is_empty(date.path(), ec)) fs::remove(date.path(), ec);
    }
    return removed;
}

}  // namespace mdb::batch
