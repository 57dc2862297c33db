// A worker thread that walks source indexes and hands their leaf entries over in
// batches, so that one thread reads the source tree while another rewrites the
// entries and builds the new one. The thread is started once, serves one plan of
// walks after another and is joined when the object goes. The hand-over queue is
// bounded: memory stays at a few batches whatever an index's size.
//
// Usage: Plan(roots, tdef) early (a table's indexes while its rows are repacked: the
// worker reads ahead into the queue), UseRows(map) once the rows' map is complete,
// then for each root in turn Next() until it returns false, then result(); or
// Abandon() to drop what is planned. Start(root, tdef, map) plans a single walk that
// uses the map from the start. One plan at a time, from one consuming thread.
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
    std::vector<std::uint8_t> keys;
    std::vector<std::uint32_t> key_end;  // end of each key in `keys`
    // Each entry's row pointer: the old addresses until MapRows, then the new ones
    // but at the places `missing` lists, which keep the old address of a row the map
    // does not hold.
    std::vector<RowAddr> rows;
    std::vector<std::uint32_t> missing;  // ascending
    bool mapped = false;  // MapRows has run

    // Looks the rows up in `map` unless that was done; false when one is not there
    // (then `missing` says which).
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

    // Begins walking the trees at `roots` one after another (as WalkIndex does), all
    // of table definition `owner_tdef`. Their batches go over as they are read, for
    // the consumer to look up (EntryBatch::MapRows), until UseRows gives a map.
    // `past_missing`: the roots (of those) whose walks go on past an entry whose row
    // the map does not hold, for a consumer that leaves such entries out.
    // REQUIRES: nothing planned (every walk planned before was taken to its end, or
    // abandoned)
    void Plan(std::vector<std::uint32_t> roots, std::uint32_t owner_tdef,
              std::vector<std::uint32_t> past_missing = {});
    // From now on the worker also looks up the new row addresses of the batches it
    // fills while the consumer is busy with one; a batch that the consumer is waiting
    // for goes over as it is, so the lookups fall to whichever thread has time. A walk
    // ends at the first row the worker finds that the map does not hold (but those
    // planned to go on past it).
    // REQUIRES: `rows` complete, unchanged and alive until the planned walks end
    void UseRows(const RowMap* rows);
    // Plan({root}, owner_tdef, past_missing ? {root} : {}) and UseRows(rows).
    void Start(std::uint32_t root, std::uint32_t owner_tdef, const RowMap* rows = nullptr,
               bool past_missing = false);
    // Whether a planned walk is still to be taken; its root then is next_root().
    bool planned() const { return !roots_.empty(); }
    std::uint32_t next_root() const { return roots_.front(); }
    // The next batch of the walk being taken, in tree order, into `out` (its buffers
    // are exchanged with the worker's); false after its last, and the next planned
    // walk is then taken. Rethrows what the walk threw. The consumer is taken to be
    // busy from its return to the next call. REQUIRES: planned()
    bool Next(EntryBatch& out);
    // REQUIRES: Next returned false. The walk's findings, as WalkIndex returns them.
    const IndexWalk& result() const { return walk_; }
    // Stops the walks planned, if any, drops what they read and waits until the
    // worker is idle.
    void Abandon();

  private:
    struct Stopped {};
    // A batch of a walk, or its end with what it found.
    struct Item {
        EntryBatch batch;
        bool end = false;
        IndexWalk walk;
        std::exception_ptr error;
    };
    void Serve();
    void Walk(std::uint32_t root, std::uint32_t owner_tdef, bool past_missing);
    void Hand(EntryBatch& batch);
    // The map to look rows up in while the consumer is busy; null while it waits.
    const RowMap* RowsForBusyConsumer();

    PageFile& file_;
    std::mutex mu_;
    std::condition_variable changed_;
    std::deque<Item> full_;          // handed over, not read yet
    std::size_t full_batches_ = 0;   // items of full_ that are batches (not ends)
    std::vector<EntryBatch> empty_;  // read; their buffers kept for reuse
    std::vector<std::uint32_t> plan_;  // roots to walk, taken by the worker
    std::vector<std::uint32_t> past_missing_;  // of those, the ones that go on past a missing row
    std::uint32_t owner_ = 0;
    const RowMap* rows_ = nullptr;
    bool requested_ = false;  // a plan was given and not taken up yet
    bool busy_ = false;       // a plan was taken up and its walks have not all ended
    bool stop_ = false;       // the walks planned are to end now
    bool quit_ = false;       // the worker is to end
    bool idle_ = false;       // the consumer holds no batch to work on
    // The consumer's own: the roots planned whose end it has not taken yet, and the
    // findings of the walk it took to its end last.
    std::deque<std::uint32_t> roots_;
    IndexWalk walk_;
    std::thread worker_;  // last: started once every member above exists
};

}  // namespace jet
