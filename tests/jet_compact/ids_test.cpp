// Table Ids after compaction: tables that move get their new definition page as Id
// everywhere an Id is held, and a stale Id keeps naming no object.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "jet/checker.h"
#include "jet/compact/compactor.h"
#include "jet/compact/id_map.h"
#include "jet/database.h"
#include "jet/row.h"
#include "jet/table.h"
#include "support.h"

namespace compacttest {
namespace {

const fs::path kNavPane = CorpusDir() / "jet4" / "indexTestV2000.mdb";

// Values of a long-integer column of a table, with where each sits in the file.
struct IdCell {
    std::int32_t value = 0;
    std::size_t file_offset = 0;
};
std::vector<IdCell> ColumnCells(jet::Database& db, const std::string& table,
                                const std::string& column) {
    std::vector<IdCell> out;
    const jet::CatalogEntry* t = db.FindTable(table);
    if (!t) return out;
    const jet::TableDef& d = db.Definition(t->tdef_page());
    std::size_t ci = d.columns.size();
    for (std::size_t i = 0; i < d.columns.size(); ++i)
        if (d.columns[i].name == column) ci = i;
    if (ci == d.columns.size()) return out;
    jet::TableReader reader(db.file(), d);
    reader.ForEachRow([&](const jet::RowRef& r) {
        jet::CrackedRow cr = jet::CrackRow(d, r.bytes, db.jet3());
        const jet::FieldRef& f = cr.fields[ci];
        if (f.null || f.size != 4) return true;
        IdCell c;
        c.value = static_cast<std::int32_t>(jet::U32(r.bytes, f.begin));
        c.file_offset = std::size_t{r.addr.page} * db.file().page_size() +
                        static_cast<std::size_t>(r.bytes.data() - r.page.bytes().data()) + f.begin;
        out.push_back(c);
        return true;
    });
    return out;
}

std::map<std::string, std::int32_t> TableIds(jet::Database& db) {
    std::map<std::string, std::int32_t> ids;
    for (const jet::CatalogEntry* t : db.Tables(true)) ids[t->name] = t->id;
    return ids;
}

TEST(TableIds, FollowTheirTablesIntoTheNavigationPane) {
    if (!fs::exists(kNavPane)) GTEST_SKIP();
    Scratch s;
    fs::path src = s.Copy(kNavPane);
    fs::path out = s.dir() / "out.mdb";
    ASSERT_TRUE(jet::Compact(src, out).compacted);
    jet::Status st;
    auto a = jet::Database::Open(src, &st);
    auto b = jet::Database::Open(out, &st);
    ASSERT_TRUE(a && b);
    auto before = TableIds(*a), after = TableIds(*b);
    ASSERT_EQ(before.size(), after.size());
    int moved = 0;
    for (const auto& [name, id] : after) {
        EXPECT_EQ(b->file().Read(static_cast<std::uint32_t>(id)).type(), jet::kPageTdef) << name;
        moved += id != before[name];
    }
    EXPECT_GT(moved, 0) << "the sample should have tables that move";
    // The pane lists each table under its new Id.
    std::map<std::int32_t, std::string> by_old;
    for (const auto& [name, id] : before) by_old[id] = name;
    auto old_cells = ColumnCells(*a, "MSysNavPaneObjectIDs", "Id");
    auto new_cells = ColumnCells(*b, "MSysNavPaneObjectIDs", "Id");
    ASSERT_EQ(old_cells.size(), new_cells.size());
    ASSERT_FALSE(old_cells.empty());
    for (std::size_t i = 0; i < old_cells.size(); ++i) {
        auto it = by_old.find(old_cells[i].value);
        ASSERT_NE(it, by_old.end());
        EXPECT_EQ(new_cells[i].value, after[it->second]) << it->second;
    }
}

TEST(TableIds, AStaleIdNeverBecomesATable) {
    if (!fs::exists(kNavPane)) GTEST_SKIP();
    Scratch s;
    fs::path plain = s.Copy(kNavPane, "plain.mdb");
    fs::path plain_out = s.dir() / "plain-out.mdb";
    ASSERT_TRUE(jet::Compact(plain, plain_out).compacted);
    jet::Status st;
    // Pick an Id a table receives in the new file that no object has in the old one.
    std::int32_t stale = 0;
    std::string victim;
    {
        auto a = jet::Database::Open(plain, &st);
        auto b = jet::Database::Open(plain_out, &st);
        ASSERT_TRUE(a && b);
        std::set<std::int32_t> old_ids;
        for (const auto& e : a->catalog()) old_ids.insert(e.id);
        for (const auto& [name, id] : TableIds(*b))
            if (!old_ids.count(id) && !stale) stale = id, victim = name;
    }
    ASSERT_NE(stale, 0) << "no new table Id is free in the old file";

    // A pane row that names an object long gone, with exactly that Id.
    fs::path src = s.Copy(kNavPane, "stale.mdb");
    auto image = ReadAll(src);
    {
        auto a = jet::Database::Open(src, &st);
        ASSERT_TRUE(a);
        auto cells = ColumnCells(*a, "MSysNavPaneGroupToObjects", "ObjectID");
        ASSERT_FALSE(cells.empty());
        std::memcpy(image.data() + cells.back().file_offset, &stale, 4);
    }
    WriteAll(src, image);
    fs::path out = s.dir() / "out.mdb";
    jet::CompactResult r = jet::Compact(src, out);
    ASSERT_TRUE(r.compacted) << r.reason;

    auto b = jet::Database::Open(out, &st);
    ASSERT_TRUE(b) << st.reason;
    for (const auto& e : b->catalog()) EXPECT_NE(e.id, stale) << e.name << " took the stale Id";
    EXPECT_NE(TableIds(*b)[victim], stale);
    auto cells = ColumnCells(*b, "MSysNavPaneGroupToObjects", "ObjectID");
    ASSERT_FALSE(cells.empty());
    EXPECT_EQ(cells.back().value, stale) << "the stale Id itself must stay";
    EXPECT_TRUE(jet::CheckFile(out).opened);
}

TEST(IdKeys, EncodeInNumericOrderAndMapOnlyMovedIds) {
    std::vector<std::int32_t> ids = {INT32_MIN, -0x7FFFFFF0, -2,  -1,         0,        1,
                                     2,         255,         256, 0x0F000001, INT32_MAX};
    std::vector<std::uint8_t> prev;
    for (std::int32_t id : ids) {
        std::vector<std::uint8_t> k(5);
        jet::EncodeIdKey(id, k);
        EXPECT_EQ(k[0], 0x7F);
        EXPECT_EQ(jet::DecodeIdKey(k), id);
        if (!prev.empty()) {
            EXPECT_LT(prev, k) << id;
        }
        prev = k;
    }
    jet::IdMap map;
    map.Add(24, 7);
    map.Add(5, 5);
    std::vector<std::uint8_t> entry(9, 0xAA);
    jet::EncodeIdKey(24, entry);
    EXPECT_TRUE(jet::MapLeadingIdKey(entry, map));
    EXPECT_EQ(jet::DecodeIdKey(entry), 7);
    EXPECT_EQ(entry[5], 0xAA) << "bytes after the key must stay";
    jet::EncodeIdKey(5, entry);
    EXPECT_FALSE(jet::MapLeadingIdKey(entry, map));
    entry[0] = 0x00;  // a null key is not an Id
    EXPECT_FALSE(jet::MapLeadingIdKey(entry, map));
    EXPECT_EQ(map.Map(99), 99);
    // A descending index's key: every byte inverted, and mapped all the same.
    jet::EncodeIdKey(24, entry);
    for (std::size_t i = 0; i < 5; ++i) entry[i] = static_cast<std::uint8_t>(~entry[i]);
    EXPECT_TRUE(jet::MapLeadingIdKey(entry, map));
    for (std::size_t i = 0; i < 5; ++i) entry[i] = static_cast<std::uint8_t>(~entry[i]);
    EXPECT_EQ(jet::DecodeIdKey(entry), 7);
    EXPECT_EQ(entry[5], 0xAA);
}

}  // namespace
}  // namespace compacttest
