#include "jet/compact/compactor.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "jet/compact/global_map.h"
#include "jet/compact/id_map.h"
#include "jet/compact/index_rewriter.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/compact/layout_planner.h"
#include "jet/compact/long_value_packer.h"
#include "jet/compact/map_rows.h"
#include "jet/compact/output_file.h"
#include "jet/compact/page_layout.h"
#include "jet/compact/put_bytes.h"
#include "jet/compact/row_page_writer.h"
#include "jet/compact/spill_file.h"
#include "jet/compact/tdef_rewriter.h"
#include "jet/compact/unlisted_rows.h"
#include "jet/compact/verifier.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

constexpr std::size_t kNoMap = static_cast<std::size_t>(-1);
// Pages the compaction keeps cached from the source (a bounded working set, 8 MB of
// Jet 4 pages). The verification reads the same handle after the repack: on a
// bloated 65 MB sample with some 3,000 live pages, 2,048 keep most of them for it
// (9,265 -> 6,875 reads, 7 % less CPU) for 3.4 MB more at the peak.
constexpr std::size_t kSourceCachePages = 2048;
// An index walk reads each page once; a few pages cached serve its runs.
constexpr std::size_t kWalkCachePages = 64;
// A table's rows are noted where they cross every this many source pages with live
// rows, for the verification to compare them in parts: a part of 64 pages is
// already long beside what a part costs to start, and a table of 2 GB leaves
// some 8,000 notes (100 KB).
constexpr std::size_t kSplitPages = 64;

// One table of the source and what the new file makes of it.
struct TableJob {
    const CatalogEntry* entry = nullptr;
    const TableDef* def = nullptr;
    std::vector<std::uint32_t> new_pages;  // the definition's pages in the new file
    std::size_t owned_map = kNoMap, free_map = kNoMap;
    std::vector<std::size_t> lv_owned, lv_free;  // per long_value_columns entry
    std::vector<std::size_t> index_map;          // per real index
    std::vector<std::uint32_t> index_root;       // per real index, new root page
    std::vector<std::size_t> id_columns;         // positions in def->columns
    std::uint32_t live_rows = 0;
    std::uint32_t new_tdef() const { return new_pages.front(); }
};

bool IsKnownPageType(std::uint8_t t) {
    return t <= kPageUsageBitmap;
}

class Repacker {
  public:
    // walker: null, or a worker that walks source indexes on a handle of its own.
    Repacker(Database& db, OutputFile& out, const CompactProgressFn& progress,
             const SpillSettings& spill, BackgroundIndexWalk* walker)
        : db_(db),
          src_(db.file()),
          walker_(walker),
          out_(out),
          progress_(progress),
          spill_(spill),
          layout_(PageLayout::For(db.header().format)),
          maps_(layout_),
          alloc_(2) {}

    // The source is a repair's view of it, holding the rows it salvaged: a row it
    // gave up (reported) leaves the row its overflow pointer led to as a deletion
    // does, which is not to be taken for a row whose home slot was lost.
    void set_salvaged(bool salvaged) { salvaged_ = salvaged; }
    // The indexes whose entries of rows that are gone are left out, and whom to tell
    // (CompactOptions::drop_entries_of_missing_rows, entry_dropped).
    void set_drops(const CompactOptions& options) { drops_ = &options; }
    // Writes the whole new file. Throws FormatError when the source cannot be
    // carried over; returns the page count of the new file.
    std::uint32_t Run();

    const IdMap& ids() const { return ids_; }
    const std::vector<std::uint32_t>& fillers() const { return fillers_; }
    bool spilled() const { return spilled_; }
    RowsSplits& splits() { return splits_; }

  private:
    void PlanTables();
    void CollectStaleIds();
    void PlanNumbers();
    // A table's rows, long values and indexes into the new file, step by step.
    struct TableRepack;
    void RepackTable(TableJob& job);
    void PlanIndexWalks(TableRepack& t);
    void StartRows(TableRepack& t);
    bool PlaceRow(TableRepack& t, const RowRef& r, Bytes bytes);
    void PlanLongValues(TableRepack& t);
    void WriteLongValues(TableRepack& t);
    void PlaceRows(TableRepack& t);
    void CopyIndexes(TableRepack& t);
    void WriteDefinition(const TableJob& job);
    void WriteGlobalMap();
    void Write(std::uint32_t page, std::span<const std::uint8_t> bytes);
    std::uint32_t NextPage() { return alloc_.TakeRun(1); }
    void Report() {
        if (progress_)
            progress_({stage_, rows_done_, rows_total_, src_.pages_read(), pages_written_,
                       src_.page_count()});
    }
    // Called for every row visited and every page written. A report per 256 of them
    // is often enough for a display that moves smoothly and costs next to nothing.
    void Tick() {
        if (progress_ && ++ticks_ % 256 == 0) Report();
    }

