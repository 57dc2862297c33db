#include "jet/compact/verify_compare.h"

#include <algorithm>
#include <cstring>

#include "jet/checker.h"
#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

[[noreturn]] void Fail(const std::string& why) {
    ThrowFormat(why);
}

// Whether the long values of fields `fa` (read through `a`) and `fb` (through `b`)
// hold the same bytes, compared a row of each at a time as they are read rather than
// gathered first: each row of b's value goes to `row_b` as it is read. Throws
// FormatError for a value that does not read (as far as the comparison goes).
template <class RowFn>
bool SameLongValue(TableReader& a, Bytes fa, TableReader& b, Bytes fb, const RowFn& row_b) {
    const LongValueHeader ha = ParseLongValueHeader(fa), hb = ParseLongValueHeader(fb);
    if (ha.kind == LongValueHeader::Kind::Inline || hb.kind == LongValueHeader::Kind::Inline) {
        const LongValue va = a.ReadLongValue(fa), vb = b.ReadLongValue(fb);
        for (const RowAddr& r : vb.rows) row_b(r);
        return va.data == vb.data;
    }
    LongValueRows ra(a.file(), ha, a.limits()), rb(b.file(), hb, b.limits());
    RowAddr at;
    Bytes row, da, db;
    bool more_a = true, more_b = true;
    for (;;) {
        while (da.empty() && more_a) more_a = ra.Next(&at, &row, &da);
        while (db.empty() && more_b)
            if ((more_b = rb.Next(&at, &row, &db))) row_b(at);
        if (da.empty() || db.empty()) return da.empty() && db.empty();
        const std::size_t n = std::min(da.size(), db.size());
        if (std::memcmp(da.data(), db.data(), n) != 0) return false;
        da = da.subspan(n);
        db = db.subspan(n);
    }
}

// One stretch of a table's rows compared (CompareRows), in its steps: the
// definitions, the room for the pairing, then row by row.
class RowsComparison {
  public:
    RowsComparison(const ComparedTable& table, const RowsStretch& stretch, bool first,
                   const IdMap& ids, CompareFiles& files, ClaimLog& claims, RowsCompared& result,
                   const ComparePace& pace)
        : table_(table),
          stretch_(stretch),
          first_(first),
          ids_(ids),
          f_(files),
          claims_(claims),
          result_(result),
          pace_(pace),
          jet3_(files.src.jet3()),
          lay_(DataPageLayout::For(jet3_)),
          lv_role_(table.name + " long values"),
          rows_role_(table.name + " rows") {}

    void Run();

  private:
    // A place among the new rows: a page's index in out_pages_, a row on it.
    struct Pos {
        std::size_t page = 0, row = 0;
        auto operator<=>(const Pos&) const = default;
    };

    // The columns alike in both definitions; notes those with Ids and long values.
    void CompareDefinitions();
    // The room the pairing takes, at once.
    void ReservePairing();
    Pos PosOf(RowAddr a) const {
        auto it = std::lower_bound(out_pages_.begin(), out_pages_.end(), a.page);
        const bool on = it != out_pages_.end() && *it == a.page;
        return Pos{static_cast<std::size_t>(it - out_pages_.begin()), on ? a.row : 0u};
    }
    // The rows on the page at index i of the new map.
    std::uint32_t RowsOn(std::size_t i);
    // A source row against the next row of the new file.
    void CompareRow(const RowRef& s);
    // The long value of field ci in source row s against the one in new row ob; the
    // pointer to it copied into `expect_` when the row is compared as patched.
    void CompareLongValue(const RowRef& s, Bytes ob, std::size_t ci, bool same);

    const ComparedTable& table_;
    const RowsStretch& stretch_;
    const bool first_;
    const IdMap& ids_;
    CompareFiles& f_;
    ClaimLog& claims_;
    RowsCompared& result_;
    const ComparePace& pace_;
    const bool jet3_;
    const DataPageLayout lay_;
    const std::string lv_role_, rows_role_;

