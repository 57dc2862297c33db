#include "jet/compact/background_index_walk.h"

#include <cassert>

namespace jet {
namespace {

// Entries per batch and batches waiting at most: 4,096 entries make the hand-over's
// locking negligible per entry, and four batches of keys (255 bytes at most each)
// stay within a few megabytes.
constexpr std::size_t kBatchEntries = 4096, kMaxWaiting = 4;

}  // namespace

void EntryBatch::Clear() {
    keys.clear();
    key_end.clear();
    rows.clear();
    unmapped = kAllMapped;
    mapped = false;
}

bool EntryBatch::MapRows(const RowMap& map) {
    if (!mapped) {
        mapped = true;
        const std::size_t found = map.FindMany(rows, rows);
        if (found != size()) unmapped = found;
    }
    return unmapped == kAllMapped;
}

BackgroundIndexWalk::BackgroundIndexWalk(PageFile& file)
    : file_(file), worker_([this] { Serve(); }) {}

BackgroundIndexWalk::~BackgroundIndexWalk() {
    {
        std::lock_guard lock(mu_);
        quit_ = stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void BackgroundIndexWalk::Start(std::uint32_t root, std::uint32_t owner_tdef,
                                const RowMap* rows) {
    std::lock_guard lock(mu_);
    assert(!busy_ && !requested_);
    root_ = root;
    owner_ = owner_tdef;
    rows_ = rows;
    error_ = nullptr;
    walk_ = IndexWalk();
    stop_ = false;
    requested_ = busy_ = idle_ = true;
    changed_.notify_all();
}

bool BackgroundIndexWalk::Next(EntryBatch& out) {
    std::unique_lock lock(mu_);
    idle_ = true;
    changed_.wait(lock, [&] { return !full_.empty() || !busy_; });
    if (full_.empty()) {
        if (error_) std::rethrow_exception(error_);
        return false;
    }
    std::swap(out, full_.front());
    empty_.push_back(std::move(full_.front()));
    full_.pop_front();
    idle_ = false;
    changed_.notify_all();
    return true;
}

void BackgroundIndexWalk::Abandon() {
    std::unique_lock lock(mu_);
    stop_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !busy_; });
    for (EntryBatch& b : full_) empty_.push_back(std::move(b));
    full_.clear();
}

void BackgroundIndexWalk::Serve() {
    for (;;) {
        std::uint32_t root = 0, owner = 0;
        const RowMap* rows = nullptr;
        {
            std::unique_lock lock(mu_);
            changed_.wait(lock, [&] { return requested_ || quit_; });
            if (quit_) {
                busy_ = false;
                changed_.notify_all();
                return;
            }
            requested_ = false;
            root = root_;
            owner = owner_;
            rows = rows_;
        }
        Walk(root, owner, rows);
    }
}

void BackgroundIndexWalk::Walk(std::uint32_t root, std::uint32_t owner_tdef,
                               const RowMap* rows) {
    EntryBatch batch;
    IndexWalk walk;
    std::exception_ptr error;
    // The entries' rows are looked up a batch at a time (the lookups of a batch
    // overlap their cache misses). Returns false when the batch holds an entry whose
    // row the map does not hold: the consumer stops there, and so does the walk.
    auto map_rows = [&] { return !rows || batch.MapRows(*rows); };
    try {
        walk = WalkIndex(file_, root, owner_tdef, [&](const IndexEntry& e, std::uint32_t) {
            batch.keys.insert(batch.keys.end(), e.bytes.begin(),
                              e.bytes.begin() + static_cast<std::ptrdiff_t>(e.key_size));
            batch.key_end.push_back(static_cast<std::uint32_t>(batch.keys.size()));
            batch.rows.push_back(e.row);
            if (batch.size() < kBatchEntries) return;
            // A consumer waiting for entries gets them at once and looks them up
            // itself; a busy one finds them looked up. Of two threads that would
            // otherwise wait for each other, each takes the lookups when it has time.
            const bool go_on = ConsumerIdle() || map_rows();
            Hand(batch);
            // The consumer stops at the unmapped entry: nothing after it is needed.
            if (!go_on) throw Stopped{};
        });
        if (batch.size()) {
            map_rows();
            Hand(batch);
        }
    } catch (const Stopped&) {
    } catch (...) {
        error = std::current_exception();
        // Looked up one by one, an entry read before the damage whose row is not
        // live would have ended the walk first: it still does.
        try {
            if (batch.size() && !map_rows()) {
                error = nullptr;
                Hand(batch);
            }
        } catch (const Stopped&) {
        }
    }
    std::lock_guard lock(mu_);
    walk_ = std::move(walk);
    error_ = error;
    busy_ = false;
    changed_.notify_all();
}

bool BackgroundIndexWalk::ConsumerIdle() {
    std::lock_guard lock(mu_);
    return idle_;
}

void BackgroundIndexWalk::Hand(EntryBatch& batch) {
    std::unique_lock lock(mu_);
    changed_.wait(lock, [&] { return full_.size() < kMaxWaiting || stop_; });
    if (stop_) throw Stopped{};
    full_.push_back(std::move(batch));
    if (!empty_.empty()) {
        batch = std::move(empty_.back());
        empty_.pop_back();
    }
    batch.Clear();
    changed_.notify_all();
}

}  // namespace jet