    Database& db_;
    PageFile& src_;
    BackgroundIndexWalk* walker_;
    OutputFile& out_;
    const CompactProgressFn& progress_;
    SpillSettings spill_;  // memory for per-row work and where it spills past it
    PageLayout layout_;
    MapRows maps_;
    PageAllocator alloc_;
    IdMap ids_;
    std::vector<TableJob> jobs_;                         // by old definition page
    std::map<std::uint32_t, std::uint32_t> tdef_moves_;  // old definition page -> new
    std::vector<std::uint32_t> fillers_;                 // free pages kept for stale Ids
    RowsSplits splits_;  // where the rows of each table cross every kSplitPages pages
    // The long-value rows being copied, one buffer for every column: fresh memory
    // costs more to make resident than the copying into it.
    ResidentBuffer lv_rows_;
    std::uint64_t rows_total_ = 0, rows_done_ = 0;
    CompactProgress::Stage stage_ = CompactProgress::Stage::Reading;
    std::uint64_t pages_written_ = 0, ticks_ = 0;
    bool spilled_ = false;
    bool thorough_look_ = false;  // FindUnlistedRows looked at every page maps list
    bool salvaged_ = false;       // see set_salvaged
    const CompactOptions* drops_ = nullptr;  // see set_drops
    bool Drops(std::uint32_t tdef, std::size_t index) const {
        return drops_ && drops_->drop_entries_of_missing_rows.count({tdef, static_cast<std::uint32_t>(index)});
    }
};

void Repacker::Write(std::uint32_t page, std::span<const std::uint8_t> bytes) {
    std::string err;
    if (!out_.WritePage(page, bytes, &err)) throw std::runtime_error(err);
    ++pages_written_;
    Tick();
}

void Repacker::PlanTables() {
    std::set<std::uint32_t> seen;
    for (const CatalogEntry* e : db_.Tables(true)) {
        if (!seen.insert(e->tdef_page()).second)
            ThrowFormat("two tables of the catalog share definition page " +
                        std::to_string(e->tdef_page()));
        TableJob job;
        job.entry = e;
        job.def = &db_.Definition(e->tdef_page());
        for (std::size_t i = 0; i < job.def->columns.size(); ++i)
            if (IsIdColumn(e->name, job.def->columns[i].name) &&
                job.def->columns[i].type == kColLong)
                job.id_columns.push_back(i);
        // The writing's progress counts each pass over a table's rows (two for a
        // table with long values: their plan, then the rows; one for the others) and
        // each index's entries, one per row.
        bool long_values = false;
        for (const Column& c : job.def->columns)
            long_values = long_values || IsLongValueType(c.type);
        rows_total_ += std::uint64_t{job.def->row_count} *
                       ((long_values ? 2 : 1) + job.def->real_indexes.size());
        jobs_.push_back(std::move(job));
    }
    std::sort(jobs_.begin(), jobs_.end(),
              [](const TableJob& a, const TableJob& b) { return a.def->page < b.def->page; });
    if (jobs_.empty() || jobs_.front().def->page != kCatalogPage)
        ThrowFormat("the catalog does not list itself on page 2");
}

void Repacker::CollectStaleIds() {
    std::set<std::int32_t> known{0x0F000000};
    for (const auto& e : db_.catalog()) known.insert(e.id);
    auto consider = [&](std::int64_t id) {
        // Only an Id that a page number could equal matters.
        if (id > 0 && !known.count(static_cast<std::int32_t>(id)) && id < (1 << 24))
            alloc_.Avoid(static_cast<std::uint32_t>(id));
    };
    for (const TableJob& job : jobs_) {
        for (const auto& li : job.def->logical_indexes)
            if (li.related_table) consider(li.related_table);
        if (job.id_columns.empty()) continue;
        TableReader reader(src_, *job.def);
        const RowCracker cracker(*job.def, src_.jet3());
        CrackedRow cr;
        reader.ForEachRow([&](const RowRef& r) {
            cracker.Crack(r.bytes, cr);
            for (std::size_t ci : job.id_columns) {
                const FieldRef& f = cr.fields[ci];
                if (!f.null && f.size == 4)
                    consider(static_cast<std::int32_t>(U32(r.bytes, f.begin)));
            }
            Tick();
            return true;
        });
    }
}