    std::vector<std::size_t> id_cols_, lv_cols_;
    std::vector<std::uint32_t> out_pages_;
    Pos cur_, end_;
    std::optional<TableReader> sr_, orr_;
    std::optional<RowCracker> cracker_;
    bool cracks_ = false;
    std::vector<std::uint8_t> expect_;  // buffers kept from row to row
    CrackedRow sc_;
    Page held_;  // the new file's page of the row being compared, read once for all its rows
    std::size_t held_i_ = 0;
    std::uint32_t held_rows_ = 0;
    std::uint64_t uncounted_ = 0;  // rows compared since the pace was last told
};

void RowsComparison::CompareDefinitions() {
    const TableDef& sd = *table_.sd;
    const TableDef& od = *table_.od;
    const std::string& name = table_.name;
    if (sd.columns.size() != od.columns.size() ||
        sd.real_indexes.size() != od.real_indexes.size() ||
        sd.logical_indexes.size() != od.logical_indexes.size())
        Fail(name + " has a different definition");
    for (std::size_t i = 0; i < sd.columns.size(); ++i) {
        if (sd.columns[i].type != od.columns[i].type || sd.columns[i].name != od.columns[i].name)
            Fail(name + " has a different column " + sd.columns[i].name);
        if (IsIdColumn(table_.source_name, sd.columns[i].name) && sd.columns[i].type == kColLong)
            id_cols_.push_back(i);
        if (IsLongValueType(sd.columns[i].type)) lv_cols_.push_back(i);
    }
}

// Its entries taken at once for the stretch of source page numbers (up to the last
// its map lists there) rather than regrown, each time in fresh memory, as its rows
// come. The first stretch's is the whole table's: its map becomes the table's when
// the stretches are joined (RowMap::Append takes it over), so each later one is then
// copied into room made once, instead of the table's map regrowing in fresh memory
// while both workers wait on the lock that joining holds. A bad map is left for the
// rows' pass to report.
void RowsComparison::ReservePairing() {
    std::vector<std::uint32_t> listed;
    try {
        listed = ReadUsageMap(f_.src, table_.sd->owned_map, f_.src.page_count()).pages;
    } catch (const FormatError&) {
    }
    const auto from = std::lower_bound(listed.begin(), listed.end(), stretch_.first_page);
    const auto to = first_ ? listed.end() : std::lower_bound(from, listed.end(), stretch_.end_page);
    if (from != to) result_.pairing.Reserve(*(to - 1) - *from + 1, 0);
}

// Each data page's free-space field is checked as the page comes in, not in a pass
// of its own: a table's pages are then read once (the page where two stretches meet,
// twice).
std::uint32_t RowsComparison::RowsOn(std::size_t i) {
    if (held_i_ != i) {
        held_ = f_.out.Read(out_pages_[i]);
        held_i_ = i;
        held_rows_ = 0;
        if (held_.type() != kPageData || PageOwner(held_.bytes()) != table_.od->page) {
            result_.foreign = true;
            return 0;
        }
        DataPageInfo info = ReadDataPage(held_.bytes(), jet3_);
        if (!info.slots_valid ||
            info.free_space != ComputedFreeSpace(info, f_.out.page_size(), jet3_))
            Fail(table_.name + ": data page " + std::to_string(out_pages_[i]) +
                 " has a wrong free-space field");
        held_rows_ = U16(held_.bytes(), lay_.row_count);
        claims_.Add(out_pages_[i], rows_role_);
    }
    return held_rows_;
}

