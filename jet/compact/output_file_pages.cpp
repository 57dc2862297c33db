// OutputFile's hand-over of pages to its writer thread, the same on every system; the
// calls to the system are in output_file.cpp (output_file_win32.cpp on Windows).
#include <cassert>
#include <system_error>

#include "jet/compact/output_file.h"
#include "jet/compact/write_behind.h"

namespace jet {

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::WritePage(std::uint32_t page, std::span<const std::uint8_t> bytes,
                           std::string* error) {
    assert(fd_ >= 0 && bytes.size() == page_size_);
    synced_ = false;
    sync_queued_ = false;
    if (!writer_) {
        try {
            writer_ = std::make_unique<WriteBehind>(
                [this](std::uint64_t offset, std::span<const std::uint8_t> run, std::string* err) {
                    return WriteAt(offset, run, err);
                },
                [this](std::string* err) { return SyncToDisk(err); });
        } catch (const std::system_error& e) {
            *error = "cannot write '" + temp_.string() + "': " + e.what();
            return false;
        }
    }
    return writer_->Append(std::uint64_t{page} * page_size_, bytes, error);
}

bool OutputFile::Flush(std::string* error) {
    assert(fd_ >= 0);
    if (!writer_) return true;
    if (!writer_->Drain(error)) return false;
    // The pages are read back and checked next, which takes longer than the disk needs
    // for the last of them: the sync runs meanwhile, and Commit seldom waits for it.
    writer_->StartSync();
    sync_queued_ = true;
    return true;
}

bool OutputFile::Sync(std::string* error) {
    assert(fd_ >= 0);
    if (synced_) return true;
    if (writer_ && !writer_->Drain(error)) return false;  // waits for a queued sync too
    if (!sync_queued_ && !SyncToDisk(error)) return false;
    synced_ = true;
    return true;
}

}  // namespace jet
