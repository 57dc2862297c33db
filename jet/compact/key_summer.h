// The index keys of a table's rows, summed (KeySum) on a thread of its own while the
// caller reads the rows: making three keys a row cost the repair's salvage of a narrow
// table some 40 % of its time on one core. Rows are handed over in batches through a
// bounded queue; when the queue is full the caller sums the batch itself rather than
// wait (the second core may be busy with other work, such as the index walks beside
// the salvage). Each batch is summed apart and the parts are added in the order the
// rows came, so the sums are those one thread would have made, row by row.
//
// Usage: Add() each row, then Finish() once for the sums.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/compact/key_sums.h"
#include "jet/index_key.h"
#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/tdef.h"

namespace jet {

class KeySummer {
  public:
    struct Sums {
        // Per real index: the keys summed by the rows' places (the order they were
        // added) and by their slots (the addresses index entries hold). An index
        // without an encoder, or whose key a row could not make, is not `readable`
        // in `by_place`, and neither sum takes the rows after that one.
        std::vector<KeySum> by_place;
        std::vector<KeySum> by_slot;
        // The keys of the rows added as `orphan`, KeySum::Mix(index, key hash), with
        // how many rows have each (up to the row whose key could not be made).
        std::unordered_map<std::uint64_t, std::uint32_t> orphan_keys;
    };

    // `encoders`: one per real index of `table` (none: that index is not summed).
    // `caller_file`: where the caller's thread reads long values in keys; with
    // `own_file` the summing thread reads them there, else there is no such thread and
    // the caller sums every batch.
    // REQUIRES: `table`, `encoders` and the files outlive the summer; `own_file` is
    // used by no other thread meanwhile
    KeySummer(const TableDef& table, bool jet3, std::span<const std::optional<IndexKeyEncoder>> encoders,
              PageFile& caller_file, PageFile* own_file);
    // Joins the thread (the rows not yet summed are dropped).
    ~KeySummer();
    KeySummer(const KeySummer&) = delete;
    KeySummer& operator=(const KeySummer&) = delete;

    // The row at `slot`, `place`-th of those kept, its bytes as stored; `lost`: its
    // fields (positions in the table's columns) whose values are lost and read as null.
    // `orphan`: a row whose home slot was lost (its keys are counted in orphan_keys).
    // REQUIRES: Finish() not called yet
    void Add(std::uint64_t place, RowAddr slot, Bytes bytes, bool orphan, std::span<const std::uint16_t> lost);
    // Waits for every row added to be summed. Rethrows what summing threw but a
    // FormatError (a key that cannot be made leaves its index unreadable).
    // REQUIRES: called once
    Sums Finish();

  private:
    // Rows back to back, with what each needs besides its bytes.
    struct Batch {
        struct Row {
            std::uint64_t place = 0;
            RowAddr slot;
            std::uint32_t begin = 0, size = 0;           // in `bytes`
            std::uint32_t lost_begin = 0, lost_end = 0;  // in `lost`
            bool orphan = false;
        };
        std::size_t sequence = 0;  // its place among the batches
        std::vector<std::uint8_t> bytes;
        std::vector<Row> rows;
        std::vector<std::uint16_t> lost;
        void Clear() {
            bytes.clear();
            rows.clear();
            lost.clear();
        }
    };
    // What one batch sums to. An index it found unreadable takes nothing from the
    // batches after it when the parts are added up.
    struct Part {
        std::vector<KeySum> by_place, by_slot;
        std::vector<std::pair<std::size_t, std::uint64_t>> orphan_keys;  // index, Mix
    };
    // What a thread needs to make keys, reused from row to row.
    struct Keys {
        Keys(PageFile& file, const TableDef& table) : reader(file, table) {}
        TableReader reader;  // long values in keys
        CrackedRow cracked;
        std::vector<KeyValue> values;
        std::vector<std::vector<std::uint8_t>> scratch;
        std::vector<std::uint8_t> key;
    };
    // A batch is handed over at this many rows or bytes, whichever comes first, and at
    // most kDepth wait: some 4 MB in flight, however wide the rows.
    static constexpr std::size_t kBatchRows = 4096;
    static constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
    static constexpr std::size_t kDepth = 4;

    void HandOver();
    void Sum(const Batch& batch, Keys& keys, Part& part) const;
    void Work();

    RowCracker cracker_;
    std::span<const std::optional<IndexKeyEncoder>> encoders_;
    Keys caller_keys_;
    std::optional<Keys> own_keys_;
    // One per batch handed over, in order; a deque, so that a part being filled stays
    // where it is while others are added.
    std::deque<Part> parts_;

    Batch filling_;  // the caller's
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> full_;    // handed over, oldest first
    std::vector<Batch> spare_;  // summed, for reuse
    bool busy_ = false;         // the thread is summing a batch
    bool closing_ = false;      // no more batches come
    std::exception_ptr error_;
    std::thread worker_;
};

}  // namespace jet
