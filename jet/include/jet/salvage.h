// Reading what a damaged table still holds: every row that can be read on its own,
// and an account of what could not. Readers that stop at the first fault (TableReader)
// are right for a file taken to be sound; export and repair read past the damage.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/tdef.h"

namespace jet {

// Data pages of every table, found by looking at every page of the file once: a page
// names its table in its owner field whether or not the table's usage map lists it.
// Pages that the global map marks free are left out: Access leaves the bytes of the
// pages it frees, and their rows were deleted.
class OwnedPages {
  public:
    // `only_table`: look for that table's pages alone (0: every table's).
    static OwnedPages Scan(PageFile& file, std::uint32_t only_table = 0);
    // The same over pages [first, end) alone (past the file's last: up to it), so that
    // parts of a large file can be looked at on threads of their own, each through a
    // handle of its own, and joined in order with Append.
    static OwnedPages Scan(PageFile& file, std::uint32_t only_table, std::uint32_t first, std::uint32_t end);
    // Adds the pages `later` found. REQUIRES: every page of it lies past those here
    void Append(OwnedPages&& later);
    // Ascending; empty for a table none names.
    const std::vector<std::uint32_t>& Of(std::uint32_t tdef_page) const;

  private:
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> pages_;
};

// Something a salvaging read could not take.
struct SalvageLoss {
    enum class Kind {
        Row,         // a row of the table (at: its slot)
        Value,       // one long value of a row that was kept (at: the row's slot)
        Page,        // a whole page of rows (at.row is 0)
        Unlisted,    // rows on a page no map lists, left out (count: how many)
        Suspect,     // a row kept as it reads, that other evidence says was changed
    };
    Kind kind = Kind::Row;
    RowAddr at;
    std::string column;  // Value: the column's name
    std::uint32_t count = 1;
    std::string reason;
    // "row 12:3: <reason>" and the like, one line.
    std::string Describe() const;
};

struct SalvageOptions {
    // Rows on data pages that name the table but that its usage map does not list
    // are taken too; otherwise they are only counted (a Loss of kind Unlisted).
    bool unlisted_pages = false;
    ReadLimits limits;
};

// A row read by Salvage::ForEachRow: its structure was checked (`cracked` holds it).
struct SalvagedRow {
    RowAddr slot;        // where the table lists it (the row's own address when its
                         // home slot was lost)
    RowAddr addr;        // where its bytes are
    bool orphan = false;  // an overflow row whose home slot was lost
    bool unlisted = false;  // on a page no usage map lists
    Bytes bytes;
    std::uint32_t offset = 0;  // of the bytes in the page at `addr`
    const CrackedRow* cracked = nullptr;
};

// One pass over a table's rows that goes past damage. Rows come in (page, row) order
// of their slots, each checked on its own: a row whose slot, overflow pointer or
// structure is bad is a loss and the next row follows. Every stored row is taken
// once: where two slots lead to the same bytes, the first slot in that order keeps
// it. An overflow row whose home slot was lost (Access flags the row an overflow
// pointer leads to as deleted, without the overflow flag, and keeps its bytes; a
// row it deletes carries both flags) comes after the others, at its own address.
class SalvageReader {
  public:
    // `owned`: the pages that name this table (OwnedPages), or null when the table's
    // usage map is to be believed (unlisted pages are neither taken nor counted).
    SalvageReader(PageFile& file, const TableDef& table, const OwnedPages* owned,
                  SalvageOptions options = {});

    // False from `visit` stops. Never throws FormatError.
    void ForEachRow(const std::function<bool(const SalvagedRow&)>& visit);

    // A long value of a row, or nothing when it cannot be read whole (then `why`).
    std::optional<LongValue> ReadLongValue(Bytes field, std::string* why);
    // The same check without a copy of the value.
    bool LongValueReadable(Bytes field, std::string* why);

    // The reader under it, for what reads values of rows it gave (index keys).
    TableReader& table_reader() { return reader_; }

    // The data pages ForEachRow went through (listed or not), ascending.
    const std::vector<std::uint32_t>& pages() const { return visited_; }
    // For each of pages(): how many slots it holds a live row in, each at a sane
    // offset, or kIrregularPage when anything else stands in its row table (a slot
    // out of place, more than 256 slots, a slot flagged deleted alone that holds bytes,
    // a page that cannot be read). A page whose every live slot gave a row that was
    // kept, and that is not irregular, needs no change to its row table.
    static constexpr std::uint16_t kIrregularPage = 0xFFFF;
    const std::vector<std::uint16_t>& live_slots() const { return live_slots_; }

    const std::vector<SalvageLoss>& losses() const { return losses_; }
    void AddLoss(SalvageLoss loss) { losses_.push_back(std::move(loss)); }
    std::uint64_t rows_read() const { return rows_read_; }

  private:
    bool VisitPage(std::uint32_t p, bool unlisted,
                   const std::function<bool(const SalvagedRow&)>& visit);
    bool Offer(SalvagedRow& r, const std::function<bool(const SalvagedRow&)>& visit);
    // Whether the row stored at `at` was given out.
    bool Taken(RowAddr at) const;
    // Notes the row at `at` as given out; false when it was already.
    bool Take(RowAddr at, bool own_slot);
    void Lose(SalvageLoss::Kind kind, RowAddr at, std::string reason);

    PageFile& file_;
    const TableDef& table_;
    const OwnedPages* owned_;
    SalvageOptions options_;
    TableReader reader_;
    RowCracker cracker_;
    CrackedRow cracked_;
    std::vector<SalvageLoss> losses_;
    // Row addresses given out: rows at their own slot, which come in page order, as a
    // bit per row of each page (36 bytes a page; a set of 2 million rows took 90 MB),
    // and rows reached otherwise (overflow rows, orphans), few, packed.
    struct TakenPage {
        std::uint32_t page;
        std::array<std::uint64_t, 4> rows;
    };
    std::vector<TakenPage> taken_own_;
    std::unordered_set<std::uint32_t> taken_other_;
    std::unordered_set<std::uint32_t> targets_;  // where overflow pointers lead (packed)
    std::vector<RowAddr> orphan_candidates_;     // deleted-only slots with bytes
    std::vector<std::uint32_t> visited_;
    std::vector<std::uint16_t> live_slots_;  // parallel to visited_
    std::uint64_t rows_read_ = 0;
};

}  // namespace jet
