// Sorts more records than memory may hold: records gather in memory up to the
// budget, each full batch is sorted and written to a spill file as a run, and the
// runs are merged as the records are read back. Under the budget nothing touches
// the disk. The sort is stable (records that compare equal come out in the order
// they were added) whether it spilled or not, so the result never depends on the
// budget.
//
// Usage: Add() every record, Finish() once, then Next() until it returns false.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "jet/compact/spill_file.h"
#include "jet/resident_buffer.h"

namespace jet {

template <class T>
class ExternalSorter {
    static_assert(std::is_trivially_copyable_v<T>, "records are written to disk as bytes");
    // Records in memory: tens of megabytes for a large table, filled once per run.
    using Records = std::vector<T, ResidentAllocator<T>>;

  public:
    explicit ExternalSorter(const SpillSettings& settings)
        : settings_(settings),
          chunk_records_(std::max<std::size_t>(1, settings.memory_bytes / sizeof(T))) {}

    // REQUIRES: Finish() not called yet
    void Add(const T& record) {
        assert(!finished_);
        if (chunk_.size() == chunk_records_ && settings_.can_spill()) SpillChunk();
        if (chunk_.size() == chunk_.capacity())
            chunk_.reserve(std::min(chunk_records_, std::max<std::size_t>(64, 2 * chunk_.size())));
        chunk_.push_back(record);
        ++count_;
    }

    // Ends the adding; the records can be read from now on. Throws
    // std::runtime_error when the spill file fails.
    void Finish() {
        assert(!finished_);
        finished_ = true;
        if (runs_.empty()) {
            std::stable_sort(chunk_.begin(), chunk_.end());
            return;
        }
        if (!chunk_.empty()) SpillChunk();
        Records().swap(chunk_);
        // Merging too many runs at once would leave each a tiny read buffer; groups of
        // runs are merged into longer ones first. Groups are consecutive runs, merged
        // with ties going to the earlier run, so the sort stays stable.
        while (runs_.size() > kMaxFanIn) {
            std::vector<Run> longer;
            for (std::size_t i = 0; i < runs_.size(); i += kMaxFanIn) {
                std::span<const Run> group(runs_.data() + i, std::min(kMaxFanIn, runs_.size() - i));
                if (group.size() == 1) {
                    longer.push_back(group[0]);
                    continue;
                }
                // The group's read buffers and the write buffer share the budget.
                Merger m(*file_, group, BufferRecords(group.size() + 1));
                Run out{file_->size(), 0};
                Records buffer;
                buffer.reserve(BufferRecords(group.size() + 1));
                T r;
                while (m.Next(&r)) {
                    buffer.push_back(r);
                    if (buffer.size() == buffer.capacity()) out.count += Write(buffer);
                }
                out.count += Write(buffer);
                longer.push_back(out);
            }
            runs_ = std::move(longer);
        }
        merger_.emplace(*file_, runs_, BufferRecords(runs_.size()));
    }

    // The next record in order; false after the last. REQUIRES: Finish() was called
    bool Next(T* record) {
        assert(finished_);
        if (merger_) return merger_->Next(record);
        if (read_ >= chunk_.size()) return false;
        *record = chunk_[read_++];
        return true;
    }

    // Drops every record and the spill file; the sorter is as new.
    void Reset() {
        merger_.reset();
        file_.reset();
        Records().swap(chunk_);
        runs_.clear();
        count_ = 0;
        read_ = 0;
        finished_ = false;
    }

    std::uint64_t size() const { return count_; }
    // True once records went to disk.
    bool spilled() const { return file_ != nullptr; }

  private:
    // The fewest records a read buffer holds while runs merge. Runs themselves may be
    // as short as one record: a budget too small for anything (tests use one) still
    // sorts, through many short runs.
    static constexpr std::size_t kMinBufferRecords = 16;
    // Runs merged at once. A 2 GB file at the default budget makes a handful of runs
    // per sort, so more than this many happen only with tiny budgets.
    static constexpr std::size_t kMaxFanIn = 32;

    struct Run {
        std::uint64_t at = 0;     // byte offset in the spill file
        std::uint64_t count = 0;  // records
    };

    // Reads runs back in order, the smallest head record first.
    class Merger {
      public:
        Merger(SpillFile& file, std::span<const Run> runs, std::size_t buffer_records)
            : file_(file) {
            for (const Run& r : runs) {
                Cursor c{r.at, r.count, {}, 0};
                c.buffer.reserve(std::min<std::uint64_t>(buffer_records, r.count));
                cursors_.push_back(std::move(c));
            }
            for (std::size_t i = 0; i < cursors_.size(); ++i)
                if (Refill(cursors_[i])) heap_.push_back(i);
            std::make_heap(heap_.begin(), heap_.end(), Later{this});
        }

        bool Next(T* record) {
            if (heap_.empty()) return false;
            std::pop_heap(heap_.begin(), heap_.end(), Later{this});
            Cursor& c = cursors_[heap_.back()];
            *record = c.buffer[c.pos++];
            if (c.pos < c.buffer.size() || Refill(c))
                std::push_heap(heap_.begin(), heap_.end(), Later{this});
            else
                heap_.pop_back();
            return true;
        }

      private:
        struct Cursor {
            std::uint64_t at;    // next unread byte of the run
            std::uint64_t left;  // records not yet read into the buffer
            Records buffer;
            std::size_t pos;
        };
        // Orders the heap so that its front is the smallest head, the earlier run on ties.
        struct Later {
            const Merger* m;
            bool operator()(std::size_t a, std::size_t b) const {
                const T& x = m->Head(a);
                const T& y = m->Head(b);
                if (y < x) return true;
                if (x < y) return false;
                return a > b;
            }
        };
        const T& Head(std::size_t i) const { return cursors_[i].buffer[cursors_[i].pos]; }

        bool Refill(Cursor& c) {
            if (c.left == 0) return false;
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(c.left, c.buffer.capacity()));
            c.buffer.resize(n);
            file_.Read(c.at, {reinterpret_cast<std::uint8_t*>(c.buffer.data()), n * sizeof(T)});
            c.at += n * sizeof(T);
            c.left -= n;
            c.pos = 0;
            return true;
        }

        SpillFile& file_;
        std::vector<Cursor> cursors_;
        std::vector<std::size_t> heap_;  // cursors with records left
    };

    std::size_t BufferRecords(std::size_t runs) const {
        return std::max<std::size_t>(kMinBufferRecords, settings_.memory_bytes / sizeof(T) / runs);
    }

    // Appends records to the spill file and empties the vector; returns their count.
    std::uint64_t Write(Records& records) {
        const std::size_t n = records.size();
        if (n) file_->Append({reinterpret_cast<const std::uint8_t*>(records.data()), n * sizeof(T)});
        records.clear();
        return n;
    }

    void SpillChunk() {
        if (!file_) file_ = std::make_unique<SpillFile>(settings_);
        std::stable_sort(chunk_.begin(), chunk_.end());
        const std::uint64_t at = file_->size();
        runs_.push_back({at, Write(chunk_)});
    }

    SpillSettings settings_;
    std::size_t chunk_records_;  // records kept in memory before a run is written
    Records chunk_;              // records not written yet
    std::vector<Run> runs_;
    std::unique_ptr<SpillFile> file_;
    std::optional<Merger> merger_;
    std::uint64_t count_ = 0;
    std::size_t read_ = 0;  // next record of chunk_ to read when nothing spilled
    bool finished_ = false;
};

}  // namespace jet
