// The check of an index's keys against its table's rows, for the checker: each live
// row's key is made as the table's pass reads the row and folded into a digest per
// index; the index walk folds its entries the same way. Equal digests mean (all but
// certainly) that every entry holds its row's key and every row that should have an
// entry has one; only when they differ are the rows read again to name the faults.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/index.h"
#include "jet/index_key.h"
#include "jet/row.h"
#include "jet/table.h"

namespace jet {

// A sum of (row, key) hashes and their count: the same for the same pairs in any order.
struct KeyDigest {
    std::uint64_t sum = 0;
    std::uint64_t count = 0;
    void Add(std::uint64_t hash) {
        sum += hash;
        ++count;
    }
    bool operator==(const KeyDigest&) const = default;
};

// The hash of an entry: the packed row address it points at and its key bytes.
std::uint64_t EntryHash(std::uint32_t row, const std::uint8_t* key, std::size_t size);

// The keys every index of one table should hold, gathered row by row.
class TableKeys {
  public:
    // With `enabled` false, no keys are made: any() is false, every encoder null.
    TableKeys(const TableDef& table, bool jet3, std::uint32_t database_order, bool enabled);
    // Whether any index's keys can be made (when none, AddRow need not be called).
    bool any() const { return any_; }
    // Whether keys are checked at all (unique indexes' keys against each other too).
    bool enabled() const { return enabled_; }
    // Adds the keys of the live row listed at `slot`. A row that cannot be split (its
    // fault is the row check's to report) leaves its table's keys unknown.
    void AddRow(RowAddr slot, Bytes row, TableReader& reader);
    // The encoder of index i, or null when its keys are not checked: they cannot be
    // made, or some row could not be read.
    const IndexKeyEncoder* encoder(std::size_t i) const;
    const KeyDigest& digest(std::size_t i) const { return indexes_[i].digest; }

  private:
    struct Index {
        std::optional<IndexKeyEncoder> encoder;
        KeyDigest digest;
    };
    const TableDef& table_;
    bool jet3_;
    bool enabled_;
    bool any_ = false, unknown_ = false;
    std::vector<Index> indexes_;
    std::optional<RowCracker> cracker_;  // the index columns only
    CrackedRow cracked_;
    std::vector<KeyValue> values_;
    std::vector<std::vector<std::uint8_t>> scratch_;
    std::vector<std::uint8_t> key_;
};

struct KeyFault {
    std::uint32_t page = 0;
    std::string text;
};

// Names what makes index i's entries differ from its rows' keys: entries whose key
// is not their row's, entries of rows the index leaves out, live rows without an
// entry (at most `limit` of each, then a count). Reads the table's rows and walks
// the index again through `file`. `live` says whether a row is live (entries of
// other rows are the walk's findings). `who` names the index. Throws FormatError.
std::vector<KeyFault> FindKeyFaults(PageFile& file, const TableDef& table, std::size_t i,
                                    const IndexKeyEncoder& encoder,
                                    const std::function<bool(RowAddr)>& live,
                                    const std::string& who, std::size_t limit);

// Keys that a unique index (IsUniqueIndex) holds more than once. Its leaf entries come
// in key order, so equal keys are neighbours; a repeated key with a null column is
// right (the later entry's row tells: both keys have their null columns alike).
class DuplicateKeys {
  public:
    // `file` reads the rows of repeated keys; `limit` pairs are named, then a count.
    DuplicateKeys(PageFile& file, const TableDef& table, std::size_t index, std::size_t limit);
    // Whether the index is unique (otherwise Add does nothing).
    bool unique() const { return unique_; }
    // The entries of one leaf page, in walk order.
    void Add(std::span<const IndexEntry> entries, std::uint32_t page);
    // The pairs found, named as `who`'s.
    std::vector<KeyFault> Faults(const std::string& who) const;

  private:
    bool KeyHasNull(RowAddr row);

    const TableDef& table_;
    std::size_t index_;
    std::size_t limit_;
    bool unique_;
    TableReader reader_;
    std::vector<std::uint8_t> last_key_;  // of the previous page's last entry
    RowAddr last_row_;
    bool have_last_ = false;
    struct Pair {
        RowAddr first, second;
        std::uint32_t page, offset;
    };
    std::vector<Pair> named_;
    std::size_t count_ = 0;
};

}  // namespace jet
