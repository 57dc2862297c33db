// Rows a compaction would not see. The compaction takes a table's rows from the pages
// its usage map lists; a crash can leave data pages that name the table and hold live
// rows but that no map lists (a usage bitmap zeroed, a page added to the table whose
// map bit never reached the disk). The verification reads the source the same way,
// so such rows would be dropped without a word: the compaction looks for them first
// and refuses the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/database.h"

namespace jet {

struct UnlistedRows {
    std::uint32_t pages = 0;  // data pages with live rows that their table's map misses
    std::uint64_t rows = 0;   // live rows on them
    // The first such page (lowest number), its table and its live rows.
    std::string table;
    std::uint32_t page = 0;
    std::uint32_t page_rows = 0;

    bool empty() const { return pages == 0; }
    // One sentence: what was found, that the file is damaged, and what recovers it.
    std::string Describe() const;
};

// Looks at the pages that no map accounts for: neither free in the global map, nor a
// definition, map or usage-bitmap page, nor listed in a table's, long-value column's
// or index's map. A sound file has next to none, so this reads a handful of pages.
// `thorough`: the pages that only a long-value column's or an index's map lists are
// looked at too (only its table's map brings a data page's rows to the compaction),
// which reads every long-value and index page: 0.2-1 s for a 2 GB file.
// A data page among them that names a table of the catalog and holds live rows is
// counted. Never throws FormatError: what cannot be read is left to the compaction,
// which refuses it with its own reason.
UnlistedRows FindUnlistedRows(Database& db, bool thorough = false);

// The same for a page that the compaction reads from table `lister`'s map: a data page
// that another table of the catalog owns, holding live rows, that its owner's map does
// not list (a cross-linked page: the owner's rows would be left out, since `lister`
// skips pages it does not own). Cheap where it matters: a sound file has no such page,
// and only such a page costs a read of its owner's map. Empty when none.
UnlistedRows ForeignRows(Database& db, const TableDef& lister, std::uint32_t p, const Page& page);

// Overflow rows whose home slot was lost. Access flags the row an overflow pointer
// leads to as deleted (without the overflow flag) and keeps its bytes, and flags a row
// it deletes with both; so a slot flagged deleted alone that holds bytes, and that no
// live overflow row of the table leads to, is a row whose pointer was lost (its home
// slot zeroed or flagged deleted by damage). The compaction reads rows through their
// home slots and would leave it out; repair keeps it where it lies.
// Fed the table's pages as the compaction reads them, it keeps two sums: of such
// slots and of the slots overflow pointers lead to, each address mixed into 64 bits.
// On a sound table they are the same set (two different sets sum alike by a chance of
// 2^-64); only when the sums differ are the pages read again, a bit per slot, to
// find the rows no pointer leads to.
class LostHomeRows {
  public:
    void See(std::uint32_t p, const Page& page, bool jet3);
    // Whether the slots seen may hold such a row.
    bool Suspected() const { return kept_ != targets_ || kept_rows_ != target_rows_; }
    // Such rows on `pages` (the table's map, read again: those of other owners are
    // left out), the first (lowest address) and their count; empty when none.
    struct Found {
        std::uint64_t count = 0;
        RowAddr first;
        // One sentence, as UnlistedRows::Describe says it.
        std::string Describe(const std::string& table) const;
    };
    static Found Find(PageFile& f, std::uint32_t owner, const std::vector<std::uint32_t>& pages);

  private:
    std::uint64_t kept_ = 0, targets_ = 0;         // the sums
    std::uint64_t kept_rows_ = 0, target_rows_ = 0;  // and the slots in each
};

}  // namespace jet