void Repacker::PlanNumbers() {
    // Table definitions first, in their old order: Ids keep their order.
    for (TableJob& job : jobs_) {
        const TableDef& d = *job.def;
        job.new_pages.push_back(alloc_.TakeDefinition());
        for (std::size_t i = 1; i < d.pages.size(); ++i) job.new_pages.push_back(NextPage());
        tdef_moves_[d.page] = job.new_tdef();
        std::int32_t old_id = job.entry->id;
        std::int32_t new_id = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(old_id) & 0xFF000000u) | job.new_tdef());
        ids_.Add(old_id, new_id);
    }
    // Then one row per usage map.
    for (TableJob& job : jobs_) {
        const TableDef& d = *job.def;
        if (!d.owned_map.null()) job.owned_map = maps_.Reserve();
        if (!d.free_map.null()) job.free_map = maps_.Reserve();
        for (const auto& lv : d.long_value_columns) {
            job.lv_owned.push_back(lv.owned_map.null() ? kNoMap : maps_.Reserve());
            job.lv_free.push_back(lv.free_map.null() ? kNoMap : maps_.Reserve());
        }
        for (const auto& ix : d.real_indexes)
            job.index_map.push_back(ix.map.null() ? kNoMap : maps_.Reserve());
    }
    std::vector<std::uint32_t> map_pages;
    for (std::uint32_t i = 0; i < maps_.PagesNeeded(); ++i) map_pages.push_back(alloc_.Take());
    maps_.PlacePages(std::move(map_pages));
    // Numbers skipped for stale Ids and not used by map pages stay free.
    while (!alloc_.spare().empty()) fillers_.push_back(alloc_.Take());
}

// A table's repack as it goes: what its steps (RepackTable) share.
struct Repacker::TableRepack {
    TableRepack(Repacker& r, TableJob& j)
        : job(j),
          d(*j.def),
          reader(r.src_, d, limits),
          cracker(d, r.src_.jet3()),
          sink([&r](std::uint32_t page, std::vector<std::uint8_t> bytes) { r.Write(page, bytes); }),
          next([&r] { return r.NextPage(); }) {}

    TableJob& job;
    const TableDef& d;
    const ReadLimits limits;
    TableReader reader;
    const RowCracker cracker;
    const RowPageWriter::PageSink sink;
    const RowPageWriter::NextPage next;
    // Every page of the table's map must be of a kind we know: the first pass over
    // the rows looks at each page as it reads it (the second knows the pages).
    TableReader::PageSeen check_page;
    // The span of the table's map inside the file, for the row map's room.
    std::uint32_t row_pages = 0, first_row_page = 0, last_row_page = 0;

    std::vector<std::size_t> lv_cols;  // the long-value columns, positions in d.columns
    // One per long-value column, planning at the same time, so they share the budget.
    std::vector<LongValuePacker> packers;
    std::vector<std::uint32_t> lv_first;  // first page of each column's run

    // The rows go densely, in their old order, right after the long values.
    std::uint32_t rows_start = 0;
    std::size_t max_row = 0;
    RowMap rows;
    // The index walks planned for the table, dropped on every way out before the map
    // they use goes.
    struct DropWalks {
        BackgroundIndexWalk* walker = nullptr;
        ~DropWalks() {
            if (walker && walker->planned()) walker->Abandon();
        }
    } drop_walks;
    std::optional<RowPageWriter> w;
    std::size_t ordinal = 0;
    std::vector<RowsSplit> splits;
    std::uint32_t split_page = kNoPage;  // source page of the last row placed
    std::size_t split_pages = 0;         // source pages with rows placed
    bool rows_placed = false;            // the plan's pass placed the rows

