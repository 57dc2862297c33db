#include "damage.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/format.h"
#include "jet/index.h"
#include "jet/index_key.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"

namespace damage {

namespace {

using Image = std::vector<std::uint8_t>;

// A table and the pages that hold it.
struct Target {
    const jet::CatalogEntry* entry = nullptr;
    const jet::TableDef* def = nullptr;
    std::vector<std::uint32_t> data_pages;  // with at least one live row
    std::vector<std::uint32_t> lv_pages;    // long-value pages its rows use
    std::vector<std::uint32_t> leaf_pages;  // of its first index
    std::vector<std::pair<jet::RowAddr, jet::RowAddr>> overflow_rows;  // home slot, row
};

std::vector<Target> Targets(jet::Database& db) {
    std::vector<Target> out;
    for (const jet::CatalogEntry* e : db.Tables(false)) {
        Target t;
        t.entry = e;
        t.def = &db.Definition(e->tdef_page());
        jet::TableReader rd(db.file(), *t.def);
        std::vector<std::size_t> lv;
        for (std::size_t i = 0; i < t.def->columns.size(); ++i)
            if (jet::IsLongValueType(t.def->columns[i].type)) lv.push_back(i);
        rd.ForEachRow([&](const jet::RowRef& r) {
            if (t.data_pages.empty() || t.data_pages.back() != r.slot.page)
                t.data_pages.push_back(r.slot.page);
            if (r.addr != r.slot) t.overflow_rows.emplace_back(r.slot, r.addr);
            jet::CrackedRow cr = jet::CrackRow(*t.def, r.bytes, db.jet3());
            for (std::size_t i : lv) {
                const auto& f = cr.fields[i];
                if (f.null) continue;
                for (const auto& a : rd.ReadLongValue(r.bytes.subspan(f.begin, f.size)).rows)
                    t.lv_pages.push_back(a.page);
            }
            return true;
        });
        std::sort(t.lv_pages.begin(), t.lv_pages.end());
        t.lv_pages.erase(std::unique(t.lv_pages.begin(), t.lv_pages.end()), t.lv_pages.end());
        if (!t.def->real_indexes.empty()) {
            jet::IndexWalk w = jet::WalkIndex(db.file(), t.def->real_indexes[0].root, t.def->page);
            t.leaf_pages = w.leaf_pages;
            t.leaf_pages.erase(std::unique(t.leaf_pages.begin(), t.leaf_pages.end()),
                               t.leaf_pages.end());
        }
        if (!t.data_pages.empty()) out.push_back(std::move(t));
    }
    // The table with the most rows first.
    std::stable_sort(out.begin(), out.end(), [](const Target& a, const Target& b) {
        return a.def->row_count > b.def->row_count;
    });
    return out;
}

Image ReadImage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Image(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteImage(const Image& image, const std::filesystem::path& out) {
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

std::uint8_t* PageAt(Image& image, jet::Database& db, std::uint32_t page) {
    return image.data() + std::size_t{page} * db.file().page_size();
}

// Where the row `at` starts in the image, and its size.
std::pair<std::size_t, std::size_t> RowAt(jet::Database& db, jet::RowAddr at) {
    jet::Page pg = db.file().Read(at.page);
    jet::Bytes b = jet::RowBytes(pg.bytes(), db.jet3(), at.row);
    return {std::size_t{at.page} * db.file().page_size() +
                static_cast<std::size_t>(b.data() - pg.bytes().data()),
            b.size()};
}

// Clears the bit of `page` (every bit when `page` is 0) in the map stored at `where`.
void ClearMapBits(Image& image, jet::Database& db, jet::RowAddr where, std::uint32_t page) {
    const jet::UsageMap m = jet::ReadUsageMap(db.file(), where, db.file().page_count());
    const auto lay = jet::UsageMapLayout::For(db.jet3());
    if (m.kind == jet::UsageMap::Kind::Inline) {
        const auto [at, size] = RowAt(db, where);
        std::uint8_t* bits = image.data() + at + lay.bitmap;
        if (!page) {
            std::memset(bits, 0, size - lay.bitmap);
            return;
        }
        const std::uint32_t bit = page - m.start_page;
        bits[bit / 8] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
        return;
    }
    const std::uint32_t per = m.pages_per_bitmap_page;
    for (std::size_t i = 0; i < m.bitmap_pages.size(); ++i) {
        if (!m.bitmap_pages[i]) continue;
        std::uint8_t* bits = PageAt(image, db, m.bitmap_pages[i]) + jet::kBitmapPageDataAt;
        if (!page) {
            std::memset(bits, 0, db.file().page_size() - jet::kBitmapPageDataAt);
        } else if (page / per == i) {
            const std::uint32_t bit = page % per;
            bits[bit / 8] &= static_cast<std::uint8_t>(~(1u << (bit % 8)));
        }
    }
}

}  // namespace

std::vector<Kind> AllKinds() {
    return {Kind::ZeroDataPage,   Kind::TornPage,          Kind::IndexGarbage,
            Kind::ClearedMap,     Kind::UnlistedPage,      Kind::WrongFreeSpace,
            Kind::ZeroLongValuePage, Kind::CutOff,         Kind::CatalogRow,
            Kind::LostHomeSlot,   Kind::ZeroIndexLeaf};
}

const char* Name(Kind kind) {
    switch (kind) {
        case Kind::ZeroDataPage: return "ZeroDataPage";
        case Kind::TornPage: return "TornPage";
        case Kind::IndexGarbage: return "IndexGarbage";
        case Kind::ClearedMap: return "ClearedMap";
        case Kind::UnlistedPage: return "UnlistedPage";
        case Kind::WrongFreeSpace: return "WrongFreeSpace";
        case Kind::ZeroLongValuePage: return "ZeroLongValuePage";
        case Kind::CutOff: return "CutOff";
        case Kind::CatalogRow: return "CatalogRow";
        case Kind::LostHomeSlot: return "LostHomeSlot";
        case Kind::ZeroIndexLeaf: return "ZeroIndexLeaf";
    }
    return "?";
}

bool Lossless(Kind kind) {
    return kind == Kind::IndexGarbage || kind == Kind::ClearedMap ||
           kind == Kind::UnlistedPage || kind == Kind::WrongFreeSpace ||
           kind == Kind::LostHomeSlot || kind == Kind::ZeroIndexLeaf;
}

bool Damage::Lost(std::uint32_t page) const {
    return (cut_at && page >= cut_at) || std::find(pages.begin(), pages.end(), page) != pages.end();
}

std::optional<Damage> Apply(const std::filesystem::path& source, Kind kind,
                            const std::filesystem::path& out, std::uint32_t seed) {
    jet::Status st;
    auto db = jet::Database::Open(source, &st);
    if (!db) return std::nullopt;
    Image image = ReadImage(source);
    std::mt19937 rng(seed);
    auto pick = [&](const std::vector<std::uint32_t>& v) { return v[rng() % v.size()]; };
    const std::uint32_t ps = db->file().page_size();
    std::optional<Damage> done;
    for (const Target& t : Targets(*db)) {
        Damage d{kind, t.entry->name, {}, 0, 0};
        switch (kind) {
            case Kind::ZeroDataPage: {
                const std::uint32_t p = pick(t.data_pages);
                std::memset(PageAt(image, *db, p), 0, ps);
                d.pages = {p};
                break;
            }
            case Kind::TornPage: {
                if (t.data_pages.size() < 2) continue;
                const std::uint32_t p = pick(t.data_pages);
                const std::uint32_t old = t.data_pages[(std::find(t.data_pages.begin(), t.data_pages.end(), p) -
                                                        t.data_pages.begin() + 1) % t.data_pages.size()];
                std::memcpy(PageAt(image, *db, p) + ps / 2, PageAt(image, *db, old) + ps / 2, ps / 2);
                d.pages = {p};
                break;
            }
            case Kind::IndexGarbage: {
                if (t.leaf_pages.empty()) continue;
                const std::uint32_t p = pick(t.leaf_pages);
                const std::size_t first = jet::IndexPageLayout::For(db->jet3()).first_entry;
                for (std::size_t i = first; i < ps; ++i) PageAt(image, *db, p)[i] = static_cast<std::uint8_t>(rng());
                break;
            }
            case Kind::ZeroIndexLeaf:
                if (t.leaf_pages.empty()) continue;
                std::memset(PageAt(image, *db, pick(t.leaf_pages)), 0, ps);
                break;
            case Kind::ClearedMap:
                ClearMapBits(image, *db, t.def->owned_map, 0);
                break;
            case Kind::UnlistedPage:
                ClearMapBits(image, *db, t.def->owned_map, pick(t.data_pages));
                break;
            case Kind::WrongFreeSpace: {
                std::uint8_t* pg = PageAt(image, *db, pick(t.data_pages));
                pg[jet::DataPageLayout::For(db->jet3()).free_space] ^= 0x5A;
                break;
            }
            case Kind::ZeroLongValuePage: {
                if (t.lv_pages.empty()) continue;
                const std::uint32_t p = pick(t.lv_pages);
                std::memset(PageAt(image, *db, p), 0, ps);
                d.pages = {p};
                break;
            }
            case Kind::CutOff: {
                // Up to ten pages, never into the catalog: the file still opens.
                const std::uint32_t n = db->file().page_count();
                const std::uint32_t cut = std::min<std::uint32_t>(10, n / 4);
                if (cut == 0 || t.data_pages.back() < n - cut) continue;
                image.resize(std::size_t{n - cut} * ps);
                d.cut_at = n - cut;
                // A definition cut short takes its whole table along.
                for (std::uint32_t p : t.def->pages)
                    if (p >= d.cut_at) d.pages = t.data_pages;
                break;
            }
            case Kind::CatalogRow: {
                const auto [at, size] = RowAt(*db, t.entry->row);
                std::memset(image.data() + at, 0xFF, size);
                d.pages = t.data_pages;  // all of it goes with its name
                break;
            }
            case Kind::LostHomeSlot: {
                // Flagged as Access flags a row it deletes; the row's bytes stay where
                // the pointer led, flagged deleted alone.
                if (t.overflow_rows.empty()) continue;
                const auto [home, row] = t.overflow_rows[rng() % t.overflow_rows.size()];
                std::uint8_t* slot = PageAt(image, *db, home.page) +
                                     jet::DataPageLayout::For(db->jet3()).row_table +
                                     jet::kRowSlotSize * home.row;
                slot[1] |= (jet::kRowDeleted | jet::kRowOverflow) >> 8;
                d.orphan = row.Packed();
                break;
            }
        }
        done = d;
        break;
    }
    if (!done) return std::nullopt;
    WriteImage(image, out);
    return done;
}

std::optional<DuplicateKey> ApplyDuplicateKey(const std::filesystem::path& source,
                                              const std::filesystem::path& out) {
    jet::Status st;
    auto db = jet::Database::Open(source, &st);
    if (!db) return std::nullopt;
    Image image = ReadImage(source);
    for (const jet::CatalogEntry* e : db->Tables(false)) {
        const jet::TableDef& d = db->Definition(e->tdef_page());
        for (std::size_t i = 0; i < d.real_indexes.size(); ++i) {
            const jet::RealIndex& ix = d.real_indexes[i];
            if (!jet::IsUniqueIndex(d, i) || ix.columns.size() != 1) continue;
            std::size_t field = d.columns.size();
            for (std::size_t f = 0; f < d.columns.size(); ++f)
                if (d.columns[f].number == ix.columns[0].column) field = f;
            if (field == d.columns.size()) continue;
            const std::uint8_t type = d.columns[field].type;
            if (type != jet::kColInt && type != jet::kColLong && type != jet::kColMoney &&
                type != jet::kColDouble && type != jet::kColDateTime)
                continue;
            const jet::IndexWalk w = jet::WalkIndex(db->file(), ix.root, d.page);
            jet::TableReader rd(db->file(), d);
            for (std::size_t k = 1; k < w.leaf_entries.size(); ++k) {
                const jet::IndexEntry& a = w.leaf_entries[k - 1];
                const jet::IndexEntry& b = w.leaf_entries[k];
                // The same leaf, and not its last entry unless the leaf is the whole
                // tree (a node holds a copy of each leaf's last entry); row pointers
                // ascending, so the order holds with equal keys.
                const std::size_t total = b.key_size + jet::kIndexRowPointerSize;
                if (w.leaf_pages[k - 1] != w.leaf_pages[k] || a.key_size != b.key_size ||
                    b.stored_size > total || total - b.stored_size > b.key_size ||
                    !(a.row.Packed() < b.row.Packed()))
                    continue;
                if (w.pages.size() > 1 &&
                    (k + 1 == w.leaf_entries.size() || w.leaf_pages[k + 1] != w.leaf_pages[k]))
                    continue;
                const jet::RowRef ra = rd.Resolve(a.row), rb = rd.Resolve(b.row);
                const jet::CrackedRow ca = jet::CrackRow(d, ra.bytes, db->jet3());
                const jet::CrackedRow cb = jet::CrackRow(d, rb.bytes, db->jet3());
                const jet::FieldRef& fa = ca.fields[field];
                const jet::FieldRef& fb = cb.fields[field];
                if (fa.null || fb.null || fa.size != fb.size) continue;
                const std::size_t row_at = RowAt(*db, rb.addr).first;
                std::memcpy(image.data() + row_at + fb.begin, ra.bytes.data() + fa.begin, fa.size);
                const std::size_t prefix = total - b.stored_size;
                std::memcpy(PageAt(image, *db, w.leaf_pages[k]) + b.offset, a.bytes.data() + prefix,
                            b.key_size - prefix);
                WriteImage(image, out);
                return DuplicateKey{e->name, a.row.Packed(), b.row.Packed()};
            }
        }
    }
    return std::nullopt;
}

namespace {

// One of `owner`'s data pages taken out of its map and listed in the inline map at
// `where` instead; the page, or nothing when that map has no room for any.
std::optional<std::uint32_t> ListInstead(Image& image, jet::Database& db, const Target& owner,
                                         jet::RowAddr where) {
    if (where.null()) return std::nullopt;
    const jet::UsageMap m = jet::ReadUsageMap(db.file(), where, db.file().page_count());
    if (m.kind != jet::UsageMap::Kind::Inline) return std::nullopt;
    const auto lay = jet::UsageMapLayout::For(db.jet3());
    const auto [at, size] = RowAt(db, where);
    for (std::uint32_t p : owner.data_pages) {
        if (p < m.start_page || (p - m.start_page) / 8 >= size - lay.bitmap) continue;
        ClearMapBits(image, db, owner.def->owned_map, p);
        const std::uint32_t bit = p - m.start_page;
        image[at + lay.bitmap + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        return p;
    }
    return std::nullopt;
}

}  // namespace

std::optional<CrossLinked> ApplyCrossLinkedPage(const std::filesystem::path& source,
                                                const std::filesystem::path& out, Lister by) {
    jet::Status st;
    auto db = jet::Database::Open(source, &st);
    if (!db) return std::nullopt;
    Image image = ReadImage(source);
    const std::vector<Target> targets = Targets(*db);
    for (const Target& owner : targets)
        for (const Target& lister : targets) {
            std::vector<jet::RowAddr> maps;
            switch (by) {
                case Lister::Table:
                    // The lister's definition first: its rows are read before the owner's.
                    if (lister.def->page < owner.def->page) maps.push_back(lister.def->owned_map);
                    break;
                case Lister::Index:
                    for (const jet::RealIndex& ix : lister.def->real_indexes) maps.push_back(ix.map);
                    break;
                case Lister::LongValue:
                    for (const jet::LongValueColumn& lv : lister.def->long_value_columns)
                        maps.push_back(lv.owned_map);
                    break;
            }
            for (jet::RowAddr where : maps)
                if (auto p = ListInstead(image, *db, owner, where)) {
                    WriteImage(image, out);
                    return CrossLinked{owner.entry->name, lister.entry->name, *p};
                }
        }
    return std::nullopt;
}

}  // namespace damage
