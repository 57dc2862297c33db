// The comparisons of a compacted file with its source that the verification is made
// of: the header and catalog, a stretch of a table's rows, an index, a table's maps,
// and at the end the role of every page. Each throws FormatError naming the first
// fault it finds; which task runs which, on which thread, is verify_tasks' business.
#pragma once

#include <cassert>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/compact/id_map.h"
#include "jet/compact/layout_planner.h"
#include "jet/database.h"
#include "jet/row_addr.h"

namespace jet {

class CheckInParts;

// A set of pages of the new file, a bit each (64 KB for the largest file).
class PageSet {
  public:
    explicit PageSet(std::uint32_t pages = 0) : words_((std::size_t{pages} + 63) / 64, 0) {}
    bool Contains(std::uint32_t p) const {
        return p / 64 < words_.size() && ((words_[p / 64] >> (p % 64)) & 1);
    }
    // REQUIRES: p below the pages it was made for
    void Insert(std::uint32_t p) {
        assert(p / 64 < words_.size());
        words_[p / 64] |= std::uint64_t{1} << (p % 64);
    }
    // REQUIRES: o made for no more pages than this
    void Merge(const PageSet& o) {
        assert(o.words_.size() <= words_.size());
        for (std::size_t i = 0; i < o.words_.size(); ++i) words_[i] |= o.words_[i];
    }

  private:
    std::vector<std::uint64_t> words_;
};

// Pages a comparison claims for its structures, kept with its task and claimed into
// the file's page roles (PageRoles) in the tasks' fixed order once every task has
// run: two workers never share them, and the first conflict in that order is the
// one reported. A table's long-value pages are noted once each (not once per value
// read from them), so all the logs together hold a few entries per page of the new
// file.
class ClaimLog {
  public:
    void Add(std::uint32_t page, const std::string& role);
    template <class ClaimFn>
    void Replay(ClaimFn&& claim) const {
        for (const Entry& c : claims_) claim(c.page, roles_[c.role]);
    }

  private:
    struct Entry {
        std::uint32_t page;
        std::uint16_t role;
    };
    std::vector<std::string> roles_;  // a task claims for a handful of roles
    std::vector<Entry> claims_;
    std::size_t last_role_ = 0;
};

// Every page of the new file with its one role.
class PageRoles {
  public:
    explicit PageRoles(PageFile& out) : out_(out) {}
    // Throws FormatError when the page lies past the file's end or has another role.
    void Claim(std::uint32_t page, const std::string& role);
    // Once everything else has claimed its pages: the header and the global map
    // claimed, every page has a role but the fillers (pages left free on purpose),
    // and the global map marks exactly those free.
    void CheckGlobalMap(const std::set<std::uint32_t>& fillers);

  private:
    std::uint16_t RoleId(const std::string& role);

    PageFile& out_;
    // Every page of the new file with its role: an index into role_names_, 0 = none.
    std::vector<std::uint16_t> roles_;
    std::vector<std::string> role_names_{""};
    std::map<std::string, std::uint16_t> role_ids_;
};

// Thrown by a comparison that stops because its result is no longer wanted.
struct TaskCancelled {};

// Told now and then during a long comparison of the rows compared since it was last
// told (none from an index), and once more at the end of a stretch of rows (`last`);
// throws TaskCancelled to stop the comparison (never when `last`).
using ComparePace = std::function<void(std::uint64_t rows, bool last)>;

// The two files as one worker reads them. A PageFile serves one thread.
struct CompareFiles {
    PageFile& src;
    PageFile& out;
};

// A table of the source with its counterpart in the new file. The definitions are
// the databases' own, read before any worker starts (their cache is not for two
// threads).
struct ComparedTable {
    std::string source_name;
    std::string name;  // "table 'X'"
    const TableDef* sd = nullptr;
    const TableDef* od = nullptr;
};

// The format, the header page, and the catalog (names, kinds, flags, Ids mapped).
void CompareCatalog(Database& src, Database& out, const IdMap& ids);
// The tables of both files paired in order, their definitions read.
std::vector<ComparedTable> PairTables(Database& src, Database& out);

// A stretch of a table's rows: the source data pages numbered from first_page up to
// end_page, against the rows of the new file (in its map's order) from `start` up to
// `end` (none: to the table's last). Stretches that meet exactly together pair every
// source row with every new row, in order, as one pass would.
struct RowsStretch {
    std::uint32_t first_page = 0;
    RowAddr start;
    std::uint32_t end_page = std::numeric_limits<std::uint32_t>::max();
    std::optional<RowAddr> end;
};
// What comparing a stretch leaves for the table's end of rows.
struct RowsCompared {
    RowMap pairing;           // source slot -> new slot for its rows
    std::uint32_t count = 0;  // rows compared
    PageSet lv_seen;          // pages of the new file a long value was read from
    bool foreign = false;     // the new map lists a page that holds none of its rows
};

// Each live source row of the stretch against the next row of the new file: the same
// bytes (but for mapped Ids and long-value pointers), the same long values; every
// slot of the new pages a live row, each page's free-space field right, the
// definitions alike. The `first` stretch of a table also claims the new definition's
// pages, and reserves its pairing for the whole table's source pages (the later
// stretches are appended to it).
void CompareRows(const ComparedTable& table, const RowsStretch& stretch, bool first,
                 const IdMap& ids, CompareFiles& files, ClaimLog& claims, RowsCompared& result,
                 const ComparePace& pace);
// The row count of the new definition against the rows the stretches compared.
void CompareRowCount(const ComparedTable& table, std::uint64_t count);
// Index `index` of the table: the same keys (Ids mapped) in the same order, each
// pointing at its row's new place (`pairing`: every stretch's joined); its tree and
// map sound and matching. With `check` and `along`, the new tree is walked for that
// tree of the soundness check at the same time. `missing_rows_dropped`: the source's
// entries whose row the pairing does not hold (rows that are gone) were left out of
// the new tree and are passed over; every other entry is compared all the same.
void CompareIndex(const ComparedTable& table, std::size_t index, const RowMap& pairing,
                  const IdMap& ids, CheckInParts* check, std::optional<std::size_t> along,
                  CompareFiles& files, ClaimLog& claims, const ComparePace& pace,
                  bool missing_rows_dropped = false);
// The table's usage maps: its data pages exactly (`foreign`: a listed page held
// none of its rows), free-space maps within them, long-value maps listing long-value
// pages (those in `lv_seen` were read as such already); their pages claimed.
void CheckMaps(const ComparedTable& table, PageFile& out, bool foreign, const PageSet& lv_seen,
               ClaimLog& claims);

}  // namespace jet
