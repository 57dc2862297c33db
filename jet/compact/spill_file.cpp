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

std::size_t RemoveStaleSpillFiles(
    const std::filesystem::path& destination,
    const std::function<bool(const std::filesystem::path& temp)>& temp_in_use) {
    std::filesystem::path dir = destination.parent_path();
    if (dir.empty()) dir = ".";
    const std::string prefix = "." + destination.filename().string() + ".compact-";
    const std::string marker = ".spill-";
    std::size_t removed = 0;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::size_t at = name.rfind(marker);
        if (at == std::string::npos || at <= prefix.size()) continue;
        const std::string number = name.substr(at + marker.size());
        if (number.empty() ||
            number.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string tag = name.substr(prefix.size(), at - prefix.size());
        if (tag.find('.') != std::string::npos) continue;
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec)) continue;
        if (temp_in_use(dir / name.substr(0, at))) continue;
        std::error_code remove_ec;
        if (std::filesystem::remove(it->path(), remove_ec)) ++removed;
    }
    return removed;
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
