// Structural check of a whole database: page roles, usage maps, rows, long values,
// indexes, row counts. Also gathers what `mdbcompact info` shows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/index.h"

namespace jet {

enum class PageRole : std::uint8_t {
    Unreachable,
    Header,
    GlobalMap,  // page 1: the global usage map row
    TableDef,
    Data,
    LongValue,
    UsageMapRows,  // data page holding usage-map rows (owner field 0)
    UsageBitmap,   // type-5 page of a reference map
    IndexNode,
    IndexLeaf,
};

const char* PageRoleName(PageRole r);

struct Problem {
    std::uint32_t page = 0;
    std::string text;  // one line
};

struct TableSummary {
    std::string name;
    std::uint32_t tdef_page = 0;
    bool system = false;
    std::uint32_t definition_rows = 0;  // row count the TDEF holds
    std::uint64_t live_rows = 0;
    std::uint64_t overflow_rows = 0;
    std::uint64_t tombstones = 0;        // deleted row slots on its data pages
    std::uint64_t row_bytes = 0;         // bytes of live rows (overflow resolved)
    std::uint64_t long_value_bytes = 0;  // bytes of the LVAL rows its live rows use
    std::uint32_t long_value_rows = 0;
    std::uint32_t data_pages = 0, long_value_pages = 0, index_pages = 0;
    std::uint32_t index_count = 0;
};

struct CheckReport {
    Header header;
    bool opened = false;
    std::string open_error;       // why the file was not read (refusal or unreadable catalog)
    std::vector<PageRole> roles;  // per page
    std::vector<std::int32_t> role_table;  // per page: index into `tables`, -1 for none
    std::map<std::uint8_t, std::uint32_t> pages_by_type;  // first byte -> count
    std::vector<std::uint32_t> unreachable;               // pages (1..n-1) with no role
    std::vector<TableSummary> tables;                     // catalog order, system tables too
    std::vector<Problem> problems;
    std::uint64_t estimated_size = 0;  // bytes after compaction (estimate)
    bool sound() const { return opened && problems.empty(); }
};

// Never throws; problems found are in the report.
CheckReport CheckDatabase(Database& db);

// How a check reads its file: pages kept cached, and whether a page read out of order
// brings its block along (PageFile::set_block_reads). By default 4 MB of Jet 4 pages:
// the check's passes go through the file in page order and sequential reads come in
// runs, so a larger cache gains little and would cost more memory than everything
// else the check keeps.
struct CheckReading {
    std::size_t cache_pages = 1024;
    bool block_reads = false;
    // The whole file read into memory once (PageFile::set_loaded), shared with
    // `loaded_like` when that has loaded the same file: only for a small file that
    // nobody else changes meanwhile.
    bool loaded = false;
    const PageFile* loaded_like = nullptr;
    // Whether index keys are compared with their rows' values (and a unique index's
    // keys with each other). Off only for a caller
    // that compares every entry with those of a file whose keys were checked or that
    // it trusts (the compaction's verification of its new file against its source).
    bool index_keys = true;
};

// Opens and checks a file; a file that cannot be opened gives opened = false.
CheckReport CheckFile(const std::filesystem::path& path, const CheckReading& reading = {});

// The same check in parts, for a caller that spreads it over threads: Tables checks
// everything but the tables' index trees and lists those; each tree is then checked
// by Index on whichever thread, through a handle of that thread's own on the same
// file; Finish applies their findings in the order listed and completes the report.
// A sound file gets the report CheckFile gives; in a damaged one the same problems
// may come in another order (a tree's pages are marked after the later tables').
// Never throws FormatError; problems found are in the report.
class CheckInParts {
  public:
    // Opens the file as CheckFile does (a file that cannot be opened gives a report
    // with opened = false and nothing to check).
    explicit CheckInParts(const std::filesystem::path& path, const CheckReading& reading = {});
    ~CheckInParts();
    CheckInParts(const CheckInParts&) = delete;
    CheckInParts& operator=(const CheckInParts&) = delete;

    // The check's own handle on the file, null when it could not be opened. Between
    // Tables and Finish the thread that ran Tables may use it (for Index, say).
    PageFile* file();
    // REQUIRES: called once, first.
    void Tables();
    // Index trees to check, listed by Tables.
    std::size_t index_count() const;
    // Checks tree k through `file`. Calls for different k may run at once; none while
    // Tables or Finish runs. REQUIRES: k < index_count(), each k once
    void Index(std::size_t k, PageFile& file);
    // Where tree k is: its table's definition page, its number among the table's real
    // indexes, its root page. REQUIRES: k < index_count()
    struct Tree {
        std::uint32_t table = 0;
        std::size_t index = 0;
        std::uint32_t root = 0;
    };
    Tree tree(std::size_t k) const;
    // Index, with each leaf page's entries also handed to `also` as the walk reaches
    // them (for a caller that compares the tree with another on the one walk); the
    // walk, its pages and problems, is left in `walk`. An exception from `also` passes
    // through and leaves tree k unchecked: Finish may then not be called.
    // REQUIRES: as Index
    void IndexAlong(std::size_t k, PageFile& file, const LeafPageVisitor& also, IndexWalk& walk);
    // REQUIRES: Index done for every k; called once, last.
    CheckReport Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace jet