    // The header of column k's value when it is stored outside its row.
    std::optional<LongValueHeader> StoredOutside(const RowRef& r, const CrackedRow& cr,
                                                 std::size_t k) const {
        const FieldRef& f = cr.fields[lv_cols[k]];
        if (f.null || f.size < kLongValueHeaderSize) return std::nullopt;
        LongValueHeader h = ParseLongValueHeader(r.bytes.subspan(f.begin, f.size));
        if (h.kind == LongValueHeader::Kind::Inline) return std::nullopt;
        return h;
    }
};

void Repacker::StartRows(TableRepack& t) {
    t.rows = RowMap();
    t.splits.clear();
    t.split_page = kNoPage;
    t.split_pages = 0;
    if (t.row_pages) t.rows.Reserve(t.last_row_page - t.first_row_page + 1, t.row_pages);
    t.w.emplace(layout_, t.job.new_tdef(), t.next, t.sink);
}

bool Repacker::PlaceRow(TableRepack& t, const RowRef& r, Bytes bytes) {
    if (bytes.empty() || bytes.size() > t.max_row)
        ThrowFormat("row " + r.slot.ToString() + " has an impossible size");
    const RowAddr at = t.w->Place(bytes);
    if (r.slot.page != t.split_page) {
        t.split_page = r.slot.page;
        if (t.split_pages++ % kSplitPages == 0 && t.split_pages > 1)
            t.splits.push_back({r.slot.page, at});
    }
    t.rows.Add(r.slot, at);
    ++t.ordinal;
    Tick();
    return true;
}

// The table's indexes are read on the walker's thread while its rows are repacked
// here: their entries wait in its bounded queue, and their rows are looked up once the
// rows' map is complete (CopyIndexes). Walked only when the repack reached them, each
// index would begin with a wait for its first batch (for an index of fewer than 4,096
// entries, its whole walk) while the walker's thread stood idle.
void Repacker::PlanIndexWalks(TableRepack& t) {
    if (!walker_ || t.d.real_indexes.empty()) return;
    std::vector<std::uint32_t> roots, past_missing;
    for (std::size_t i = 0; i < t.d.real_indexes.size(); ++i) {
        roots.push_back(t.d.real_indexes[i].root);
        if (Drops(t.d.page, i)) past_missing.push_back(t.d.real_indexes[i].root);
    }
    walker_->Plan(std::move(roots), t.d.page, std::move(past_missing));
    t.drop_walks.walker = walker_;
}

// Long values: every column's rows are planned in one pass over the table's rows,
// then packed and written column after column (WriteLongValues), so each column's
// pages are one run. That pass also places the rows, as long as no value stored
// outside its row has turned up: when none does (narrow tables with memo columns, the
// common case), the columns take no pages, the rows are where they belong and the
// table is read once. At the first such value the rows placed so far are dropped
// (their page numbers are taken again, and written again, by the long values and the
// rows after them) and the rows are placed in a second pass (PlaceRows). Rows with Ids
// to rewrite always are.
void Repacker::PlanLongValues(TableRepack& t) {
    t.rows_placed = !t.lv_cols.empty() && t.job.id_columns.empty();
    if (t.lv_cols.empty()) return;
    // The plan's pass looks at the long-value columns alone (rows of tables without
    // them are not cracked at all).
    const RowCracker lv_cracker(t.d, src_.jet3(), t.lv_cols);
    std::uint64_t planned_rows = 0;  // rows the plan's pass went through
    // Long values are followed from the rows and mostly lie about them (a file written
    // in row order): a page read out of order brings its block along, so the plan
    // reads each block once instead of each page alone.
    struct BlockReads {
        PageFile& f;
        const bool before = f.block_reads();
        ~BlockReads() { f.set_block_reads(before); }
    } block_reads{src_};
    src_.set_block_reads(true);
    // Where the long-value maps list them, their pages are read as planned.
    t.reader.set_plan_long_values(true);
    CrackedRow cr;  // buffers kept from row to row
    t.reader.ForEachRow(
        [&](const RowRef& r) {
            ++rows_done_;
            ++planned_rows;
            // A row whose long-value columns are all null (a memo column left empty in
            // most rows, say) holds none to plan: its null mask tells, without cracking
            // it. Its structure is checked in the new file as every row's is.
            bool outside = false;
            if (!lv_cracker.AllNull(r.bytes)) {
                lv_cracker.Crack(r.bytes, cr);
                for (std::size_t k = 0; k < t.lv_cols.size(); ++k)
                    if (auto h = t.StoredOutside(r, cr, k)) {
                        t.packers[k].AddValue(src_, *h, t.limits);
                        outside = true;
                    }
            }
            if (t.rows_placed && outside) {
                t.rows_placed = false;
                pages_written_ -= t.w->pages().size();
                t.ordinal = 0;
                alloc_.Rewind(t.rows_start);
                StartRows(t);
            }
            if (t.rows_placed) return PlaceRow(t, r, r.bytes);
            Tick();
            return true;
        },
        t.check_page);
    t.reader.set_plan_long_values(false);
    // The rows' own pass is not needed: what it would have counted is done.
    if (t.rows_placed) rows_done_ += planned_rows;
}

