#include "jet/compact/unlisted_rows.h"

#include <unordered_map>
#include <vector>

#include "jet/data_page.h"
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

}  // namespace jet
