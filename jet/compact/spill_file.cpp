#include "jet/compact/spill_file.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

namespace jet {
namespace {

// Several spill files may exist at once (one per sort under way), and two
// compactions in one process may share a directory; a process-wide counter keeps
// their names apart. The name base is the output's temporary name, itself unique.
std::atomic<unsigned> spill_counter{0};

}  // namespace

SpillSettings SpillSettings::Share(std::size_t parts) const {
    SpillSettings s = *this;
    if (parts > 1) s.memory_bytes = std::max<std::size_t>(1, memory_bytes / parts);
    return s;
}

namespace {

// What a compaction of a destination leaves in its directory, by name.
enum class Leftover { None, TemporaryOutput, SpillFile };

// Sorts `name` among the files a compaction of the destination whose temporary
// names start with `prefix` makes; `temp` receives the name of the temporary output
// the file belongs to. A temporary output ends in mkstemp's six letters or digits;
// a spill file adds ".spill-N" to its temporary output's name (any tag without a dot
// there: spill files of every earlier version go too).
Leftover Classify(const std::string& name, const std::string& prefix, std::string& temp) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return Leftover::None;
    const std::string rest = name.substr(prefix.size());
    const std::string marker = ".spill-";
    const std::size_t at = rest.rfind(marker);
    if (at == std::string::npos) {
        constexpr std::size_t kTagChars = 6;
        const bool tag = rest.size() == kTagChars &&
                         std::all_of(rest.begin(), rest.end(), [](char c) {
                             return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                                    (c >= 'A' && c <= 'Z');
                         });
        temp = name;
        return tag ? Leftover::TemporaryOutput : Leftover::None;
    }
    const std::string number = rest.substr(at + marker.size());
    if (at == 0 || number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return Leftover::None;
    if (rest.substr(0, at).find('.') != std::string::npos) return Leftover::None;
    temp = prefix + rest.substr(0, at);
    return Leftover::SpillFile;
}

// Removes the leftovers of the kinds `remove` accepts whose temporary output no live
// run holds.
std::size_t RemoveStale(const std::filesystem::path& destination,
                        const LeftoverRemover& remove_leftover,
                        const std::function<bool(Leftover)>& remove) {
    std::filesystem::path dir = destination.parent_path();
    if (dir.empty()) dir = ".";
    const std::string prefix = "." + destination.filename().string() + ".compact-";
    std::size_t removed = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::string temp;
        const Leftover kind = Classify(name, prefix, temp);
        if (kind == Leftover::None || !remove(kind)) continue;
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec)) continue;
        if (remove_leftover(dir / temp, it->path())) ++removed;
    }
    return removed;
}

}  // namespace

std::size_t RemoveStaleSpillFiles(const std::filesystem::path& destination,
                                  const LeftoverRemover& remove_leftover) {
    return RemoveStale(destination, remove_leftover,
                       [](Leftover kind) { return kind == Leftover::SpillFile; });
}

std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& destination,
                                      const LeftoverRemover& remove_leftover) {
    // The spill files first: while its temporary output is there, a spill file is
    // judged by that file's lock.
    const std::size_t spills = RemoveStaleSpillFiles(destination, remove_leftover);
    return spills + RemoveStale(destination, remove_leftover, [](Leftover kind) {
               return kind == Leftover::TemporaryOutput;
           });
}

SpillFile::SpillFile(const SpillSettings& settings) {
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::filesystem::path candidate = settings.name_base;
        candidate += ".spill-" + std::to_string(spill_counter++);
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) continue;
        path_ = candidate;
    }
    if (!path_.empty())
        stream_.open(path_, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    if (path_.empty() || !stream_.is_open())
        throw std::runtime_error("cannot create a temporary file beside '" +
                                 settings.name_base.string() + "'");
}

SpillFile::~SpillFile() {
    stream_.close();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

std::uint64_t SpillFile::Append(std::span<const std::uint8_t> bytes) {
    const std::uint64_t at = size_;
    stream_.seekp(static_cast<std::streamoff>(at));
    stream_.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    if (!stream_)
        throw std::runtime_error("cannot write the temporary file '" + path_.string() +
                                 "' (is the disk full?)");
    size_ += bytes.size();
    return at;
}

void SpillFile::Read(std::uint64_t at, std::span<std::uint8_t> out) {
    if (at > size_ || out.size() > size_ - at)
        throw std::runtime_error("a read past the end of '" + path_.string() + "'");
    stream_.seekg(static_cast<std::streamoff>(at));
    stream_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!stream_) throw std::runtime_error("cannot read the temporary file '" + path_.string() + "'");
}

}  // namespace jet
