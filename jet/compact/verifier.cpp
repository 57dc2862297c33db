#include "jet/compact/verifier.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "jet/checker.h"
#include "jet/compact/layout_planner.h"
#include "jet/compact/long_value_packer.h"
#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// Pages of the new file kept cached while it is verified: more than a group of a
// column's long-value pages (LongValuePacker::kGroupPages), among which the rows in
// order jump about, with the data pages read meanwhile. 24 MB of Jet 4 pages.
constexpr std::size_t kVerifyCachePages = LongValuePacker::kGroupPages + 2048;

class Verifier {
  public:
    Verifier(Database& src, Database& out, const IdMap& ids,
             const std::vector<std::uint32_t>& fillers, const CompactProgressFn& progress)
        : src_(src),
          out_(out),
          ids_(ids),
          fillers_(fillers.begin(), fillers.end()),
          progress_(progress) {}

    void Run();

  private:
    void Fail(const std::string& why) { ThrowFormat(why); }
    void Report() const {
        if (progress_)
            progress_({CompactProgress::Stage::Verifying, rows_done_, rows_total_,
                       src_.file().pages_read() + out_.file().pages_read()});
    }
    void Claim(std::uint32_t page, const std::string& role);
    void CompareCatalog();
    void CompareTable(const CatalogEntry& se, const CatalogEntry& oe);
    void CheckMaps(const std::string& name, const TableDef& od, TableReader& reader);
    void CheckGlobalMap();

    Database& src_;
    Database& out_;
    const IdMap& ids_;
    std::set<std::uint32_t> fillers_;
    const CompactProgressFn& progress_;
    std::uint16_t RoleId(const std::string& role);
    // Every page of the new file with its role: an index into role_names_, 0 = none.
    std::vector<std::uint16_t> roles_;
    std::vector<std::string> role_names_{""};
    // Per page of the new file: a long value was read from it (so it is a long-value page).
    std::vector<bool> lv_pages_seen_;
    std::map<std::string, std::uint16_t> role_ids_;
    std::uint64_t rows_done_ = 0, rows_total_ = 0;
};

std::uint16_t Verifier::RoleId(const std::string& role) {
    auto [it, inserted] = role_ids_.emplace(role, static_cast<std::uint16_t>(role_names_.size()));
    if (inserted) {
        if (role_names_.size() == 0xFFFF) Fail("the file has too many structures to verify");
        role_names_.push_back(role);
    }
    return it->second;
}

void Verifier::Claim(std::uint32_t page, const std::string& role) {
    if (page >= out_.file().page_count())
        Fail(role + " lies past the end of the file (page " + std::to_string(page) + ")");
    if (roles_.empty()) roles_.assign(out_.file().page_count(), 0);
    std::uint16_t& have = roles_[page];
    if (have != 0 && role_names_[have] == role) return;
    std::uint16_t id = RoleId(role);
    if (have != 0 && have != id)
        Fail("page " + std::to_string(page) + " is both " + role_names_[have] + " and " + role);
    have = id;
}

void Verifier::CompareCatalog() {
    const auto& a = src_.catalog();
    const auto& b = out_.catalog();
    if (a.size() != b.size())
        Fail("the catalog lists " + std::to_string(b.size()) + " objects instead of " +
             std::to_string(a.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].flags != b[i].flags)
            Fail("catalog object '" + a[i].name + "' changed");
        if (b[i].id != ids_.Map(a[i].id) || b[i].parent_id != ids_.Map(a[i].parent_id))
            Fail("catalog object '" + a[i].name + "' has a wrong Id");
    }
    // Table Ids stay distinct, and each names a table definition.
    std::set<std::int32_t> seen;
    for (const auto& e : b) {
        if (!seen.insert(e.id).second) Fail("two catalog objects share Id " + std::to_string(e.id));
        if (e.is_table() && out_.file().Read(e.tdef_page()).type() != kPageTdef)
            Fail("table '" + e.name + "' has an Id that is not a table definition page");
    }
}