void RowsComparison::CompareLongValue(const RowRef& s, Bytes ob, std::size_t ci, bool same) {
    const FieldRef& fr = sc_.fields[ci];
    if (fr.null || fr.size < kLongValueHeaderSize) return;
    Bytes sf = s.bytes.subspan(fr.begin, fr.size);
    if (ParseLongValueHeader(sf).kind == LongValueHeader::Kind::Inline) return;
    // Only the pointer to the long value may differ; its data must not.
    const std::size_t at = fr.begin + kLongValuePointerAt;
    if (!same) std::copy(ob.begin() + at, ob.begin() + at + kRowPointerSize, expect_.begin() + at);
    auto seen = [&](RowAddr a) {
        if (result_.lv_seen.Contains(a.page)) return;
        result_.lv_seen.Insert(a.page);  // read as a long-value page just now
        claims_.Add(a.page, lv_role_);
    };
    const bool equal = SameLongValue(*sr_, sf, *orr_, ob.subspan(fr.begin, fr.size), seen);
    if (!equal) Fail(table_.name + " row " + s.slot.ToString() + " has a different long value");
}

void RowsComparison::CompareRow(const RowRef& s) {
    const std::string& name = table_.name;
    // Next row of the new file (every slot there must be a live row).
    for (;; ++cur_.page, cur_.row = 0) {
        if (!(cur_ < end_)) Fail(name + " lost rows");
        if (cur_.row < RowsOn(cur_.page)) break;
    }
    const Page& pg = held_;
    RowAddr oaddr{out_pages_[cur_.page], static_cast<std::uint8_t>(cur_.row)};
    std::uint16_t raw = U16(pg.bytes(), lay_.row_table + kRowSlotSize * cur_.row);
    if (raw & (kRowDeleted | kRowOverflow))
        Fail(name + " has a deleted or overflow row at " + oaddr.ToString());
    Bytes ob = RowBytes(pg.bytes(), jet3_, static_cast<unsigned>(cur_.row));
    ++cur_.row;
    if (s.bytes.size() != ob.size()) Fail(name + " row " + s.slot.ToString() + " changed size");
    // Most rows read byte for byte the same; then each long value stored outside must
    // still read the same wherever it now lies. A row that differs, and every row
    // with Ids (a few system tables), is compared with the source row as the repack
    // patches it.
    const bool same = id_cols_.empty() && std::equal(s.bytes.begin(), s.bytes.end(), ob.begin());
    // A row whose long-value columns are all null has none to compare (and no Ids, or
    // it is cracked for them): its null mask tells, without cracking it.
    const bool cracked = cracks_ && (!id_cols_.empty() || !cracker_->AllNull(s.bytes));
    if (cracked) cracker_->Crack(s.bytes, sc_);
    if (!same) expect_.assign(s.bytes.begin(), s.bytes.end());
    for (std::size_t ci : id_cols_) {
        const FieldRef& fr = sc_.fields[ci];
        if (fr.null || fr.size != 4) continue;
        const auto v =
            static_cast<std::uint32_t>(ids_.Map(static_cast<std::int32_t>(U32(s.bytes, fr.begin))));
        for (int b = 0; b < 4; ++b) expect_[fr.begin + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    if (cracked)
        for (std::size_t ci : lv_cols_) CompareLongValue(s, ob, ci, same);
    if (!same && !std::equal(expect_.begin(), expect_.end(), ob.begin()))
        Fail(name + " row " + s.slot.ToString() + " reads differently");
    result_.pairing.Add(s.slot, oaddr);
    ++result_.count;
    if (++uncounted_ == 1024) {
        const std::uint64_t n = uncounted_;
        uncounted_ = 0;
        pace_(n, false);
    }
}

void RowsComparison::Run() {
    const TableDef& sd = *table_.sd;
    const TableDef& od = *table_.od;
    if (first_)
        for (std::uint32_t p : od.pages) claims_.Add(p, table_.name + " definition");
    CompareDefinitions();

    // Long values mostly lie about the rows that hold them (a file written in row
    // order): a source page read out of order brings its block along, as when the
    // repack planned them, and back as it was after the stretch.
    struct BlockReads {
        PageFile& file;
        const bool before = file.block_reads();
        ~BlockReads() { file.set_block_reads(before); }
    } block_reads{f_.src};
    if (!lv_cols_.empty()) f_.src.set_block_reads(true);

    // Rows: the k-th live row of the source against the k-th row of the new file,
    // within this stretch of both.
    sr_.emplace(f_.src, sd);
    sr_->set_plan_long_values(!lv_cols_.empty());
    orr_.emplace(f_.out, od);
    // The new table's map lists its data pages in order; a listed page that holds
    // none of its rows is passed over here and refused with the maps.
    out_pages_ = ReadUsageMap(f_.out, od.owned_map, f_.out.page_count()).pages;
    cur_ = PosOf(stretch_.start);
    end_ = stretch_.end ? PosOf(*stretch_.end) : Pos{out_pages_.size(), 0};
    ReservePairing();
    // Per page of the new file: a long value of this table was read from it (so it
    // is a long-value page, and claimed as one already).
    if (!lv_cols_.empty()) result_.lv_seen = PageSet(f_.out.page_count());
    // Only Ids and long values need the row's columns (the repack checked the source
    // rows' structure); other rows compare whole.
    std::vector<std::size_t> wanted = id_cols_;
    wanted.insert(wanted.end(), lv_cols_.begin(), lv_cols_.end());
    std::sort(wanted.begin(), wanted.end());
    cracker_.emplace(sd, jet3_, wanted);
    cracks_ = !wanted.empty();
    held_i_ = out_pages_.size();
    sr_->ForEachRowIn(stretch_.first_page, stretch_.end_page, [&](const RowRef& s) {
        CompareRow(s);
        return true;
    });
    pace_(uncounted_, true);
    for (; cur_ < end_; ++cur_.page, cur_.row = 0)
        if (cur_.row < RowsOn(cur_.page)) Fail(table_.name + " gained rows");
}

// The source's entries of an index, but those whose row the pairing does not hold,
// in order, each with the new row it pairs with. Taken a batch at a time, so that
// their lookups overlap (RowMap::FindMany).
class PairedEntries {
  public:
    PairedEntries(PageFile& file, std::uint32_t root, const RowMap& pairing)
        : cursor_(file, root), pairing_(pairing) {}
    // The next such entry's key (valid until the next call) and new row; false after
    // the last.
    bool Next(Bytes& key, RowAddr& row) {
        for (;;) {
            if (at_ == rows_.size() && !Fill()) return false;
            const std::size_t i = at_++;
            if (gone_ < missing_.size() && missing_[gone_] == i) {
                ++gone_;
                continue;
            }
            const std::size_t begin = i ? ends_[i - 1] : 0;
            key = Bytes(keys_).subspan(begin, ends_[i] - begin);
            row = rows_[i];
            return true;
        }
    }

  private:
    static constexpr std::size_t kBatch = 256;  // a few KB: fits the cache beside the pages
    bool Fill() {
        keys_.clear();
        ends_.clear();
        rows_.clear();
        missing_.clear();
        at_ = gone_ = 0;
        for (const IndexEntry* e; rows_.size() < kBatch && (e = cursor_.Next());) {
            keys_.insert(keys_.end(), e->bytes.begin(), e->bytes.begin() + static_cast<std::ptrdiff_t>(e->key_size));
            ends_.push_back(keys_.size());
            rows_.push_back(e->row);
        }
        // FindMany stops at a row the pairing does not hold: it goes on after it.
        for (std::size_t at = 0; at < rows_.size();) {
            at += pairing_.FindMany(std::span(rows_).subspan(at), std::span(rows_).subspan(at));
            if (at < rows_.size()) missing_.push_back(at++);
        }
        return !rows_.empty();
    }
    LeafCursor cursor_;
    const RowMap& pairing_;
    std::vector<std::uint8_t> keys_;
    std::vector<std::size_t> ends_;
    std::vector<RowAddr> rows_;        // new rows, but at the places `missing_` lists
    std::vector<std::size_t> missing_;  // ascending
    std::size_t at_ = 0, gone_ = 0;     // next in rows_, next in missing_
};

}  // namespace

void ClaimLog::Add(std::uint32_t page, const std::string& role) {
    if (roles_.empty() || roles_[last_role_] != role) {
        auto it = std::find(roles_.begin(), roles_.end(), role);
        last_role_ = static_cast<std::size_t>(it - roles_.begin());
        if (it == roles_.end()) roles_.push_back(role);
    }
    const auto role_at = static_cast<std::uint16_t>(last_role_);
    if (!claims_.empty() && claims_.back().page == page && claims_.back().role == role_at) return;
    claims_.push_back({page, role_at});
}

std::uint16_t PageRoles::RoleId(const std::string& role) {
    auto [it, inserted] = role_ids_.emplace(role, static_cast<std::uint16_t>(role_names_.size()));
    if (inserted) {
        if (role_names_.size() == 0xFFFF) Fail("the file has too many structures to verify");
        role_names_.push_back(role);
    }
    return it->second;
}

void PageRoles::Claim(std::uint32_t page, const std::string& role) {
    if (page >= out_.page_count())
        Fail(role + " lies past the end of the file (page " + std::to_string(page) + ")");
    if (roles_.empty()) roles_.assign(out_.page_count(), 0);
    std::uint16_t& have = roles_[page];
    if (have != 0 && role_names_[have] == role) return;
    std::uint16_t id = RoleId(role);
    if (have != 0 && have != id)
        Fail("page " + std::to_string(page) + " is both " + role_names_[have] + " and " + role);
    have = id;
}

void PageRoles::CheckGlobalMap(const std::set<std::uint32_t>& fillers) {
    const std::uint32_t n = out_.page_count();
    Claim(kHeaderPage, "the header");
    Claim(kGlobalMapPage, "the global usage map");
    UsageMap g = ReadUsageMap(out_, RowAddr{kGlobalMapPage, 0}, n);
    for (std::uint32_t p : g.bitmap_pages)
        if (p) Claim(p, "global usage map pages");
    std::vector<bool> free(n, false);
    for (std::uint32_t p : g.pages)
        if (p < n) free[p] = true;
    for (std::uint32_t p = 0; p < n; ++p) {
        bool used = roles_[p] != 0;
        if (used && free[p])
            Fail("the global usage map marks page " + std::to_string(p) + " (" +
                 role_names_[roles_[p]] + ") free");
        if (!used && !fillers.count(p))
            Fail("page " + std::to_string(p) + " of the compacted file has no role");
        if (fillers.count(p) && !free[p])
            Fail("spare page " + std::to_string(p) + " is not marked free");
    }
}

void CompareCatalog(Database& src, Database& out, const IdMap& ids) {
    if (src.header().format != out.header().format) Fail("the format changed");
    {
        const Page a = src.file().Read(kHeaderPage);
        const Page b = out.file().Read(kHeaderPage);
        if (!std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin(), b.bytes().end()))
            Fail("the header page changed");
    }
    const auto& a = src.catalog();
    const auto& b = out.catalog();
    if (a.size() != b.size())
        Fail("the catalog lists " + std::to_string(b.size()) + " objects instead of " +
             std::to_string(a.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].flags != b[i].flags)
            Fail("catalog object '" + a[i].name + "' changed");
        if (b[i].id != ids.Map(a[i].id) || b[i].parent_id != ids.Map(a[i].parent_id))
            Fail("catalog object '" + a[i].name + "' has a wrong Id");
    }
    // Table Ids stay distinct, and each names a table definition.
    std::set<std::int32_t> seen;
    for (const auto& e : b) {
        if (!seen.insert(e.id).second) Fail("two catalog objects share Id " + std::to_string(e.id));
        if (e.is_table() && out.file().Read(e.tdef_page()).type() != kPageTdef)
            Fail("table '" + e.name + "' has an Id that is not a table definition page");
    }
}