// Each column's values packed and written as one run, and its maps, when the
// definition lists them; the free-space map lists the last page when it has room left.
void Repacker::WriteLongValues(TableRepack& t) {
    const TableDef& d = t.d;
    t.lv_first.assign(t.lv_cols.size(), 0);
    for (std::size_t k = 0; k < t.lv_cols.size(); ++k) {
        std::size_t ci = t.lv_cols[k];
        LongValuePacker& packer = t.packers[k];
        const std::uint32_t count = packer.Pack();
        assert(!t.rows_placed || count == 0);
        const std::uint32_t first = alloc_.TakeRun(count);
        t.lv_first[k] = first;
        packer.WritePages(src_, first, t.sink, &lv_rows_);
        spilled_ = spilled_ || packer.spilled();
        for (std::size_t e = 0; e < d.long_value_columns.size(); ++e) {
            if (d.long_value_columns[e].column != d.columns[ci].number) continue;
            if (t.job.lv_owned[e] != kNoMap)
                maps_.Map(t.job.lv_owned[e]).AddRange(first, first + count);
            if (t.job.lv_free[e] != kNoMap && count > 0 && packer.free_space().back() > 0)
                maps_.Map(t.job.lv_free[e]).AddPage(first + count - 1);
        }
    }
}

// The rows placed (unless the plan's pass did), each value stored outside its row
// pointed at its new place and each moved Id mapped; then the table's data-page maps.
void Repacker::PlaceRows(TableRepack& t) {
    TableJob& job = t.job;
    std::vector<std::size_t> lv_next(t.lv_cols.size(), 0);  // next handle per column
    std::vector<std::uint8_t> row;  // buffers kept from row to row
    CrackedRow cr;
    // A row with no long value or Id to patch goes over as it is, uncracked: the plan's
    // pass has cracked every row already, and found no value stored outside its row
    // when the packers hold none.
    std::size_t values_outside = 0;
    for (const LongValuePacker& packer : t.packers) values_outside += packer.value_count();
    const bool patched = values_outside > 0 || !job.id_columns.empty();
    if (!t.rows_placed) {
        // A value stored outside its row gets the next handle of its column's packer in
        // both passes over the rows, so nothing per row is kept in between.
        t.reader.ForEachRow(
            [&](const RowRef& r) {
                ++rows_done_;
                if (!patched) return PlaceRow(t, r, r.bytes);
                row.assign(r.bytes.begin(), r.bytes.end());
                t.cracker.Crack(r.bytes, cr);
                for (std::size_t k = 0; k < t.lv_cols.size(); ++k) {
                    if (!t.StoredOutside(r, cr, k)) continue;
                    if (lv_next[k]++ >= t.packers[k].value_count())
                        ThrowFormat("rows changed while reading");
                    const RowAddr a = t.packers[k].NextAddress(t.lv_first[k]);
                    PutRowPointer(row, cr.fields[t.lv_cols[k]].begin + kLongValuePointerAt, a.page,
                                  a.row);
                }
                for (std::size_t ci : job.id_columns) {
                    const FieldRef& f = cr.fields[ci];
                    if (f.null || f.size != 4) continue;
                    std::int32_t id = static_cast<std::int32_t>(U32(r.bytes, f.begin));
                    if (ids_.Moves(id))
                        PutU32(row, f.begin, static_cast<std::uint32_t>(ids_.Map(id)));
                }
                return PlaceRow(t, r, row);
            },
            t.check_page);
    }
    t.w->Flush();
    if (!t.splits.empty()) splits_[t.d.page] = std::move(t.splits);
    for (std::size_t k = 0; k < t.lv_cols.size(); ++k)
        if (lv_next[k] != t.packers[k].value_count()) ThrowFormat("rows changed while reading");
    job.live_rows = static_cast<std::uint32_t>(t.ordinal);
    if (job.owned_map != kNoMap)
        for (std::uint32_t p : t.w->pages()) maps_.Map(job.owned_map).AddPage(p);
    if (job.free_map != kNoMap && !t.w->pages().empty() && t.w->free_space().back() > 0)
        maps_.Map(job.free_map).AddPage(t.w->pages().back());
}

