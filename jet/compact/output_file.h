// The file a compaction writes: a temporary file beside the destination, written
// page by page, made durable and renamed into place only by Commit. Destroying an
// uncommitted OutputFile removes the temporary file, so a failed compaction leaves
// no destination behind. output_file.cpp (output_file_win32.cpp on Windows) and
// src/page_file.cpp hold all of jet's calls to the system; output_file_pages.cpp
// gathers the pages, the same on every system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace jet {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file in destination's directory. On failure returns false
    // and sets *error.
    bool Create(const std::filesystem::path& destination, std::uint32_t page_size,
                std::string* error);

    // Gives the temporary file the permission bits of `source` (plus the owner's
    // write bit, so the compacted file can be opened for writing).
    void CopyPermissionsFrom(const std::filesystem::path& source);

    // Writes one page at its place (consecutive pages are gathered into one write).
    // REQUIRES: bytes.size() == page size
    bool WritePage(std::uint32_t page, std::span<const std::uint8_t> bytes, std::string* error);

    // Hands every written page to the file, so that the temporary path can be
    // re-opened and read back.
    bool Flush(std::string* error);
    // Flushes the data to disk.
    bool Sync(std::string* error);
    // Moves the synced temporary file to the destination (never replacing an existing
    // file) and syncs the directory.
    bool Commit(std::string* error);
    // Removes the temporary file (also done by the destructor when not committed).
    void Discard();

    const std::filesystem::path& temp_path() const { return temp_; }

    // True while a live OutputFile holds `temp` (a temporary file made by Create, which
    // keeps it locked for the OutputFile's life); false when the file is gone or its
    // run died (killed before it could remove it). When it cannot tell, true.
    static bool InUse(const std::filesystem::path& temp);

    // Removes `leftover` (`temp` itself or one of its spill files) when no live run
    // holds `temp`. The test and the removal are one step: a run that creates or locks a
    // file of that name meanwhile keeps it. True when it was removed.
    static bool RemoveLeftover(const std::filesystem::path& temp,
                               const std::filesystem::path& leftover);

  private:
    // Writes the pending run at its place and empties it (per system).
    bool FlushRun(std::string* error);
    // Makes the written data durable (per system).
    bool SyncToDisk(std::string* error);
    // Asks the system to start writing the pages written so far to disk, without
    // waiting (per system; advice only: durability still comes from SyncToDisk). The
    // disk then works while the pages are verified, and the final sync has little left.
    void StartWriteBack();

    int fd_ = -1;  // open temporary file, -1 when closed
    std::uint32_t page_size_ = 0;
    std::filesystem::path destination_;  // final name
    std::filesystem::path temp_;         // temporary name beside it
    bool committed_ = false;
    bool synced_ = false;  // nothing written since the last Sync
    // Consecutive pages are gathered and written with one call.
    std::vector<std::uint8_t> run_;  // bytes of the pending run
    std::uint32_t run_first_ = 0;    // page number of the run's first page
    std::uint64_t not_written_back_ = 0;  // bytes written since writeback was last started
};

}  // namespace jet
