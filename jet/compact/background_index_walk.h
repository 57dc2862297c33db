// A worker thread that walks source indexes and hands their leaf entries over in
// batches, so that one thread reads the source tree while another rewrites the
// entries and builds the new one. The thread is started once, serves one walk after
// another and is joined when the object goes. The hand-over queue is bounded: memory
// stays at a few batches whatever an index's size.
//
// Usage: Start(root, tdef), then Next() until it returns false, then result(); or
// Abandon() to drop a walk early. One walk at a time, from one consuming thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "jet/compact/layout_planner.h"
#include "jet/index.h"
#include "jet/page_file.h"

namespace jet {

// Leaf entries of a walk: keys back to back, each with its row pointer.
struct EntryBatch {
    static constexpr std::size_t kAllMapped = static_cast<std::size_t>(-1);
    std::vector<std::uint8_t> keys;
    std::vector<std::uint32_t> key_end;  // end of each key in `keys`
    // Each entry's row pointer: the old addresses until MapRows, then the new ones
    // up to rows[unmapped], the old address of the first row the map does not hold
    // (the entries after it are not to be used).
    std::vector<RowAddr> rows;
    std::size_t unmapped = kAllMapped;
    bool mapped = false;  // MapRows has run

    // Looks the rows up in `map` unless that was done; false when one is not there
    // (then `unmapped` says which).
    bool MapRows(const RowMap& map);

    std::size_t size() const { return rows.size(); }
    std::span<const std::uint8_t> key(std::size_t i) const {
        const std::uint32_t begin = i ? key_end[i - 1] : 0;
        return std::span<const std::uint8_t>(keys).subspan(begin, key_end[i] - begin);
    }
    void Clear();
};

class BackgroundIndexWalk {
  public:
    // `file`: a handle on the source used by the worker alone.
    explicit BackgroundIndexWalk(PageFile& file);
    ~BackgroundIndexWalk();
    BackgroundIndexWalk(const BackgroundIndexWalk&) = delete;
    BackgroundIndexWalk& operator=(const BackgroundIndexWalk&) = delete;

    // Begins walking the tree at `root` (as WalkIndex does). With `rows`, the worker
    // also looks up the new row addresses of the batches it fills while the consumer
    // is busy with one; a batch that the consumer is waiting for goes over as it is,
    // for the consumer to look up (EntryBatch::MapRows), so the lookups fall to
    // whichever thread has time. The walk ends at the first row the worker finds
    // that the map does not hold.
    // REQUIRES: no walk under way; `rows` unchanged and alive until the walk ends
    void Start(std::uint32_t root, std::uint32_t owner_tdef, const RowMap* rows = nullptr);
    // The next batch in tree order into `out` (its buffers are exchanged with the
    // worker's); false after the last. Rethrows what the walk threw. The consumer is
    // taken to be busy from its return to the next call.
    bool Next(EntryBatch& out);
    // REQUIRES: Next returned false. The walk's findings, as WalkIndex returns them.
    const IndexWalk& result() const { return walk_; }
    // Stops the walk under way, if any, and waits until the worker is idle.
    void Abandon();

  private:
    struct Stopped {};
    void Serve();
    void Walk(std::uint32_t root, std::uint32_t owner_tdef, const RowMap* rows);
    void Hand(EntryBatch& batch);
    bool ConsumerIdle();

    PageFile& file_;
    std::mutex mu_;
    std::condition_variable changed_;
    std::deque<EntryBatch> full_;    // handed over, not read yet
    std::vector<EntryBatch> empty_;  // read; their buffers kept for reuse
    std::uint32_t root_ = 0, owner_ = 0;
    const RowMap* rows_ = nullptr;
    bool requested_ = false;  // a walk was asked for and not taken up yet
    bool busy_ = false;       // a walk was started and has not ended
    bool stop_ = false;       // the walk under way is to end now
    bool quit_ = false;       // the worker is to end
    bool idle_ = false;       // the consumer holds no batch to work on
    std::exception_ptr error_;
    IndexWalk walk_;      // the walk's result; written by the worker before busy_ drops
    std::thread worker_;  // last: started once every member above exists
};

}  // namespace jet