std::vector<ComparedTable> PairTables(Database& src, Database& out) {
    auto st = src.Tables(true);
    auto ot = out.Tables(true);
    if (st.size() != ot.size()) Fail("the number of tables changed");
    std::vector<ComparedTable> tables(st.size());
    for (std::size_t i = 0; i < st.size(); ++i) {
        if (st[i]->name != ot[i]->name) Fail("table '" + st[i]->name + "' is missing");
        ComparedTable& t = tables[i];
        t.source_name = st[i]->name;
        t.name = "table '" + st[i]->name + "'";
        t.sd = &src.Definition(st[i]->tdef_page());
        t.od = &out.Definition(ot[i]->tdef_page());
    }
    return tables;
}

void CompareRows(const ComparedTable& table, const RowsStretch& stretch, bool first,
                 const IdMap& ids, CompareFiles& files, ClaimLog& claims, RowsCompared& result,
                 const ComparePace& pace) {
    RowsComparison(table, stretch, first, ids, files, claims, result, pace).Run();
}

void CompareRowCount(const ComparedTable& table, std::uint64_t count) {
    if (table.od->row_count != count)
        Fail(table.name + " holds " + std::to_string(count) + " rows but its definition says " +
             std::to_string(table.od->row_count));
}

void CompareIndex(const ComparedTable& table, std::size_t i, const RowMap& pairing,
                  const IdMap& ids, CheckInParts* check, std::optional<std::size_t> along,
                  CompareFiles& f, ClaimLog& claims, const ComparePace& pace,
                  bool missing_rows_dropped) {
    const TableDef& sd = *table.sd;
    const TableDef& od = *table.od;
    const RealIndex& si = sd.real_indexes[i];
    const RealIndex& oi = od.real_indexes[i];
    // Indexes: same keys in the same order, each pointing at the row it pointed at.
    bool id_key = false;
    if (!si.columns.empty())
        for (const Column& c : sd.columns)
            if (c.number == si.columns.front().column && c.type == kColLong &&
                IsIdColumn(table.source_name, c.name))
                id_key = true;
    const std::string iname = table.name + " index " + std::to_string(i);
    // The new tree walked in order against the source's leaf level, entry by entry:
    // memory stays bounded by the trees' depth. Without the entries of rows that are
    // gone, when the compaction left those out.
    std::optional<LeafCursor> source_entries;
    std::optional<PairedEntries> paired;
    if (missing_rows_dropped)
        paired.emplace(f.src, si.root, pairing);
    else
        source_entries.emplace(f.src, si.root);
    std::size_t k = 0;
    std::vector<std::uint8_t> mapped;  // a source key with its Id mapped
    // The entries' rows are looked up a batch at a time (RowMap::FindMany overlaps the
    // lookups' cache misses); a batch is settled before any later fault is reported,
    // so the first wrong entry is still the one named.
    constexpr std::size_t kBatch = 256;  // a few KB: fits the cache beside the pages
    std::vector<RowAddr> olds, news, found(kBatch);
    olds.reserve(kBatch);
    news.reserve(kBatch);
    auto settle = [&] {
        const std::size_t n = pairing.FindMany(olds, found);
        for (std::size_t i = 0; i < olds.size(); ++i)
            if (i >= n || found[i] != news[i])
                Fail(iname + " entry " + std::to_string(k - olds.size() + i) +
                     " points at the wrong row");
        olds.clear();
        news.clear();
    };
    // A leaf page of the new tree at a time: one call per page, not per entry.
    const LeafPageVisitor compare = [&](std::span<const IndexEntry> entries, std::uint32_t) {
        for (const IndexEntry& b : entries) {
            const IndexEntry* a = nullptr;
            Bytes key;
            RowAddr paired_row;
            if (paired ? !paired->Next(key, paired_row) : !(a = source_entries->Next())) {
                settle();
                Fail(iname + " holds more entries than the source");
            }
            if (a) key = Bytes(a->bytes).first(a->key_size);
            if (id_key) {
                mapped.assign(key.begin(), key.end());
                MapLeadingIdKey(mapped, ids);
                key = mapped;
            }
            if (b.key_size != key.size() || !std::equal(key.begin(), key.end(), b.bytes.begin())) {
                settle();
                Fail(iname + " entry " + std::to_string(k) + " has a different key");
            }
            if (paired) {
                if (paired_row != b.row)
                    Fail(iname + " entry " + std::to_string(k) + " points at the wrong row");
                if (++k % 4096 == 0) pace(0, false);
                continue;
            }
            olds.push_back(a->row);
            news.push_back(b.row);
            ++k;
            if (olds.size() == kBatch) settle();
            if (k % 4096 == 0) pace(0, false);
        }
    };
    IndexWalk ow;
    if (along)
        check->IndexAlong(*along, f.out, compare, ow);
    else
        ow = WalkIndex(f.out, oi.root, od.page, compare);
    settle();
    if (!ow.problems.empty()) Fail(iname + ": " + ow.problems.front().text);
    Bytes rest;
    RowAddr rest_row;
    if (paired ? paired->Next(rest, rest_row) : source_entries->Next() != nullptr)
        Fail(iname + " holds " + std::to_string(k) + " entries, fewer than the source");
    for (std::uint32_t p : ow.pages) claims.Add(p, iname);
    if (!oi.map.null()) {
        UsageMap m = ReadUsageMap(f.out, oi.map, f.out.page_count());
        std::vector<std::uint32_t> walked = ow.pages;
        std::sort(walked.begin(), walked.end());
        if (m.pages != walked) Fail(iname + ": its usage map does not list exactly its pages");
    }
}

