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

// What a compaction or a repair leaves in its destination's directory, by name.
enum class Leftover { None, TemporaryOutput, SpillFile, SalvageCopy };

// True when `name` is `.<destination name>.compact-<tag>` for some destination name
// and a tag `tag_ok` accepts.
bool IsTemporaryName(const std::string& name, const std::function<bool(const std::string&)>& tag_ok) {
    const std::string marker = ".compact-";
    const std::size_t at = name.rfind(marker);
    return name.size() > 1 && name[0] == '.' && at != std::string::npos && at > 1 &&
           tag_ok(name.substr(at + marker.size()));
}

// Sorts `name` among the files compactions and repairs make; `temp` receives the
// name of the temporary output the file belongs to. A temporary output ends in
// mkstemp's six letters or digits; a spill file adds ".spill-N" to its temporary
// output's name (any tag without a dot there: spill files of every earlier version go
// too), a repair's side file of changed pages ".salvage" to the name of the (empty) temporary output
// it holds for its life.
Leftover Classify(const std::string& name, std::string& temp) {
    auto mkstemp_tag = [](const std::string& tag) {
        constexpr std::size_t kTagChars = 6;
        return tag.size() == kTagChars && std::all_of(tag.begin(), tag.end(), [](char c) {
                   return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
               });
    };
    const std::string salvage = ".salvage";
    if (name.size() > salvage.size() && name.ends_with(salvage)) {
        temp = name.substr(0, name.size() - salvage.size());
        return IsTemporaryName(temp, mkstemp_tag) ? Leftover::SalvageCopy : Leftover::None;
    }
    const std::string marker = ".spill-";
    const std::size_t at = name.rfind(marker);
    if (at == std::string::npos) {
        temp = name;
        return IsTemporaryName(name, mkstemp_tag) ? Leftover::TemporaryOutput : Leftover::None;
    }
    const std::string number = name.substr(at + marker.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return Leftover::None;
    temp = name.substr(0, at);
    return IsTemporaryName(temp, [](const std::string& tag) {
               return !tag.empty() && tag.find('.') == std::string::npos;
           })
               ? Leftover::SpillFile
               : Leftover::None;
}

// Removes the leftovers of kind `kind` whose temporary output no live run holds.
std::size_t RemoveDead(const std::filesystem::path& directory,
                       const LeftoverRemover& remove_leftover, Leftover kind) {
    const std::filesystem::path dir = directory.empty() ? "." : directory;
    std::size_t removed = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string temp;
        if (Classify(it->path().filename().string(), temp) != kind) continue;
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec) || it->is_symlink(type_ec)) continue;
        if (remove_leftover(dir / temp, it->path())) ++removed;
    }
    return removed;
}

}  // namespace

std::size_t RemoveDeadCompactionFiles(const std::filesystem::path& directory,
                                      const LeftoverRemover& remove_leftover) {
    // The spill files and salvage copies first: while its temporary output is there,
    // such a file is judged by that file's lock.
    const std::size_t beside = RemoveDead(directory, remove_leftover, Leftover::SpillFile) +
                               RemoveDead(directory, remove_leftover, Leftover::SalvageCopy);
    return beside + RemoveDead(directory, remove_leftover, Leftover::TemporaryOutput);
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