void Verifier::CompareTable(const CatalogEntry& se, const CatalogEntry& oe) {
    const bool jet3 = src_.jet3();
    const TableDef& sd = src_.Definition(se.tdef_page());
    const TableDef& od = out_.Definition(oe.tdef_page());
    const std::string name = "table '" + se.name + "'";
    const std::string lv_role = name + " long values";
    for (std::uint32_t p : od.pages) Claim(p, name + " definition");
    if (sd.columns.size() != od.columns.size() ||
        sd.real_indexes.size() != od.real_indexes.size() ||
        sd.logical_indexes.size() != od.logical_indexes.size())
        Fail(name + " has a different definition");
    std::vector<std::size_t> id_cols, lv_cols;
    for (std::size_t i = 0; i < sd.columns.size(); ++i) {
        if (sd.columns[i].type != od.columns[i].type || sd.columns[i].name != od.columns[i].name)
            Fail(name + " has a different column " + sd.columns[i].name);
        if (IsIdColumn(se.name, sd.columns[i].name) && sd.columns[i].type == kColLong)
            id_cols.push_back(i);
        if (IsLongValueType(sd.columns[i].type)) lv_cols.push_back(i);
    }

    // Rows: the k-th live row of the source against the k-th row of the new file.
    TableReader sr(src_.file(), sd);
    TableReader orr(out_.file(), od);
    const auto& out_pages = orr.DataPages();
    auto lay = DataPageLayout::For(jet3);
    std::size_t page_i = 0, row_i = 0;
    RowMap pairing;  // source slot -> new slot
    std::uint32_t count = 0;
    std::vector<std::uint8_t> expect;  // buffers kept from row to row
    CrackedRow sc;
    // Only Ids and long values need the row's columns (the repack checked the source
    // rows' structure); other rows compare whole.
    std::vector<std::size_t> wanted = id_cols;
    wanted.insert(wanted.end(), lv_cols.begin(), lv_cols.end());
    std::sort(wanted.begin(), wanted.end());
    const RowCracker cracker(sd, jet3, wanted);
    const bool cracks = !wanted.empty();
    Page held;  // the new file's page of the row being compared, read once for all its rows
    std::size_t held_i = out_pages.size();
    // Each data page's free-space field is checked as the page comes in, not in a
    // pass of its own: a table's pages are then read once.
    auto out_page = [&](std::size_t i) -> const Page& {
        if (held_i != i) {
            held = out_.file().Read(out_pages[i]);
            held_i = i;
            DataPageInfo info = ReadDataPage(held.bytes(), jet3);
            if (!info.slots_valid ||
                info.free_space != ComputedFreeSpace(info, out_.file().page_size(), jet3))
                Fail(name + ": data page " + std::to_string(out_pages[i]) +
                     " has a wrong free-space field");
        }
        return held;
    };
    sr.ForEachRow([&](const RowRef& s) {
        // Next row of the new file (every slot there must be a live row).
        while (page_i < out_pages.size()) {
            if (row_i < U16(out_page(page_i).bytes(), lay.row_count)) break;
            ++page_i;
            row_i = 0;
        }
        if (page_i >= out_pages.size()) Fail(name + " lost rows");
        const Page& pg = out_page(page_i);
        RowAddr oaddr{out_pages[page_i], static_cast<std::uint8_t>(row_i)};
        std::uint16_t raw = U16(pg.bytes(), lay.row_table + kRowSlotSize * row_i);
        if (raw & (kRowDeleted | kRowOverflow))
            Fail(name + " has a deleted or overflow row at " + oaddr.ToString());
        Bytes ob = RowBytes(pg.bytes(), jet3, static_cast<unsigned>(row_i));
        ++row_i;
        if (s.bytes.size() != ob.size()) Fail(name + " row " + s.slot.ToString() + " changed size");
        // Most rows read byte for byte the same; then each long value stored outside
        // must still read the same wherever it now lies. A row that differs, and
        // every row with Ids (a few system tables), is compared with the source row
        // as the repack patches it.
        const bool same =
            id_cols.empty() && std::equal(s.bytes.begin(), s.bytes.end(), ob.begin());
        if (cracks) cracker.Crack(s.bytes, sc);
        if (!same) expect.assign(s.bytes.begin(), s.bytes.end());
        for (std::size_t ci : id_cols) {
            const FieldRef& f = sc.fields[ci];
            if (f.null || f.size != 4) continue;
            const auto v = static_cast<std::uint32_t>(
                ids_.Map(static_cast<std::int32_t>(U32(s.bytes, f.begin))));
            for (int b = 0; b < 4; ++b) expect[f.begin + b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
        for (std::size_t ci : lv_cols) {
            const FieldRef& f = sc.fields[ci];
            if (f.null || f.size < kLongValueHeaderSize) continue;
            Bytes sf = s.bytes.subspan(f.begin, f.size);
            if (ParseLongValueHeader(sf).kind == LongValueHeader::Kind::Inline) continue;
            // Only the pointer to the long value may differ; its data must not.
            const std::size_t at = f.begin + kLongValuePointerAt;
            if (!same)
                std::copy(ob.begin() + at, ob.begin() + at + kRowPointerSize, expect.begin() + at);
            LongValue sv = sr.ReadLongValue(sf);
            LongValue ov = orr.ReadLongValue(ob.subspan(f.begin, f.size));
            if (sv.data != ov.data)
                Fail(name + " row " + s.slot.ToString() + " has a different long value");
            for (const RowAddr& a : ov.rows) {
                Claim(a.page, lv_role);
                lv_pages_seen_[a.page] = true;  // read as a long-value page just now
            }
        }
        if (!same && !std::equal(expect.begin(), expect.end(), ob.begin()))
            Fail(name + " row " + s.slot.ToString() + " reads differently");
        pairing.Add(s.slot, oaddr);
        ++count;
        if (++rows_done_ % 1024 == 0) Report();
        return true;
    });
    while (page_i < out_pages.size()) {
        if (row_i < U16(out_page(page_i).bytes(), lay.row_count)) Fail(name + " gained rows");
        ++page_i;
        row_i = 0;
    }
    if (od.row_count != count)
        Fail(name + " holds " + std::to_string(count) + " rows but its definition says " +
             std::to_string(od.row_count));
    for (std::uint32_t p : out_pages) Claim(p, name + " rows");

    // Indexes: same keys in the same order, each pointing at the row it pointed at.
    for (std::size_t i = 0; i < sd.real_indexes.size(); ++i) {
        const RealIndex& si = sd.real_indexes[i];
        const RealIndex& oi = od.real_indexes[i];
        bool id_key = false;
        if (!si.columns.empty())
            for (std::size_t ci : id_cols)
                if (sd.columns[ci].number == si.columns.front().column) id_key = true;
        std::string iname = name + " index " + std::to_string(i);
        // The new tree walked in order against the source's leaf level, entry by entry:
        // memory stays bounded by the trees' depth.
        LeafCursor source_entries(src_.file(), si.root);
        std::size_t k = 0;
        std::vector<std::uint8_t> mapped;  // a source key with its Id mapped
        auto compare = [&](const IndexEntry& b, std::uint32_t) {
            const IndexEntry* a = source_entries.Next();
            if (!a) Fail(iname + " holds more entries than the source");
            Bytes key = Bytes(a->bytes).first(a->key_size);
            if (id_key) {
                mapped.assign(key.begin(), key.end());
                MapLeadingIdKey(mapped, ids_);
                key = mapped;
            }
            if (b.key_size != key.size() || !std::equal(key.begin(), key.end(), b.bytes.begin()))
                Fail(iname + " entry " + std::to_string(k) + " has a different key");
            std::optional<RowAddr> paired = pairing.Find(a->row);
            if (!paired || *paired != b.row)
                Fail(iname + " entry " + std::to_string(k) + " points at the wrong row");
            ++k;
        };
        IndexWalk ow = WalkIndex(out_.file(), oi.root, od.page, compare);
        if (!ow.problems.empty()) Fail(iname + ": " + ow.problems.front().text);
        if (source_entries.Next())
            Fail(iname + " holds " + std::to_string(k) + " entries, fewer than the source");
        for (std::uint32_t p : ow.pages) Claim(p, iname);
        if (!oi.map.null()) {
            UsageMap m = ReadUsageMap(out_.file(), oi.map, out_.file().page_count());
            std::vector<std::uint32_t> walked = ow.pages;
            std::sort(walked.begin(), walked.end());
            if (m.pages != walked) Fail(iname + ": its usage map does not list exactly its pages");
        }
    }
    CheckMaps(name, od, orr);
}

void Verifier::CheckMaps(const std::string& name, const TableDef& od, TableReader& reader) {
    PageFile& f = out_.file();
    const std::uint32_t n = f.page_count();
    auto claim_map = [&](const UsageMap& m, RowAddr where) {
        Claim(where.page, "usage maps");
        for (std::uint32_t p : m.bitmap_pages)
            if (p) Claim(p, "usage map pages");
    };
    std::vector<std::uint32_t> data = reader.DataPages();
    std::sort(data.begin(), data.end());
    if (!od.owned_map.null()) {
        UsageMap owned = ReadUsageMap(f, od.owned_map, n);
        claim_map(owned, od.owned_map);
        if (owned.pages != data)
            Fail(name + ": its usage map does not list exactly its data pages");
        if (!od.free_map.null()) {
            UsageMap fm = ReadUsageMap(f, od.free_map, n);
            claim_map(fm, od.free_map);
            for (std::uint32_t p : fm.pages)
                if (!owned.Contains(p))
                    Fail(name + ": its free-space map lists a page it does not own");
        }
    }
    for (const auto& lv : od.long_value_columns) {
        if (lv.owned_map.null()) continue;
        UsageMap m = ReadUsageMap(f, lv.owned_map, n);
        claim_map(m, lv.owned_map);
        for (std::uint32_t p : m.pages) {
            // A page a value was read from is a long-value page (reading it checked
            // that); only the others are read for it here.
            if (p >= n || !lv_pages_seen_[p]) {
                Page pg = f.Read(p);
                if (pg.type() != kPageData || PageOwner(pg.bytes()) != kLvalOwner)
                    Fail(name + ": a long-value map lists page " + std::to_string(p) +
                         ", which holds no long values");
            }
            Claim(p, name + " long values");
        }
        if (!lv.free_map.null()) {
            UsageMap fm = ReadUsageMap(f, lv.free_map, n);
            claim_map(fm, lv.free_map);
            for (std::uint32_t p : fm.pages)
                if (!m.Contains(p))
                    Fail(name + ": a long-value free-space map lists a page its map does not");
        }
    }
    for (const auto& ix : od.real_indexes) {
        if (ix.map.null()) continue;
        claim_map(ReadUsageMap(f, ix.map, n), ix.map);
    }
}

void Verifier::CheckGlobalMap() {
    PageFile& f = out_.file();
    const std::uint32_t n = f.page_count();
    Claim(kHeaderPage, "the header");
    Claim(kGlobalMapPage, "the global usage map");
    UsageMap g = ReadUsageMap(f, RowAddr{kGlobalMapPage, 0}, n);
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
        if (!used && !fillers_.count(p))
            Fail("page " + std::to_string(p) + " of the compacted file has no role");
        if (fillers_.count(p) && !free[p])
            Fail("spare page " + std::to_string(p) + " is not marked free");
    }
}

void Verifier::Run() {
    if (src_.header().format != out_.header().format) Fail("the format changed");
    {
        const Page a = src_.file().Read(kHeaderPage);
        const Page b = out_.file().Read(kHeaderPage);
        if (!std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin(), b.bytes().end()))
            Fail("the header page changed");
    }
    lv_pages_seen_.assign(out_.file().page_count(), false);
    CompareCatalog();
    auto st = src_.Tables(true);
    auto ot = out_.Tables(true);
    if (st.size() != ot.size()) Fail("the number of tables changed");
    for (const CatalogEntry* e : st) rows_total_ += src_.Definition(e->tdef_page()).row_count;
    Report();
    for (std::size_t i = 0; i < st.size(); ++i) {
        if (st[i]->name != ot[i]->name) Fail("table '" + st[i]->name + "' is missing");
        CompareTable(*st[i], *ot[i]);
    }
    CheckGlobalMap();
    Report();
}

}  // namespace

