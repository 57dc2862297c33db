// Sorts byte strings of any length (index entries, keys) with a tag each, more of
// them than memory may hold. Records gather in memory up to the budget; each full
// batch is sorted and written to a spill file as a run, and the runs are merged as the
// records are read back. Under the budget nothing touches the disk.
//
// Order: the bytes compared as unsigned bytes, a proper prefix first; equal bytes by
// tag, the smaller first. Records equal in both are the same record to a reader, so
// the order never depends on the budget.
//
// In memory the records' bytes lie one after another in one array, and the sort moves
// small items holding the 16 bytes that follow what every record of the batch begins
// with: most comparisons never look at the records themselves. A batch added in order
// (an autonumber index) is not sorted at all, and once one went to disk, the records
// that go on in order follow it there without a batch; a batch that begins at or
// after the last record on disk continues that run. Input in order thus reads back
// as one run, without a merge. Runs on disk keep each record as its difference from
// the one before (the bytes it shares with it are not written again).
//
// Usage: Add() every record, Finish() once, then Next() until it returns false;
// Rewind() to read them all again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "jet/compact/spill_file.h"
#include "jet/resident_buffer.h"

namespace jet {

class EntrySorter {
  public:
    // The longest record. A merge holds the current record of every run it reads (up
    // to 256, at budgets of 16 MB and more) beside its buffers, so records of this
    // length may take 16 MB more than the budget there. Index entries hold at most a
    // few hundred bytes.
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 10;

    explicit EntrySorter(const SpillSettings& settings);
    ~EntrySorter();
    EntrySorter(const EntrySorter&) = delete;
    EntrySorter& operator=(const EntrySorter&) = delete;

    // REQUIRES: Finish() not called yet, bytes.size() <= kMaxBytes. Throws
    // std::runtime_error when the spill file fails.
    void Add(std::span<const std::uint8_t> bytes, std::uint64_t tag);
    // Ends the adding; the records can be read from now on. Throws
    // std::runtime_error when the spill file fails.
    void Finish();
    // The next record in order; false after the last. `*bytes` stays valid until the
    // next call to Next, Rewind or Reset. REQUIRES: Finish() was called. Throws
    // std::runtime_error when the spill file fails.
    bool Next(std::span<const std::uint8_t>* bytes, std::uint64_t* tag);
    // Reads from the first record again. REQUIRES: Finish() was called
    void Rewind();
    // Drops every record and the spill file; the sorter is as new.
    void Reset();

    std::uint64_t size() const { return count_; }
    // True once records went to disk.
    bool spilled() const { return file_ != nullptr; }

  private:
    class Merger;
    class RunWriter;

    // A record in memory, as the sort moves it: the 16 bytes after those the whole
    // batch shares, big-endian and padded with zeros, then where the record lies, and
    // its tag. A record no longer than the shared bytes and the prefix (an index entry
    // of up to 16 bytes, often more) is read back from its item alone: in the sorted
    // order its bytes would be read at random.
    struct Item {
        std::uint64_t hi;     // prefix bytes 0-7
        std::uint64_t lo;     // prefix bytes 8-15
        std::uint64_t place;  // where its bytes start in arena_ << 24 | their length
        std::uint64_t tag;
        std::size_t size() const { return static_cast<std::size_t>(place & 0xFFFFFF); }
        std::size_t at() const { return static_cast<std::size_t>(place >> 24); }
    };
    static_assert(kMaxBytes < (1 << 24), "a record's length takes 24 bits of its item");
    static constexpr std::size_t kPrefixBytes = 16;

    std::span<const std::uint8_t> BytesOf(const Item& item) const {
        return {arena_.data() + item.at(), item.size()};
    }
    // The record's bytes, from its item when they are all there (then in scratch_).
    std::span<const std::uint8_t> Read(const Item& item);
    // Sorts the batch in memory (unless it came in order).
    void SortBatch();
    // Sorts the batch and writes it to the spill file: it continues the open run if it
    // follows its last record, else begins a new one.
    void SpillBatch();
    // Ends the open run, if any.
    void CloseRun();
    void ClearBatch();
    // The size of each of `buffers` read or write buffers of a merge: they share the
    // budget.
    std::size_t BufferBytes(std::size_t buffers) const;

    struct Run {
        std::uint64_t at = 0;     // byte offset in the spill file
        std::uint64_t bytes = 0;  // its length there
    };

    SpillSettings settings_;
    // The batch in memory: the records' bytes one after another, and an item for each.
    // Big arrays taken from the system, so that they go back to it when dropped.
    std::vector<std::uint8_t, ResidentAllocator<std::uint8_t>> arena_;
    std::vector<Item, ResidentAllocator<Item>> items_;
    std::size_t shared_ = 0;  // bytes every record of the batch begins with
    bool in_order_ = true;    // the batch was added in order (then not sorted)
    bool packed_ = false;     // the items' prefixes are set
    // The shared bytes, then room for a prefix: records rebuilt from their items.
    std::vector<std::uint8_t> scratch_;
    std::vector<Run> runs_;
    std::unique_ptr<SpillFile> file_;
    // The run being written; the last batch spilled is in it. Records added in order
    // after that batch, itself added in order, go straight to it while direct_.
    std::unique_ptr<RunWriter> open_;
    bool direct_ = false;
    std::unique_ptr<Merger> merger_;  // reads the runs once Finish() was called
    std::uint64_t count_ = 0;
    std::size_t read_ = 0;  // next item to read when nothing spilled
    bool finished_ = false;
};

}  // namespace jet