// Every index, rebuilt from its entries with the new row pointers.
void Repacker::CopyIndexes(TableRepack& t) {
    const TableDef& d = t.d;
    TableJob& job = t.job;
    if (walker_ && !d.real_indexes.empty()) walker_->UseRows(&t.rows);
    for (std::size_t i = 0; i < d.real_indexes.size(); ++i) {
        const RealIndex& ix = d.real_indexes[i];
        bool id_key = false;
        if (!ix.columns.empty())
            for (std::size_t ci : job.id_columns)
                if (d.columns[ci].number == ix.columns.front().column) id_key = true;
        std::uint32_t first = alloc_.page_count();
        IndexTreeBuilder tree(layout_, job.new_tdef(), first, t.sink);
        DroppedEntryFn dropped = [&](RowAddr row, Bytes key) {
            if (drops_->entry_dropped)
                drops_->entry_dropped({d.page, static_cast<std::uint32_t>(i)}, row, key);
        };
        CopyIndexEntries(src_, ix.root, d.page, t.rows, id_key ? &ids_ : nullptr, tree, walker_,
                         [this](std::size_t entries) {
                             rows_done_ += entries;
                             Report();
                         },
                         Drops(d.page, i) ? &dropped : nullptr);
        IndexTreeBuilder::Tree built = tree.Finish();
        std::uint32_t taken = alloc_.TakeRun(built.page_count);
        assert(taken == first);
        (void)taken;
        job.index_root.push_back(built.root);
        if (job.index_map[i] != kNoMap)
            maps_.Map(job.index_map[i]).AddRange(first, first + built.page_count);
    }
}

void Repacker::RepackTable(TableJob& job) {
    TableRepack t(*this, job);
    const TableDef& d = t.d;
    for (std::uint32_t p : ReadUsageMap(src_, d.owned_map, src_.page_count()).pages) {
        if (p >= src_.page_count()) break;
        if (t.row_pages++ == 0) t.first_row_page = p;
        t.last_row_page = p;
    }
    LostHomeRows lost_homes;
    t.check_page = [&](std::uint32_t p, const Page& page) {
        const std::uint8_t type = page.type();
        if (!IsKnownPageType(type))
            ThrowFormat("page " + std::to_string(p) + " of table '" + job.entry->name +
                        "' has an unknown page type (" + std::to_string(type) + ")");
        if (type != kPageData) return;
        if (!salvaged_ && PageOwner(page.bytes()) == d.page) lost_homes.See(p, page, src_.jet3());
        if (UnlistedRows other = ForeignRows(db_, d, p, page); !other.empty())
            throw std::runtime_error(other.Describe());  // the reason as it is
    };
    for (std::size_t i = 0; i < d.columns.size(); ++i)
        if (IsLongValueType(d.columns[i].type)) t.lv_cols.push_back(i);
    for (std::size_t k = 0; k < t.lv_cols.size(); ++k)
        t.packers.emplace_back(layout_, spill_.Share(t.lv_cols.size()));
    t.rows_start = alloc_.page_count();
    t.max_row = DataPageBuilder::MaxRowSize(layout_);
    PlanIndexWalks(t);
    StartRows(t);
    PlanLongValues(t);
    WriteLongValues(t);
    PlaceRows(t);
    // Fewer live rows than the definition counts: some may lie on a page that only an
    // index's or a long-value column's map lists, which the look before the work took
    // as accounted for. Only then are all such pages read (once).
    if (job.live_rows < d.row_count && !thorough_look_) {
        thorough_look_ = true;
        if (UnlistedRows unlisted = FindUnlistedRows(db_, true); !unlisted.empty())
            throw std::runtime_error(unlisted.Describe());  // the reason as it is
    }
    // Every page was seen by the first pass over the rows. Before the indexes: one
    // that names the row's home slot would be refused for pointing at no live row.
    if (lost_homes.Suspected()) {
        const auto listed = ReadUsageMap(src_, d.owned_map, src_.page_count()).pages;
        if (const LostHomeRows::Found found = LostHomeRows::Find(src_, d.page, listed); found.count)
            throw std::runtime_error(found.Describe(job.entry->name));
    }
    CopyIndexes(t);
}