Status VerifyCompacted(Database& source, const std::filesystem::path& compacted, const IdMap& ids,
                       const std::vector<std::uint32_t>& fillers,
                       const CompactProgressFn& progress) {
    Status st;
    std::unique_ptr<Database> out = Database::Open(compacted, &st);
    if (!out) return Status::Fail("it cannot be opened: " + st.reason);
    out->file().set_cache_capacity(kVerifyCachePages);
    out->file().set_block_reads(true);
    // A new file that fits the cache is read from one mapping shared with the check
    // below: a cache would copy every page into frames made resident for it, twice
    // (once per reader). A larger file keeps its caches, whose frames are reused:
    // there reading the mapping's small pages cost a quarter more CPU than the
    // copies (2.4 million narrow rows).
    const bool mapped =
        out->file().page_count() <= kVerifyCachePages && out->file().set_mapped();
    // The file must also be sound on its own, as any later reader will see it. That
    // check reads the file through its own handle (sharing at most the read-only
    // mapping) and nothing else with the comparison against the source, so it runs
    // meanwhile on a thread of its own (joined on every way out of here). A failed
    // comparison is still reported before anything the check finds, as when the two
    // ran one after the other.
    CheckReport soundness;
    bool check_ran = false;
    const PageFile* mapped_like = mapped ? &out->file() : nullptr;
    std::jthread checking([&compacted, &soundness, &check_ran, mapped_like] {
        try {
            // Every page of the new file is in use, so blocks read around a page bring
            // pages the check needs too; its cache holds a group of long values as the
            // comparison's does, among which rows in order jump.
            soundness = CheckFile(compacted, {.cache_pages = kVerifyCachePages,
                                              .block_reads = true,
                                              .mapped = mapped_like != nullptr,
                                              .mapped_like = mapped_like});
            check_ran = true;
        } catch (...) {  // only running out of memory escapes CheckFile
        }
    });
    try {
        Verifier v(source, *out, ids, fillers, progress);
        v.Run();
    } catch (const FormatError& e) {
        return Status::Fail(e.what());
    }
    checking.join();
    if (!check_ran) return Status::Fail("it could not be checked: not enough memory");
    if (!soundness.sound())
        return Status::Fail(soundness.problems.empty() ? soundness.open_error
                                                       : soundness.problems.front().text);
    return Status::Ok();
}

}  // namespace jet
