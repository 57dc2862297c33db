// Scratch space on disk for data that outgrows its memory budget: sorted runs of an
// external sort. A spill file lies beside the compacted file's temporary file and is
// named after it, so it lands on the file system that has room for the output, and
// it is removed when the SpillFile goes (success, failure or exception alike).
//
// Only standard C++ streams are used here, so the same code serves every system;
// the compaction's own calls to the system stay in output_file*.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <span>

namespace jet {

// How much a spilling structure may keep in memory, and where it spills past that.
struct SpillSettings {
    // Bytes of records kept in memory. The default never spills.
    std::size_t memory_bytes = std::numeric_limits<std::size_t>::max();
    // Spill files are named `name_base` + ".spill-N". Empty: the structure never
    // spills, whatever memory_bytes says.
    std::filesystem::path name_base;

    bool can_spill() const { return !name_base.empty(); }
    // The same place with a share of the memory (at least one byte).
    SpillSettings Share(std::size_t parts) const;
};

// Removes what compactions and repairs that died left in `directory` (a kill leaves no
// chance to clean up), whatever their destination: their temporary outputs
// `.<destination name>.compact-XXXXXX` (XXXXXX: six letters or digits), the spill
// files beside them, `.<destination name>.compact-<tag>.spill-<N>`, and a repair's
// side file of changed pages, `.<destination name>.compact-XXXXXX.salvage`. A run's files are
// dead when no live run holds the lock of its temporary output: `remove_leftover(temp,
// file)` removes `file` only then, and only when it is this user's
// (OutputFile::RemoveLeftover). The files of a live run, whichever destination it
// writes, and every other name are left alone. Returns how many were removed.
using LeftoverRemover = std::function<bool(const std::filesystem::path& temp,
                                           const std::filesystem::path& leftover)>;
std::size_t RemoveDeadCompactionFiles(const std::filesystem::path& directory,
                                      const LeftoverRemover& remove_leftover);

class SpillFile {
  public:
    // Creates a new empty file named after settings.name_base. Throws
    // std::runtime_error when it cannot be created.
    explicit SpillFile(const SpillSettings& settings);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Appends bytes at the end and returns where they start. Throws
    // std::runtime_error when the disk refuses them.
    std::uint64_t Append(std::span<const std::uint8_t> bytes);
    // Reads bytes written before. Throws std::runtime_error when it cannot.
    void Read(std::uint64_t at, std::span<std::uint8_t> out);

    const std::filesystem::path& path() const { return path_; }
    std::uint64_t size() const { return size_; }

  private:
    std::filesystem::path path_;
    std::fstream stream_;
    std::uint64_t size_ = 0;
};

}  // namespace jet