void Repacker::WriteDefinition(const TableJob& job) {
    const TableDef& d = *job.def;
    TdefRewriter tr(src_, d);
    if (job.owned_map != kNoMap) tr.PutRowPointerAt(d.owned_map_at, maps_.Address(job.owned_map));
    if (job.free_map != kNoMap) tr.PutRowPointerAt(d.free_map_at, maps_.Address(job.free_map));
    if (d.row_count != job.live_rows) tr.PutU32At(d.row_count_at, job.live_rows);
    for (std::size_t i = 0; i < d.real_indexes.size(); ++i) {
        const RealIndex& ix = d.real_indexes[i];
        if (job.index_map[i] != kNoMap)
            tr.PutRowPointerAt(ix.map_at, maps_.Address(job.index_map[i]));
        tr.PutU32At(ix.root_at, job.index_root[i]);
    }
    for (const auto& li : d.logical_indexes) {
        auto it = tdef_moves_.find(li.related_table);
        if (li.related_table && it != tdef_moves_.end())
            tr.PutU32At(li.related_table_at, it->second);
    }
    for (std::size_t e = 0; e < d.long_value_columns.size(); ++e) {
        const auto& lv = d.long_value_columns[e];
        if (job.lv_owned[e] != kNoMap)
            tr.PutRowPointerAt(lv.owned_map_at, maps_.Address(job.lv_owned[e]));
        if (job.lv_free[e] != kNoMap)
            tr.PutRowPointerAt(lv.free_map_at, maps_.Address(job.lv_free[e]));
    }
    auto pages = tr.Finish(job.new_pages);
    for (std::size_t i = 0; i < pages.size(); ++i) Write(job.new_pages[i], pages[i]);
}

void Repacker::WriteGlobalMap() {
    jet::WriteGlobalMap(
        layout_, alloc_.page_count(), fillers_,
        [this](std::uint32_t n) { return alloc_.TakeRun(n); },
        [this](std::uint32_t page, std::vector<std::uint8_t> bytes) { Write(page, bytes); });
}

std::uint32_t Repacker::Run() {
    src_.set_cache_capacity(kSourceCachePages);
    stage_ = CompactProgress::Stage::Reading;
    Report();
    PlanTables();
    CollectStaleIds();
    PlanNumbers();
    stage_ = CompactProgress::Stage::Writing;
    Report();
    for (TableJob& job : jobs_) RepackTable(job);
    std::vector<std::uint8_t> zero(layout_.page_size, 0);
    for (std::uint32_t f : fillers_) Write(f, zero);
    maps_.Finish(
        [this](std::uint32_t n) { return alloc_.TakeRun(n); },
        [this](std::uint32_t page, std::vector<std::uint8_t> bytes) { Write(page, bytes); });
    for (const TableJob& job : jobs_) WriteDefinition(job);
    WriteGlobalMap();
    Page header = src_.Read(kHeaderPage);
    Write(kHeaderPage, header.bytes());
    // Done: the rows' count in the definitions, which the total was taken from, can
    // be stale.
    rows_total_ = rows_done_;
    Report();
    return alloc_.page_count();
}

CompactResult Fail(CompactResult r, std::string reason) {
    r.compacted = false;
    r.reason = std::move(reason);
    return r;
}

}  // namespace

