#include "rows.h"

#include <algorithm>

#include "jet/csv_export.h"
#include "jet/database.h"

namespace repairtest {

TableRows ReadRows(const std::filesystem::path& path, const std::string& table) {
    TableRows out;
    jet::Status st;
    auto db = jet::Database::Open(path, &st);
    if (!db) return out;
    const jet::CatalogEntry* e = db->FindTable(table);
    if (!e) return out;
    out.found = true;
    const jet::TableDef* def = nullptr;
    try {
        def = &db->Definition(e->tdef_page());
    } catch (const jet::FormatError&) {
        return out;  // no rows to be read
    }
    const jet::TableDef& t = *def;
    const jet::OwnedPages owned = jet::OwnedPages::Scan(db->file(), t.page);
    jet::SalvageOptions so;
    so.unlisted_pages = true;
    jet::SalvageReader reader(db->file(), t, &owned, so);
    const jet::CsvRowFormat format(t, db->jet3());
    reader.ForEachRow([&](const jet::SalvagedRow& r) {
        TableRow row{r.slot, r.addr, {}, {}};
        format.Row(r, reader, row.line);
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const jet::FieldRef& f = r.cracked->fields[i];
            if (!jet::IsLongValueType(t.columns[i].type) || f.null) continue;
            if (auto lv = reader.ReadLongValue(r.bytes.subspan(f.begin, f.size), nullptr))
                for (const auto& a : lv->rows) row.value_pages.push_back(a.page);
        }
        out.rows.push_back(std::move(row));
        return true;
    });
    out.losses = reader.losses();
    return out;
}

std::vector<std::string> Lines(const std::vector<TableRow>& rows) {
    std::vector<std::string> v;
    for (const auto& r : rows) v.push_back(r.line);
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<TableRow> Survivors(const TableRows& original, const damage::Damage& d) {
    std::vector<TableRow> v;
    for (const auto& r : original.rows) {
        bool lost = d.Lost(r.slot.page) || d.Lost(r.addr.page);
        for (auto p : r.value_pages) lost = lost || d.Lost(p);
        if (!lost) v.push_back(r);
    }
    return v;
}

bool Contains(std::vector<std::string> whole, std::vector<std::string> part, std::string* missing) {
    std::sort(whole.begin(), whole.end());
    std::sort(part.begin(), part.end());
    std::vector<std::string> left;
    std::set_difference(part.begin(), part.end(), whole.begin(), whole.end(),
                        std::back_inserter(left));
    if (!left.empty() && missing) *missing = left.front();
    return left.empty();
}

}  // namespace repairtest