void CheckMaps(const ComparedTable& table, PageFile& f, bool foreign, const PageSet& lv_seen,
               ClaimLog& claims) {
    const std::string& name = table.name;
    const TableDef& od = *table.od;
    const std::uint32_t n = f.page_count();
    auto claim_map = [&](const UsageMap& m, RowAddr where) {
        claims.Add(where.page, "usage maps");
        for (std::uint32_t p : m.bitmap_pages)
            if (p) claims.Add(p, "usage map pages");
    };
    // A free-space map (if any) lists only pages of the map it belongs to.
    auto check_free_map = [&](RowAddr where, const UsageMap& of, const char* fault) {
        if (where.null()) return;
        UsageMap fm = ReadUsageMap(f, where, n);
        claim_map(fm, where);
        for (std::uint32_t p : fm.pages)
            if (!of.Contains(p)) Fail(name + fault);
    };
    if (!od.owned_map.null()) {
        UsageMap owned = ReadUsageMap(f, od.owned_map, n);
        claim_map(owned, od.owned_map);
        if (foreign) Fail(name + ": its usage map does not list exactly its data pages");
        check_free_map(od.free_map, owned, ": its free-space map lists a page it does not own");
    }
    for (const auto& lv : od.long_value_columns) {
        if (lv.owned_map.null()) continue;
        UsageMap m = ReadUsageMap(f, lv.owned_map, n);
        claim_map(m, lv.owned_map);
        for (std::uint32_t p : m.pages) {
            // A page a value was read from is a long-value page (reading it checked
            // that); only the others are read for it here.
            if (p >= n || !lv_seen.Contains(p)) {
                Page pg = f.Read(p);
                if (pg.type() != kPageData || PageOwner(pg.bytes()) != kLvalOwner)
                    Fail(name + ": a long-value map lists page " + std::to_string(p) +
                         ", which holds no long values");
            }
            claims.Add(p, name + " long values");
        }
        check_free_map(lv.free_map, m,
                       ": a long-value free-space map lists a page its map does not");
    }
    for (const auto& ix : od.real_indexes) {
        if (ix.map.null()) continue;
        claim_map(ReadUsageMap(f, ix.map, n), ix.map);
    }
}

}  // namespace jet