CompactResult Compact(const std::filesystem::path& source, const std::filesystem::path& destination,
                      const CompactProgressFn& progress, const CompactOptions& options) {
    CompactResult result;
    std::error_code ec;
    if (!std::filesystem::exists(source, ec))
        return Fail(result, "the file '" + source.string() + "' does not exist");
    if (std::filesystem::is_directory(source, ec))
        return Fail(result, "'" + source.string() + "' is a directory, not a database file");
    if (std::filesystem::exists(destination, ec) &&
        std::filesystem::equivalent(source, destination, ec))
        return Fail(result, "the destination is the source file itself");
    if (std::filesystem::is_directory(destination, ec))
        return Fail(result, "the destination '" + destination.string() + "' is a directory");
    // Refused now, not after the work (minutes for a large file): the destination is
    // never replaced. Commit checks again for a name that appears meanwhile; a
    // dangling link counts as taken, as it does there.
    if (std::filesystem::exists(std::filesystem::symlink_status(destination, ec)))
        return Fail(result, "the destination '" + destination.string() + "' already exists");

    Status status;
    HeaderResult probe;
    std::unique_ptr<Database> db = Database::Open(source, &status, &probe, options.source_overlay);
    result.format = probe.header.format;
    result.bytes_before = probe.header.file_size;
    result.pages_before = probe.header.page_count;
    if (!db)
        return Fail(result,
                    status.reason.empty() ? "the database cannot be opened" : status.reason);
    if (db->header().format != Format::Jet3 && db->header().format != Format::Jet4)
        return Fail(result, "the file is not a Jet 3 or Jet 4 database");
    if (db->header().file_size % db->header().page_size != 0)
        return Fail(result, "the file ends inside a page (it is truncated or damaged)");
    // Rows on pages that no map lists would be left out of the new file, and its
    // verification, which reads the source the same way, would not miss them.
    if (UnlistedRows unlisted = FindUnlistedRows(*db); !unlisted.empty())
        return Fail(result, unlisted.Describe());

    // Temporary outputs and spill files of earlier runs in this directory that were
    // killed take room that this run may need, and nothing else ever removes them.
    RemoveDeadCompactionFiles(destination.parent_path(), OutputFile::RemoveLeftover);
    OutputFile out;
    std::string err;
    if (!out.Create(destination, db->header().page_size, &err)) return Fail(result, err);
    out.CopyPermissionsFrom(source);

    std::uint32_t pages = 0;
    IdMap ids;
    std::vector<std::uint32_t> fillers;
    VerifyOptions verify;
    try {
        SpillSettings spill;
        spill.memory_bytes = static_cast<std::size_t>(
            std::min<std::uint64_t>(options.memory_budget, std::numeric_limits<std::size_t>::max()));
        spill.name_base = out.temp_path();
        // Source indexes are walked on a second thread through a handle of its own
        // while this one builds the new trees; without the handle they are walked
        // here, to the same result.
        std::string walk_err;
        std::unique_ptr<PageFile> walk_file = PageFile::Open(source, &walk_err, options.source_overlay);
        std::optional<BackgroundIndexWalk> walker;
        if (walk_file) {
            walk_file->set_cache_capacity(kWalkCachePages);
            walker.emplace(*walk_file);
        }
        Repacker repacker(*db, out, progress, spill, walker ? &*walker : nullptr);
        repacker.set_salvaged(options.source_overlay != nullptr);
        repacker.set_drops(options);
        pages = repacker.Run();
        ids = repacker.ids();
        fillers = repacker.fillers();
        verify.splits = std::move(repacker.splits());
        verify.drop_entries_of_missing_rows = options.drop_entries_of_missing_rows;
        result.spilled = repacker.spilled();
    } catch (const FormatError& e) {
        return Fail(result, std::string("the database cannot be compacted: ") + e.what());
    } catch (const std::runtime_error& e) {
        return Fail(result, e.what());
    } catch (const std::bad_alloc&) {
        return Fail(result, "the database cannot be compacted: not enough memory");
    } catch (const std::exception& e) {
        return Fail(result, std::string("the database cannot be compacted: ") + e.what());
    }
    if (!out.Flush(&err)) return Fail(result, err);

    // Verified before it is named: a file that fails never appears. Its sync, started
    // by Flush, runs meanwhile; Commit waits for both.
    Status verified;
    try {
        // The verifier counts rows and pages read; the pages written stay as they are.
        CompactProgressFn verify_progress;
        if (progress)
            verify_progress = [&](const CompactProgress& p) {
                CompactProgress q = p;
                q.pages_written = pages;
                q.source_pages = result.pages_before;
                progress(q);
            };
        verified = VerifyCompacted(*db, source, out.temp_path(), ids, fillers, verify_progress,
                                   verify);
    } catch (const std::exception& e) {
        verified = Status::Fail(e.what());
    }
    if (!verified) return Fail(result, "the compacted file did not verify: " + verified.reason);
    if (!out.Commit(&err)) return Fail(result, err);
    result.compacted = true;
    result.pages_after = pages;
    result.bytes_after = std::uint64_t{pages} * db->header().page_size;
    return result;
}

}  // namespace jet
