#include "jet/compact/unlisted_rows.h"

#include <algorithm>
#include <bit>
#include <unordered_map>
#include <vector>

#include "jet/data_page.h"
#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/usage_map.h"

namespace jet {

std::string UnlistedRows::Describe() const {
    auto rows_text = [](std::uint64_t n) {
        return std::to_string(n) + (n == 1 ? " live row" : " live rows");
    };
    std::string s = "the database is damaged: page " + std::to_string(page) + " of table '" +
                    table + "' holds " + rows_text(page_rows) +
                    " that the table's usage map does not list";
    if (pages > 1)
        s += " (" + std::to_string(pages) + " such pages, " + rows_text(rows) + " in all)";
    return s + ", and a compaction would leave them out; 'mdbcompact check' names such "
               "pages and 'mdbcompact repair' recovers their rows";
}

namespace {

std::uint32_t LiveRows(const Page& page, bool jet3) {
    std::uint32_t live = 0;
    for (const RowSlot& sl : ReadDataPage(page.bytes(), jet3).slots) live += sl.live();
    return live;
}

}  // namespace

UnlistedRows ForeignRows(Database& db, const TableDef& lister, std::uint32_t p, const Page& page) {
    UnlistedRows found;
    if (page.type() != kPageData) return found;
    const std::uint32_t owner = PageOwner(page.bytes());
    if (owner == lister.page) return found;
    for (const CatalogEntry* e : db.Tables(true)) {
        if (e->tdef_page() != owner) continue;
        try {
            const std::uint32_t live = LiveRows(page, db.file().jet3());
            const TableDef& d = db.Definition(owner);
            if (live && !ReadUsageMap(db.file(), d.owned_map, db.file().page_count()).Contains(p))
                found = {1, live, e->name, p, live};
        } catch (const FormatError&) {
            // Left to the compaction of the owner, which refuses what it cannot read.
        }
        break;
    }
    return found;
}

UnlistedRows FindUnlistedRows(Database& db, bool thorough) {
    PageFile& f = db.file();
    const std::uint32_t n = f.page_count();
    // One bit a page: 64 KB for a 2 GB Jet 4 file.
    std::vector<bool> accounted(n, false);
    auto mark = [&](std::uint32_t p) {
        if (p < n) accounted[p] = true;
    };
    // A map that cannot be read accounts for nothing; the compaction meets it itself.
    // `listed`: whether the pages the map lists are accounted for. A free-space map
    // lists pages of its owned map, but a page that only it lists is missed.
    auto mark_map = [&](RowAddr where, bool listed = true) {
        if (where.null()) return;
        try {
            UsageMap m = ReadUsageMap(f, where, n);
            mark(m.where.page);
            for (std::uint32_t p : m.bitmap_pages) mark(p);
            if (listed)
                for (std::uint32_t p : m.pages) mark(p);
        } catch (const FormatError&) {
        }
    };
    mark(kHeaderPage);
    // Free pages: Access leaves the bytes of the pages it frees, rows and all.
    mark_map(RowAddr{kGlobalMapPage, 0});
    mark(kGlobalMapPage);

    std::unordered_map<std::uint32_t, const CatalogEntry*> tables;  // by definition page
    for (const CatalogEntry* e : db.Tables(true)) {
        tables.emplace(e->tdef_page(), e);
        mark(e->tdef_page());
        try {
            const TableDef& d = db.Definition(e->tdef_page());
            for (std::uint32_t p : d.pages) mark(p);
            mark_map(d.owned_map);
            mark_map(d.free_map, false);
            for (const LongValueColumn& lv : d.long_value_columns) {
                mark_map(lv.owned_map, !thorough);
                mark_map(lv.free_map, false);
            }
            for (const RealIndex& ix : d.real_indexes) mark_map(ix.map, !thorough);
        } catch (const FormatError&) {
        }
    }

    std::vector<std::uint32_t> rest;
    for (std::uint32_t p = 0; p < n; ++p)
        if (!accounted[p]) rest.push_back(p);
    UnlistedRows found;
    if (rest.empty()) return found;
    f.PlanReads(rest);
    for (std::uint32_t p : rest) {
        try {
            Page pg = f.Read(p);
            if (pg.type() != kPageData) continue;
            auto t = tables.find(PageOwner(pg.bytes()));
            if (t == tables.end()) continue;
            const std::uint32_t live = LiveRows(pg, f.jet3());
            if (!live) continue;
            if (found.pages++ == 0) {
                found.table = t->second->name;
                found.page = p;
                found.page_rows = live;
            }
            found.rows += live;
        } catch (const FormatError&) {
        }
    }
    return found;
}

namespace {

// splitmix64's finaliser: an address spread over 64 bits, so that sums of different
// sets of addresses differ.
std::uint64_t Mixed(RowAddr a) {
    std::uint64_t z = a.Packed() + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The slots of a data page, by the salvage's rule: each row ends where the one before
// it begins, a bad offset (left to the reader, which refuses it) is skipped and
// measured against the last good one. `kept` gets each slot flagged deleted alone
// that holds bytes, `target` each address a live overflow pointer leads to.
template <typename Kept, typename Target>
void ForEachSlot(std::uint32_t p, Bytes pb, bool jet3, Kept kept, Target target) {
    const auto lay = DataPageLayout::For(jet3);
    const std::size_t count = U16(pb, lay.row_count);
    if (lay.row_table + kRowSlotSize * count > pb.size()) return;
    const std::size_t table_end = lay.row_table + kRowSlotSize * count;
    std::size_t end = pb.size();
    // A row number is one byte in every pointer: no slot past 256 is reached.
    for (std::size_t i = 0; i < count && i < kMaxRowsPerPage; ++i) {
        const std::uint16_t raw = U16(pb, lay.row_table + kRowSlotSize * i);
        const std::size_t begin = raw & kRowOffsetMask, row_end = end;
        if (begin < table_end || begin > row_end) continue;
        end = begin;
        const bool deleted = raw & kRowDeleted, overflow = raw & kRowOverflow;
        if (deleted && !overflow && begin < row_end)
            kept(RowAddr{p, static_cast<std::uint8_t>(i)});
        else if (overflow && !deleted && row_end - begin >= kOverflowTargetAt + kRowPointerSize)
            target(UnpackRowPtr(U32(pb, begin + kOverflowTargetAt)));
    }
}

}  // namespace

void LostHomeRows::See(std::uint32_t p, const Page& page, bool jet3) {
    // Most pages hold neither deleted nor overflow rows: their slots' flags tell in
    // one tight pass, before the slots are walked as rows.
    const Bytes pb = page.bytes();
    const auto lay = DataPageLayout::For(jet3);
    const std::size_t count = std::min<std::size_t>(U16(pb, lay.row_count), kMaxRowsPerPage);
    if (lay.row_table + kRowSlotSize * count > pb.size()) return;
    std::uint16_t flags = 0;
    for (std::size_t i = 0; i < count; ++i) flags |= U16(pb, lay.row_table + kRowSlotSize * i);
    if (!(flags & (kRowDeleted | kRowOverflow))) return;
    ForEachSlot(
        p, pb, jet3,
        [&](RowAddr a) {
            kept_ += Mixed(a);
            ++kept_rows_;
        },
        [&](RowAddr a) {
            targets_ += Mixed(a);
            ++target_rows_;
        });
}

LostHomeRows::Found LostHomeRows::Find(PageFile& f, std::uint32_t owner,
                                       const std::vector<std::uint32_t>& pages) {
    Found found;
    std::vector<std::uint32_t> in_file;  // a map may list pages past the end
    for (std::uint32_t p : pages)
        if (f.Contains(p)) in_file.push_back(p);
    if (in_file.empty()) return found;
    // A bit per slot of the pages' span.
    const std::uint32_t first = in_file.front(), last = in_file.back();
    const std::size_t span = (std::size_t{last} - first + 1) * kMaxRowsPerPage;
    std::vector<std::uint64_t> kept((span + 63) / 64), targets((span + 63) / 64);
    auto set = [&](std::vector<std::uint64_t>& bits, RowAddr a) {
        if (a.page < first || a.page > last) return;
        const std::size_t at = std::size_t{a.page - first} * kMaxRowsPerPage + a.row;
        bits[at / 64] |= std::uint64_t{1} << (at % 64);
    };
    f.PlanReads(in_file);
    for (std::uint32_t p : in_file) {
        const Page pg = f.Read(p);
        if (pg.type() != kPageData || PageOwner(pg.bytes()) != owner) continue;
        ForEachSlot(
            p, pg.bytes(), f.jet3(), [&](RowAddr a) { set(kept, a); },
            [&](RowAddr a) { set(targets, a); });
    }
    for (std::size_t w = 0; w < kept.size(); ++w) {
        const std::uint64_t lost = kept[w] & ~targets[w];
        if (lost && !found.count) {
            const std::size_t at = w * 64 + static_cast<std::size_t>(std::countr_zero(lost));
            found.first = {first + static_cast<std::uint32_t>(at / kMaxRowsPerPage),
                           static_cast<std::uint8_t>(at % kMaxRowsPerPage)};
        }
        found.count += std::popcount(lost);
    }
    return found;
}

std::string LostHomeRows::Found::Describe(const std::string& table) const {
    std::string s = "the database is damaged: row " + first.ToString() + " of table '" + table +
                    "' is an overflow row whose home slot was lost";
    if (count > 1) s += " (" + std::to_string(count) + " such rows)";
    return s + ", and a compaction would leave it out; 'mdbcompact check' names such rows "
               "and 'mdbcompact repair' recovers them";
}

}  // namespace jet
