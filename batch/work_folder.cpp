#include "batch/work_folder.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/arguments.h"

namespace mdb::batch {
namespace fs = std::filesystem;

namespace {

bool IsUniquePart(std::string_view part, std::size_t length) {
    if (part.size() != length) return false;
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

fs::path WorkRootFor(const fs::path& backupRoot, const fs::path& programDir) {
    // FNV-1a of the program directory's path: a short name, the same on every run.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : platform::Utf8OfPath(programDir.lexically_normal())) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "install-%016llx", static_cast<unsigned long long>(hash));
    return backupRoot / "temp" / name;
}

WorkFolder::WorkFolder(const fs::path& parent) {
    // Made level by level: the backup root may be longer than 260 characters.
    parent_ = platform::OpenOrCreateDirectoryNoLinks(parent);
    if (!parent_.Valid()) return;
    dir_ = platform::CreateUniqueDirectory(parent_, kWorkFolderPrefix, name_);
    path_ = parent / name_;
    if (dir_.Valid() &&
        lock_.Open(platform::Utf8OfPath(path_ / kWorkLock),
                   platform::OpenMode::WriteExclusiveCreate) != platform::OpenResult::Ok) {
        platform::RemoveDirectory(parent_, name_);
        dir_ = platform::FileHandle();
    }
}

WorkFolder::~WorkFolder() {
    if (!dir_.Valid()) return;
    platform::RemoveFile(dir_, kOldCopy);
    platform::RemoveFile(dir_, kNewCopy);
    lock_.Close();  // Windows removes no file that is open
    platform::RemoveFile(dir_, kWorkLock);
    platform::RemoveDirectory(parent_, name_);
}

bool IsWorkFolderName(const std::string& name) {
    const std::string_view prefix = kWorkFolderPrefix;
    if (!name.starts_with(prefix)) return false;
    // Working folders are named with kUniqueNameChars characters; older versions of the
    // program used mkdtemp's six.
    const std::string_view unique = std::string_view(name).substr(prefix.size());
    return IsUniquePart(unique, platform::kUniqueNameChars) || IsUniquePart(unique, 6);
}

bool IsWorkFileName(const std::string& name) {
    if (name == kOldCopy || name == kNewCopy) return true;
    const std::string_view prefix = kEngineTempPrefix;
    if (!name.starts_with(prefix)) return false;
    // mkstemp's six characters, then nothing or the engine's spill file number
    // (".spill-N": sorted runs of a large compaction, left behind when it was killed).
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    if (rest.size() < 6 || !IsUniquePart(rest.substr(0, 6), 6)) return false;
    constexpr std::string_view kSpill = ".spill-";
    const std::string_view tail = rest.substr(6);
    if (tail.empty()) return true;
    return tail.size() > kSpill.size() && tail.starts_with(kSpill) &&
           tail.substr(kSpill.size()).find_first_not_of("0123456789") == std::string_view::npos;
}

bool WorkFolderAlive(const fs::path& work) {
    platform::SharedFile probe;
    return probe.Open(platform::Utf8OfPath(work / kWorkLock),
                      platform::OpenMode::WriteExclusiveCreate) ==
           platform::OpenResult::SharingViolation;
}

}  // namespace mdb::batch
