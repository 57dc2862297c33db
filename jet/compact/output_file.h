// The file a compaction writes: a temporary file beside the destination, written
// page by page, made durable and renamed into place only by Commit. Destroying an
// uncommitted OutputFile removes the temporary file, so a failed compaction leaves
// no destination behind. output_file.cpp (output_file_win32.cpp on Windows) and
// src/system_io.cpp (system_io_win32.cpp) hold all of jet's calls to the system; output_file_pages.cpp
// hands the pages to a writer thread (write_behind.h), the same on every system: the
// caller builds the next pages while the system copies the last ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace jet {

class WriteBehind;

class OutputFile {
  public:
    OutputFile();
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

    // Writes one page at its place: queued for the writer thread (consecutive pages are
    // gathered into one write), written while the caller goes on. False when an earlier
    // write failed, with its error; nothing more is written then.
    // REQUIRES: bytes.size() == page size
    bool WritePage(std::uint32_t page, std::span<const std::uint8_t> bytes, std::string* error);

    // Returns once every written page is in the file, so that the temporary path can be
    // re-opened and read back; false with the first write error when one failed. Then
    // starts making the file durable on the writer thread, which Sync waits for.
    bool Flush(std::string* error);
    // Returns once the data is on disk; false with the first write or sync error.
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
    // holds `temp` and both are this user's files (on Windows, where files belong to
    // security identifiers, any file a live run does not hold). The test and the
    // removal are one step: a run that creates or locks a file of that name meanwhile
    // keeps it. True when it was removed.
    static bool RemoveLeftover(const std::filesystem::path& temp,
                               const std::filesystem::path& leftover);

  private:
    // Writes `bytes` at `offset`, all of them or false with *error (per system). Runs on
    // the writer thread, one call at a time.
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes, std::string* error);
    // Makes the written data durable (per system). Runs on the writer thread after
    // Flush, on the caller's otherwise.
    bool SyncToDisk(std::string* error);
    // Asks the system to start writing the pages written so far to disk, without
    // waiting (per system; advice only: durability still comes from SyncToDisk), so
    // that the sync after the last page has little left. Runs on the writer thread.
    void StartWriteBack();

    int fd_ = -1;  // open temporary file, -1 when closed
    std::uint32_t page_size_ = 0;
    std::filesystem::path destination_;  // final name
    std::filesystem::path temp_;         // temporary name beside it
    bool committed_ = false;
    bool synced_ = false;       // nothing written since the last Sync
    bool sync_queued_ = false;  // Flush queued a sync, and nothing was written since
    // Made by the first WritePage; stopped and joined (writer_.reset()) before the file
    // closes, by Commit and Discard.
    std::unique_ptr<WriteBehind> writer_;
    // Bytes written since writeback was last started: the writer thread's.
    std::uint64_t not_written_back_ = 0;
};

}  // namespace jet
