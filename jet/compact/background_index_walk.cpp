#include "jet/compact/background_index_walk.h"

#include <algorithm>
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
    missing.clear();
    mapped = false;
}

bool EntryBatch::MapRows(const RowMap& map) {
    if (!mapped) {
        mapped = true;
        // FindMany stops at a row the map does not hold: it goes on after it.
        for (std::size_t at = 0; at < size();) {
            at += map.FindMany(std::span(rows).subspan(at), std::span(rows).subspan(at));
            if (at == size()) break;
            missing.push_back(static_cast<std::uint32_t>(at++));
        }
    }
    return missing.empty();
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

void BackgroundIndexWalk::Plan(std::vector<std::uint32_t> roots, std::uint32_t owner_tdef,
                               std::vector<std::uint32_t> past_missing) {
    std::unique_lock lock(mu_);
    assert(roots_.empty() && full_.empty());
    // The worker may still be leaving the last plan (its last end is handed over just
    // before it is done).
    changed_.wait(lock, [&] { return !busy_ && !requested_; });
    if (roots.empty()) return;
    roots_.assign(roots.begin(), roots.end());
    plan_ = std::move(roots);
    past_missing_ = std::move(past_missing);
    owner_ = owner_tdef;
    rows_ = nullptr;
    stop_ = false;
    requested_ = busy_ = idle_ = true;
    changed_.notify_all();
}

void BackgroundIndexWalk::UseRows(const RowMap* rows) {
    std::lock_guard lock(mu_);
    rows_ = rows;
}

void BackgroundIndexWalk::Start(std::uint32_t root, std::uint32_t owner_tdef,
                                const RowMap* rows, bool past_missing) {
    Plan({root}, owner_tdef, past_missing ? std::vector<std::uint32_t>{root} : std::vector<std::uint32_t>{});
    UseRows(rows);
}

bool BackgroundIndexWalk::Next(EntryBatch& out) {
    assert(planned());
    std::unique_lock lock(mu_);
    idle_ = true;
    // Every walk planned ends with an item of its own, whatever stopped it.
    changed_.wait(lock, [&] { return !full_.empty(); });
    Item& item = full_.front();
    if (item.end) {
        walk_ = std::move(item.walk);
        const std::exception_ptr error = item.error;
        full_.pop_front();
        roots_.pop_front();
        if (error) std::rethrow_exception(error);
        return false;
    }
    std::swap(out, item.batch);
    empty_.push_back(std::move(item.batch));
    full_.pop_front();
    --full_batches_;
    idle_ = false;
    changed_.notify_all();
    return true;
}

void BackgroundIndexWalk::Abandon() {
    std::unique_lock lock(mu_);
    stop_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !busy_ && !requested_; });
    for (Item& item : full_)
        if (!item.end) empty_.push_back(std::move(item.batch));
    full_.clear();
    full_batches_ = 0;
    roots_.clear();
    rows_ = nullptr;
}

void BackgroundIndexWalk::Serve() {
    for (;;) {
        std::vector<std::uint32_t> roots, past_missing;
        std::uint32_t owner = 0;
        {
            std::unique_lock lock(mu_);
            changed_.wait(lock, [&] { return requested_ || quit_; });
            if (quit_) {
                busy_ = requested_ = false;
                changed_.notify_all();
                return;
            }
            requested_ = false;
            roots = std::move(plan_);
            plan_.clear();
            past_missing = std::move(past_missing_);
            past_missing_.clear();
            owner = owner_;
        }
        for (std::uint32_t root : roots) {
            {
                std::lock_guard lock(mu_);
                if (stop_) break;
            }
            Walk(root, owner, std::ranges::find(past_missing, root) != past_missing.end());
        }
        std::lock_guard lock(mu_);
        busy_ = false;
        changed_.notify_all();
    }
}

void BackgroundIndexWalk::Walk(std::uint32_t root, std::uint32_t owner_tdef, bool past_missing) {
    EntryBatch batch;
    Item end;
    end.end = true;
    // The entries' rows are looked up a batch at a time (the lookups of a batch
    // overlap their cache misses), once there is a map to look them up in. A batch
    // that holds an entry whose row the map does not hold ends the walk: the
    // consumer stops there (unless it leaves such entries out).
    try {
        end.walk = WalkIndex(file_, root, owner_tdef, [&](const IndexEntry& e, std::uint32_t) {
            batch.keys.insert(batch.keys.end(), e.bytes.begin(),
                              e.bytes.begin() + static_cast<std::ptrdiff_t>(e.key_size));
            batch.key_end.push_back(static_cast<std::uint32_t>(batch.keys.size()));
            batch.rows.push_back(e.row);
            if (batch.size() < kBatchEntries) return;
            // A consumer waiting for entries gets them at once and looks them up
            // itself; a busy one finds them looked up. Of two threads that would
            // otherwise wait for each other, each takes the lookups when it has time.
            const RowMap* rows = RowsForBusyConsumer();
            const bool go_on = !rows || batch.MapRows(*rows) || past_missing;
            Hand(batch);
            // The consumer stops at the unmapped entry: nothing after it is needed.
            if (!go_on) throw Stopped{};
        });
        if (batch.size()) {
            if (const RowMap* rows = RowsForBusyConsumer()) batch.MapRows(*rows);
            Hand(batch);
        }
    } catch (const Stopped&) {
    } catch (...) {
        end.error = std::current_exception();
        // Looked up one by one, an entry read before the damage whose row is not
        // live would have ended the walk first: it still does. Without a map here,
        // the consumer looks the rows up and finds it before the error.
        try {
            const RowMap* rows = nullptr;
            {
                std::lock_guard lock(mu_);
                rows = rows_;
            }
            if (batch.size() && (!rows || !batch.MapRows(*rows))) {
                // A consumer that leaves such entries out goes on to the error.
                if (rows && !past_missing) end.error = nullptr;
                Hand(batch);
            }
        } catch (const Stopped&) {
        }
    }
    std::lock_guard lock(mu_);
    full_.push_back(std::move(end));
    changed_.notify_all();
}

const RowMap* BackgroundIndexWalk::RowsForBusyConsumer() {
    std::lock_guard lock(mu_);
    return idle_ ? nullptr : rows_;
}

void BackgroundIndexWalk::Hand(EntryBatch& batch) {
    std::unique_lock lock(mu_);
    changed_.wait(lock, [&] { return full_batches_ < kMaxWaiting || stop_; });
    if (stop_) throw Stopped{};
    Item item;
    item.batch = std::move(batch);
    full_.push_back(std::move(item));
    ++full_batches_;
    if (!empty_.empty()) {
        batch = std::move(empty_.back());
        empty_.pop_back();
    }
    batch.Clear();
    changed_.notify_all();
}

}  // namespace jet
