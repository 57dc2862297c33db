// OutputFile's gathering of pages into runs, the same on every system; the calls to the
// system are in output_file.cpp (output_file_win32.cpp on Windows).
#include <cassert>

#include "jet/compact/output_file.h"

namespace jet {

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::WritePage(std::uint32_t page, std::span<const std::uint8_t> bytes,
                           std::string* error) {
    assert(fd_ >= 0 && bytes.size() == page_size_);
    // A run is written with one call; 1 MiB keeps the buffer small and the calls few.
    constexpr std::size_t kRunBytes = 1u << 20;
    synced_ = false;
    bool follows = !run_.empty() && page == run_first_ + run_.size() / page_size_;
    if (!follows || run_.size() >= kRunBytes) {
        if (!FlushRun(error)) return false;
        run_first_ = page;
    }
    run_.insert(run_.end(), bytes.begin(), bytes.end());
    return true;
}

bool OutputFile::Flush(std::string* error) {
    assert(fd_ >= 0);
    if (!FlushRun(error)) return false;
    StartWriteBack();
    return true;
}

bool OutputFile::Sync(std::string* error) {
    assert(fd_ >= 0);
    if (synced_) return true;
    if (!FlushRun(error) || !SyncToDisk(error)) return false;
    synced_ = true;
    return true;
}

}  // namespace jet
