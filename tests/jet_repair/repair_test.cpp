// mdbcompact repair on every kind of damage, on copies of every corpus file: it makes
// a sound file, keeps every row of an undamaged page, reads the same in mdbtools and
// names what it lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "damage.h"
#include "jet/checker.h"
#include "jet/compact/output_file.h"
#include "jet/compact/repairer.h"
#include "jet/index.h"
#include "jet/index_key.h"
#include "rows.h"
#include "tests/jet/test_util.h"

using namespace jettest;
using namespace repairtest;

namespace {

std::vector<std::string> MdbExport(const fs::path& db, const std::string& table) {
    auto r = RunCommand("mdb-export -b hex " + Quote(db.string()) + " " + Quote(table) + " 2>&1");
    std::vector<std::string> v;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    std::sort(v.begin(), v.end());
    return v;
}

const jet::TableRepair* Find(const jet::RepairResult& r, const std::string& name) {
    for (const auto& t : r.tables)
        if (t.name == name) return &t;
    return nullptr;
}

bool Named(const jet::TableRepair& t, jet::RowAddr slot) {
    for (const auto& l : t.losses)
        if ((l.kind == jet::SalvageLoss::Kind::Row && l.at == slot) ||
            (l.kind == jet::SalvageLoss::Kind::Page && l.at.page == slot.page))
            return true;
    return false;
}

// Keys of text columns cannot be made yet: a table whose damaged index has one
// loses the rows that index has no entry for, and says why.
bool KeysMissing(const jet::TableRepair& t) {
    for (const auto& l : t.losses)
        if (l.reason.find("cannot be made yet") != std::string::npos) return true;
    return false;
}

TEST(Repair, EveryKindOfDamageOnEveryCorpusFile) {
    TempDir tmp;
    int cases = 0, lossless = 0, lossless_kind = 0;
    for (const auto& src : CorpusFiles(false)) {
        for (damage::Kind kind : damage::AllKinds()) {
            SCOPED_TRACE(src.filename().string() + " " + damage::Name(kind));
            const fs::path damaged = tmp.path() / "damaged.mdb";
            const fs::path out = tmp.path() / "repaired.mdb";
            fs::remove(out);
            auto d = damage::Apply(src, kind, damaged, 7);
            if (!d) continue;
            ++cases;
            const auto before = ReadAll(damaged);
            jet::RepairResult r = jet::Repair(damaged, out);
            EXPECT_EQ(ReadAll(damaged), before) << "the source was changed";
            ASSERT_TRUE(r.repaired) << r.reason;
            jet::CheckReport check = jet::CheckFile(out);
            EXPECT_TRUE(check.sound()) << (check.problems.empty() ? check.open_error
                                                                   : check.problems.front().text);
            const TableRows orig = ReadRows(src, d->table);
            const TableRows fixed = ReadRows(out, d->table);
            if (kind == damage::Kind::CatalogRow) {
                // The table's name is gone with its row: reported, nothing invented.
                EXPECT_FALSE(fixed.found);
                EXPECT_FALSE(r.lossless());
                EXPECT_FALSE(r.catalog_losses.empty());
                continue;
            }
            const jet::TableRepair* t = Find(r, d->table);
            if (!t) {
                // Its definition was cut off: the table is lost, and said to be.
                EXPECT_EQ(kind, damage::Kind::CutOff);
                EXPECT_TRUE(std::any_of(r.lost_tables.begin(), r.lost_tables.end(),
                                        [&](const jet::LostTable& l) { return l.name == d->table; }));
                EXPECT_FALSE(fixed.found);
                continue;
            }
            // Rows of undamaged pages are all kept, but for those named as lost for
            // want of index keys.
            std::vector<TableRow> survivors;
            for (const auto& row : Survivors(orig, *d))
                if (!(KeysMissing(*t) && Named(*t, row.slot))) survivors.push_back(row);
            std::string missing;
            EXPECT_TRUE(Contains(Lines(fixed.rows), Lines(survivors), &missing))
                << "a row of an undamaged page is missing: " << missing;
            EXPECT_EQ(t->rows_salvaged, fixed.rows.size());
            lossless_kind += damage::Lossless(kind);
            if (damage::Lossless(kind) && !KeysMissing(*t)) {
                EXPECT_EQ(Lines(fixed.rows), Lines(orig.rows));
                EXPECT_TRUE(r.lossless()) << (t->losses.empty() ? "" : t->losses.front().Describe());
                EXPECT_EQ(MdbExport(out, d->table), MdbExport(src, d->table));
                lossless += r.lossless();
            } else {
                // Every row of the original that is not in the new file is named, when
                // an index or a slot tells where it was; a zeroed page without an
                // index to name its rows shows in the count.
                std::multiset<std::string> kept;
                for (const auto& row : fixed.rows) kept.insert(row.line);
                bool unnamed = false;
                for (const auto& row : orig.rows) {
                    auto it = kept.find(row.line);
                    if (it != kept.end()) {
                        kept.erase(it);
                        continue;
                    }
                    bool value_lost = false;
                    for (const auto& l : t->losses)
                        value_lost = value_lost || (l.kind == jet::SalvageLoss::Kind::Value && l.at == row.slot);
                    if (!value_lost && !Named(*t, row.slot)) unnamed = true;
                }
                // A torn page's rows that still read are kept as they read: nothing
                // tells them from the rows that were there.
                if (unnamed && kind != damage::Kind::TornPage) {
                    EXPECT_LT(t->rows_salvaged, t->definition_rows);
                }
                if (fixed.rows.size() < orig.rows.size()) {
                    EXPECT_FALSE(r.lossless());
                }
                // mdbtools reads the same rows as our reader.
                EXPECT_EQ(MdbExport(out, d->table).size(), fixed.rows.size() + 1);
            }
        }
    }
    std::cout << "repair: " << cases << " damaged copies, " << lossless_kind
              << " with damage to derived structures only, " << lossless << " of them lossless\n";
    EXPECT_GT(cases, 100);
    EXPECT_GT(lossless, 20);
}

}  // namespace

namespace {

// The command line: exit status by verdict, the JSON report naming the lost rows'
// page, and no second destination.
TEST(RepairCommand, ExitStatusAndJsonReportFollowTheVerdict) {
    TempDir tmp;
    const fs::path src = CorpusDir() / "jet4" / "indexTestV2000.mdb";
    const std::string cmd = Quote(Mdbcompact().string()) + " repair ";
    const fs::path cleared = tmp.path() / "cleared.mdb", zeroed = tmp.path() / "zeroed.mdb";
    ASSERT_TRUE(damage::Apply(src, damage::Kind::ClearedMap, cleared));
    auto d = damage::Apply(src, damage::Kind::ZeroDataPage, zeroed);
    ASSERT_TRUE(d);
    auto ok = RunCommand(cmd + Quote(cleared.string()) + " " + Quote((tmp.path() / "a.mdb").string()));
    EXPECT_EQ(ok.exit_code, 0) << ok.out;
    EXPECT_NE(ok.out.find("verdict:    lossless"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("usage map made anew"), std::string::npos) << ok.out;
    auto lossy = RunCommand(cmd + "--json " + Quote(zeroed.string()) + " " +
                            Quote((tmp.path() / "b.mdb").string()));
    EXPECT_EQ(lossy.exit_code, 1) << lossy.out;
    EXPECT_NE(lossy.out.find("\"verdict\":\"lossy\""), std::string::npos) << lossy.out;
    EXPECT_NE(lossy.out.find("\"kind\":\"row\",\"page\":" + std::to_string(d->pages[0])),
              std::string::npos)
        << lossy.out;
    auto again = RunCommand(cmd + Quote(zeroed.string()) + " " + Quote((tmp.path() / "b.mdb").string()) +
                            " 2>&1");
    EXPECT_EQ(again.exit_code, 2);
    EXPECT_NE(again.out.find("already exists"), std::string::npos) << again.out;
}

}  // namespace

namespace {

// Rows on pages that the usage map does not list: the compaction, which follows the
// maps, refuses the file and names repair, which recovers every row.
TEST(Repair, CompactionRefusesRowsNoMapListsAndRepairKeepsThem) {
    TempDir tmp;
    int cases = 0;
    for (const auto& src : CorpusFiles(false)) {
        for (damage::Kind kind : {damage::Kind::ClearedMap, damage::Kind::UnlistedPage}) {
            SCOPED_TRACE(src.filename().string() + " " + damage::Name(kind));
            const fs::path damaged = tmp.path() / "damaged.mdb";
            const fs::path compacted = tmp.path() / "compacted.mdb", repaired = tmp.path() / "repaired.mdb";
            fs::remove(compacted);
            fs::remove(repaired);
            auto d = damage::Apply(src, kind, damaged, 3);
            if (!d) continue;
            ++cases;
            jet::CompactResult c = jet::Compact(damaged, compacted);
            EXPECT_FALSE(c.compacted) << "rows left out without a word";
            EXPECT_FALSE(fs::exists(compacted));
            EXPECT_NE(c.reason.find("the database is damaged: page "), std::string::npos) << c.reason;
            EXPECT_NE(c.reason.find("'mdbcompact repair' recovers"), std::string::npos) << c.reason;
            jet::RepairResult r = jet::Repair(damaged, repaired);
            ASSERT_TRUE(r.repaired) << r.reason;
            EXPECT_TRUE(r.lossless());
            EXPECT_EQ(Lines(ReadRows(repaired, d->table).rows), Lines(ReadRows(src, d->table).rows));
        }
    }
    EXPECT_GT(cases, 30);
}

}  // namespace

namespace {

bool HasProblem(const jet::CheckReport& r, const std::string& text) {
    return std::any_of(r.problems.begin(), r.problems.end(),
                       [&](const jet::Problem& p) { return p.text.find(text) != std::string::npos; });
}

// A key that a unique index holds twice: check names both rows, repair keeps the
// earlier one and reports the later. Unique indexes that hold null keys more than
// once (testIndexPropertiesV2000) are sound, here and in the corpus check.
TEST(Repair, UniqueKeyGivenTwice) {
    TempDir tmp;
    int cases = 0;
    for (const auto& src : CorpusFiles(false)) {
        SCOPED_TRACE(src.filename().string());
        const fs::path damaged = tmp.path() / "damaged.mdb", repaired = tmp.path() / "repaired.mdb";
        fs::remove(repaired);
        auto d = damage::ApplyDuplicateKey(src, damaged);
        if (!d) continue;
        ++cases;
        const jet::RowAddr first = jet::UnpackRowPtr(d->first), second = jet::UnpackRowPtr(d->second);
        jet::CheckReport check = jet::CheckFile(damaged);
        EXPECT_TRUE(HasProblem(check, "rows " + first.ToString() + " and " + second.ToString() +
                                          " have the same key, but the index is unique"));
        jet::RepairResult r = jet::Repair(damaged, repaired);
        ASSERT_TRUE(r.repaired) << r.reason;
        EXPECT_FALSE(r.lossless());
        const jet::TableRepair* t = Find(r, d->table);
        ASSERT_TRUE(t);
        EXPECT_TRUE(Named(*t, second));
        EXPECT_FALSE(Named(*t, first));
        EXPECT_EQ(t->rows_salvaged + 1, ReadRows(src, d->table).rows.size());
        EXPECT_TRUE(jet::CheckFile(repaired).sound());
    }
    EXPECT_GE(cases, 3);
    EXPECT_TRUE(jet::CheckFile(CorpusDir() / "jet4" / "testIndexPropertiesV2000.mdb").sound());
}

}  // namespace

namespace {

// A killed repair leaves its side file of changed pages beside the empty temporary
// output it held; the next repair in the directory removes both, whatever their
// destination, and leaves a live repair's side file alone.
TEST(Repair, KilledRunsSalvageCopyGoesWithTheNextRun) {
    TempDir tmp;
    const fs::path src = tmp.path() / "src.mdb";
    fs::copy_file(CorpusDir() / "jet4" / "indexTestV2000.mdb", src);
    const std::vector<fs::path> dead = {tmp.path() / ".site.mdb.compact-k1lled",
                                        tmp.path() / ".site.mdb.compact-k1lled.salvage"};
    for (const auto& f : dead) std::ofstream(f) << "x";
    jet::OutputFile live;
    std::string err;
    ASSERT_TRUE(live.Create(tmp.path() / "busy.mdb", 4096, &err)) << err;
    fs::path live_copy = live.temp_path();
    live_copy += ".salvage";
    std::ofstream(live_copy) << "x";
    const fs::path other = tmp.path() / ".site.mdb.salvage";  // no run's name
    std::ofstream(other) << "x";

    jet::RepairResult r = jet::Repair(src, tmp.path() / "out.mdb");
    ASSERT_TRUE(r.repaired) << r.reason;
    for (const auto& f : dead) EXPECT_FALSE(fs::exists(f)) << "a killed run's file stayed: " << f;
    EXPECT_TRUE(fs::exists(live_copy)) << "a live run's copy was removed";
    EXPECT_TRUE(fs::exists(other));
    std::size_t files = 0;  // the run's own: nothing beside what was there and its result
    for (const auto& e : fs::directory_iterator(tmp.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 5u);  // src, out, the live run's two files, the other name
}

// The side file of the pages a repair changes or adds lives as long as the run: one
// that fails at the end (its destination taken meanwhile) leaves nothing behind.
TEST(Repair, AFailedRunLeavesNoSideFile) {
    TempDir tmp;
    const fs::path src = tmp.path() / "src.mdb", dst = tmp.path() / "out.mdb";
    ASSERT_TRUE(damage::Apply(CorpusDir() / "jet4" / "indexTestV2000.mdb", damage::Kind::IndexGarbage, src));
    std::uintmax_t side_bytes = 0;
    jet::RepairResult r = jet::Repair(src, dst, [&](const jet::CompactProgress&) {
        for (const auto& e : fs::directory_iterator(tmp.path()))
            if (e.path().extension() == ".salvage") side_bytes = e.file_size();
        if (!fs::exists(dst)) std::ofstream(dst) << "taken";
    });
    EXPECT_FALSE(r.repaired);
    EXPECT_GT(side_bytes, 0u) << "the new index's pages are in no side file";
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(tmp.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);  // the source and the file that took the destination's name
}

}  // namespace

namespace {

// A page of one table that another table's map lists instead of its own: the
// compaction, which reads each table's listed pages that it owns, refuses the file;
// check names the page and repair recovers the owner's rows.
// The same when an index's or a long-value column's map lists the page: only the
// owner's own map accounts for its data pages.
TEST(Repair, CompactionRefusesACrossLinkedPage) {
    TempDir tmp;
    int cases[3] = {0, 0, 0};
    for (const auto& src : CorpusFiles(false)) {
        for (int how : {0, 1, 2}) {
            SCOPED_TRACE(src.filename().string() + " " + std::to_string(how));
            const fs::path damaged = tmp.path() / "damaged.mdb";
            const fs::path compacted = tmp.path() / "compacted.mdb",
                           repaired = tmp.path() / "repaired.mdb";
            fs::remove(compacted);
            fs::remove(repaired);
            auto d = damage::ApplyCrossLinkedPage(src, damaged, damage::Lister(how));
            if (!d) continue;
            ++cases[how];
            jet::CompactResult c = jet::Compact(damaged, compacted);
            EXPECT_FALSE(c.compacted) << "rows left out without a word";
            EXPECT_NE(c.reason.find("the database is damaged: page " + std::to_string(d->page) +
                                    " of table '" + d->owner + "'"),
                      std::string::npos)
                << c.reason;
            EXPECT_FALSE(jet::CheckFile(damaged).sound());
            jet::RepairResult r = jet::Repair(damaged, repaired);
            ASSERT_TRUE(r.repaired) << r.reason;
            EXPECT_EQ(Lines(ReadRows(repaired, d->owner).rows),
                      Lines(ReadRows(src, d->owner).rows));
        }
    }
    EXPECT_GE(cases[0], 3);
    EXPECT_GE(cases[1], 3);
    EXPECT_GE(cases[2], 1);
}

}  // namespace

namespace {

// An overflow row whose home slot was flagged deleted: the compaction, which reads
// rows through their home slots, refuses the file, and check names the row (repair
// keeping it is the damage suite's LostHomeSlot).
TEST(Repair, CompactionRefusesARowWhoseHomeSlotWasLost) {
    TempDir tmp;
    int cases = 0;
    for (const auto& src : CorpusFiles(true)) {  // the bloated sample's tables have many
        for (std::uint32_t seed : {1u, 2u}) {
            SCOPED_TRACE(src.filename().string() + " seed " + std::to_string(seed));
            const fs::path damaged = tmp.path() / "damaged.mdb",
                           compacted = tmp.path() / "compacted.mdb";
            auto d = damage::Apply(src, damage::Kind::LostHomeSlot, damaged, seed);
            if (!d) continue;
            ++cases;
            const std::string row = "row " + jet::UnpackRowPtr(d->orphan).ToString();
            jet::CompactResult c = jet::Compact(damaged, compacted);
            EXPECT_FALSE(c.compacted) << "a row left out without a word";
            EXPECT_FALSE(fs::exists(compacted));
            EXPECT_NE(c.reason.find("the database is damaged: " + row + " of table '" + d->table +
                                    "' is an overflow row whose home slot was lost"),
                      std::string::npos)
                << c.reason;
            EXPECT_TRUE(HasProblem(jet::CheckFile(damaged),
                                   "table '" + d->table + "': " + row + " is flagged deleted"));
            // The repair keeps the row where it lies, and the entries that name its lost
            // home slot name it: nothing is lost.
            const fs::path repaired = tmp.path() / "repaired.mdb";
            fs::remove(repaired);
            const jet::RepairResult r = jet::Repair(damaged, repaired);
            ASSERT_TRUE(r.repaired) << r.reason;
            EXPECT_TRUE(r.lossless());
            for (const jet::TableRepair& t : r.tables)
                for (const jet::SalvageLoss& l : t.losses) ADD_FAILURE() << t.name << ": " << l.reason;
        }
    }
    EXPECT_GE(cases, 4);
}

}  // namespace

namespace {

// The entries of index `index` of `table` in `db`, by the row each names.
std::vector<jet::RowAddr> IndexRows(const fs::path& db, const std::string& table, std::size_t index) {
    jet::Status status;
    auto d = jet::Database::Open(db, &status);
    std::vector<jet::RowAddr> rows;
    if (!d) return rows;
    for (const jet::CatalogEntry* e : d->Tables(false)) {
        if (e->name != table) continue;
        const jet::TableDef& def = d->Definition(e->tdef_page());
        jet::WalkIndexPastDamage(d->file(), def.real_indexes[index].root, def.page,
                                 jet::LeafPageVisitor([&](std::span<const jet::IndexEntry> entries, std::uint32_t) {
                                     for (const jet::IndexEntry& x : entries) rows.push_back(x.row);
                                 }));
    }
    return rows;
}

// The rows any index of `table` names, as far as its leaves can be read.
std::set<jet::RowAddr> NamedByAnIndex(const fs::path& db, const std::string& table) {
    jet::Status status;
    auto d = jet::Database::Open(db, &status);
    std::set<jet::RowAddr> named;
    if (!d) return named;
    for (const jet::CatalogEntry* e : d->Tables(false)) {
        if (e->name != table) continue;
        for (std::size_t i = 0; i < d->Definition(e->tdef_page()).real_indexes.size(); ++i) {
            const std::vector<jet::RowAddr> rows = IndexRows(db, table, i);
            named.insert(rows.begin(), rows.end());
        }
    }
    return named;
}

// A zeroed data page leaves index entries that name its rows. A compaction refuses
// them; told that some indexes may name rows that are gone, it leaves out exactly
// those indexes' entries of such rows, tells each one, and still refuses an entry of
// any other index that names no live row.
TEST(Repair, CompactionLeavesOutOnlyTheEntriesOfMissingRowsItIsAllowedTo) {
    TempDir tmp;
    int cases = 0;
    for (const auto& src : CorpusFiles(false)) {
        SCOPED_TRACE(src.filename().string());
        const fs::path damaged = tmp.path() / "damaged.mdb", out = tmp.path() / "out.mdb";
        auto d = damage::Apply(src, damage::Kind::ZeroDataPage, damaged);
        if (!d) continue;
        jet::Status status;
        std::uint32_t tdef = 0;
        std::size_t n = 0;
        {
            auto db = jet::Database::Open(damaged, &status);
            ASSERT_TRUE(db) << status.reason;
            for (const jet::CatalogEntry* e : db->Tables(false))
                if (e->name == d->table) tdef = e->tdef_page(), n = db->Definition(tdef).real_indexes.size();
        }
        // Per index, the entries that name a row of the zeroed page.
        std::vector<std::vector<jet::RowAddr>> lost(n);
        std::size_t naming = 0;  // indexes with such entries
        for (std::size_t i = 0; i < n; ++i) {
            for (jet::RowAddr r : IndexRows(damaged, d->table, i))
                if (d->Lost(r.page)) lost[i].push_back(r);
            naming += !lost[i].empty();
        }
        if (naming == 0) continue;
        ++cases;
        fs::remove(out);
        jet::CompactResult plain = jet::Compact(damaged, out);
        EXPECT_FALSE(plain.compacted);
        EXPECT_NE(plain.reason.find("which holds no live row"), std::string::npos) << plain.reason;

        jet::CompactOptions allowed;
        std::vector<std::vector<jet::RowAddr>> told(n);
        for (std::size_t i = 0; i < n; ++i) allowed.drop_entries_of_missing_rows.insert({tdef, static_cast<std::uint32_t>(i)});
        allowed.entry_dropped = [&](const jet::SourceIndex& ix, jet::RowAddr row, jet::Bytes) {
            ASSERT_EQ(ix.table, tdef);
            told[ix.index].push_back(row);
        };
        jet::CompactResult c = jet::Compact(damaged, out, {}, allowed);
        ASSERT_TRUE(c.compacted) << c.reason;
        EXPECT_TRUE(jet::CheckFile(out).sound());
        EXPECT_EQ(Lines(ReadRows(out, d->table).rows), Lines(Survivors(ReadRows(src, d->table), *d)));
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(told[i], lost[i]) << "index " << i;
            EXPECT_EQ(IndexRows(out, d->table, i).size(), IndexRows(damaged, d->table, i).size() - lost[i].size())
                << "index " << i;
        }

        // One index that names lost rows left out of the allowed ones: refused.
        for (std::size_t i = 0; i < n; ++i) {
            if (lost[i].empty()) continue;
            jet::CompactOptions partly = allowed;
            partly.drop_entries_of_missing_rows.erase({tdef, static_cast<std::uint32_t>(i)});
            fs::remove(out);
            jet::CompactResult p = jet::Compact(damaged, out, {}, partly);
            EXPECT_FALSE(p.compacted) << "index " << i;
            EXPECT_NE(p.reason.find("which holds no live row"), std::string::npos) << p.reason;
            break;
        }
    }
    EXPECT_GE(cases, 5);
}

}  // namespace

namespace {

// A zeroed index leaf, and in another leaf of that index an entry made to name the
// row beside its own: the index is not completed from the rows it lacks (its entries
// read no longer all agree with the rows) but made anew, and the file comes out sound
// with every row. The same with a zeroed data page of the table as well (its rows'
// entries then name rows not kept).
TEST(Repair, AWrongEntryBesideALostLeafIsNotCarriedOver) {
    TempDir tmp;
    int cases = 0, with_lost_rows = 0;
    for (const auto& src : CorpusFiles(true)) {
        for (std::uint32_t seed : {0u, 1u, 2u, 3u}) {
            const bool data_too = seed >= 2;
            SCOPED_TRACE(src.filename().string() + " seed " + std::to_string(seed));
            const fs::path damaged = tmp.path() / "damaged.mdb", out = tmp.path() / "out.mdb";
            auto d = damage::Apply(src, damage::Kind::ZeroIndexLeaf, damaged, seed);
            if (!d) continue;
            std::uint32_t page = 0, at = 0;  // the row byte of the entry changed
            {
                jet::Status status;
                auto db = jet::Database::Open(damaged, &status);
                ASSERT_TRUE(db) << status.reason;
                for (const jet::CatalogEntry* e : db->Tables(false)) {
                    if (e->name != d->table) continue;
                    const jet::TableDef& def = db->Definition(e->tdef_page());
                    if (jet::IsUniqueIndex(def, 0)) break;
                    // An entry in the middle of a leaf, its key unlike its neighbours':
                    // its row byte changed, its order holds.
                    jet::WalkIndexPastDamage(
                        db->file(), def.real_indexes[0].root, def.page,
                        jet::LeafPageVisitor([&](std::span<const jet::IndexEntry> es, std::uint32_t p) {
                            auto key = [&](std::size_t k) {
                                return std::span(es[k].bytes.data(), es[k].key_size);
                            };
                            for (std::size_t k = 1; k + 1 < es.size() && !page; ++k)
                                if (!std::ranges::equal(key(k - 1), key(k)) && !std::ranges::equal(key(k), key(k + 1)))
                                    page = p, at = es[k].offset + es[k].stored_size - 1;
                        }));
                }
                if (!page) continue;
                std::vector<std::uint8_t> image = ReadAll(damaged);
                image[std::size_t{page} * db->file().page_size() + at] ^= 1;
                db.reset();
                WriteAll(damaged, image);
            }
            TableRows expected = ReadRows(src, d->table);
            if (data_too) {
                const fs::path both = tmp.path() / "both.mdb";
                const auto lost = damage::Apply(damaged, damage::Kind::ZeroDataPage, both, seed);
                if (!lost || lost->table != d->table) continue;
                fs::rename(both, damaged);
                expected.rows = Survivors(expected, *lost);
                ++with_lost_rows;
            }
            ++cases;
            fs::remove(out);
            const jet::RepairResult r = jet::Repair(damaged, out);
            ASSERT_TRUE(r.repaired) << r.reason;
            const jet::CheckReport check = jet::CheckFile(out);
            EXPECT_TRUE(check.sound()) << (check.problems.empty() ? check.open_error : check.problems.front().text);
            EXPECT_EQ(Lines(ReadRows(out, d->table).rows), Lines(expected.rows));
            EXPECT_FALSE(r.ran_again);
        }
    }
    EXPECT_GE(cases, 2);
    EXPECT_GE(with_lost_rows, 1);
}

}  // namespace

namespace {

// The report of a repair, table by table, as text: what two repairs of one file must
// agree on.
std::vector<std::string> Report(const jet::RepairResult& r) {
    std::vector<std::string> v;
    for (const jet::TableRepair& t : r.tables) {
        v.push_back(t.name + " " + std::to_string(t.rows_salvaged) + " of " + std::to_string(t.definition_rows) +
                    ", indexes made anew " + std::to_string(t.indexes_rebuilt));
        for (const jet::SalvageLoss& l : t.losses) v.push_back("  " + l.Describe());
    }
    return v;
}

// The rows a zeroed data page held are named from the index entries the compaction
// leaves out, without walking the indexes again. When that compaction fails, the
// repair runs again the slower way, which finds them by walking: the run that
// follows gives the same file and the same report as a repair that never failed.
TEST(Repair, AFailedCompactionAfterSparedWalksIsRunAgainWithThem) {
    TempDir tmp;
    int retried = 0;
    for (const auto& src : CorpusFiles(false)) {
        SCOPED_TRACE(src.filename().string());
        const fs::path damaged = tmp.path() / "damaged.mdb";
        const fs::path plain_out = tmp.path() / "plain.mdb", out = tmp.path() / "out.mdb";
        auto d = damage::Apply(src, damage::Kind::ZeroDataPage, damaged);
        if (!d) continue;
        fs::remove(plain_out);
        fs::remove(out);
        const jet::RepairResult plain = jet::Repair(damaged, plain_out);
        ASSERT_TRUE(plain.repaired) << plain.reason;
        // The first compaction fails as it begins writing; a second one shows as a
        // Reading stage after that.
        bool thrown = false, again = false;
        const jet::RepairResult r = jet::Repair(damaged, out, [&](const jet::CompactProgress& p) {
            if (thrown && p.stage == jet::CompactProgress::Stage::Reading) again = true;
            if (!thrown && p.stage == jet::CompactProgress::Stage::Writing) {
                thrown = true;
                throw std::runtime_error("the disk is full");
            }
        });
        ASSERT_TRUE(thrown);
        if (!again) {
            // Nothing was spared: the failure is the repair's.
            EXPECT_FALSE(r.repaired);
            EXPECT_NE(r.reason.find("the disk is full"), std::string::npos) << r.reason;
            continue;
        }
        ++retried;
        ASSERT_TRUE(r.repaired) << r.reason;
        EXPECT_TRUE(r.ran_again);
        EXPECT_FALSE(plain.ran_again);
        EXPECT_EQ(Report(r), Report(plain));
        EXPECT_EQ(ReadAll(out), ReadAll(plain_out));
    }
    EXPECT_GE(retried, 3);
}

}  // namespace

namespace {

// Leaves that cannot be read, in indexes of several pages: a leaf between two others,
// two leaves apart, two side by side, the last leaf (a node's tail), and a leaf beside
// a neighbour whose link back was broken as well. Where only the leaves are damaged
// they are written anew in place with the entries of the rows they held; elsewhere
// the index is made anew. Either way every row is kept and the file is sound.
TEST(Repair, ZeroedLeavesOfLargerIndexesAreMended) {
    TempDir tmp;
    std::set<std::string> shapes;
    int indexes = 0;  // two are enough: each case repairs the whole file
    for (const auto& src : CorpusFiles(true)) {
        jet::Status status;
        auto db = jet::Database::Open(src, &status);
        if (!db) continue;
        const std::uint32_t ps = db->file().page_size();
        const auto lay = jet::IndexPageLayout::For(db->jet3());
        for (const jet::CatalogEntry* e : db->Tables(false)) {
            const jet::TableDef& def = db->Definition(e->tdef_page());
            for (std::size_t i = 0; i < def.real_indexes.size() && indexes < 2; ++i) {
                const jet::IndexWalk walk = jet::WalkIndex(db->file(), def.real_indexes[i].root, def.page);
                std::vector<std::uint32_t> leaves;
                for (std::size_t k = 0; k < walk.pages.size(); ++k)
                    if (walk.walked[k].leaf) leaves.push_back(walk.pages[k]);
                if (!walk.problems.empty() || leaves.size() < 6) continue;
                ++indexes;
                const std::size_t n = leaves.size();
                const std::vector<std::pair<std::string, std::vector<std::uint32_t>>> cases = {
                    {"one", {leaves[n / 2]}},
                    {"apart", {leaves[1], leaves[n - 3]}},
                    {"side by side", {leaves[n / 2], leaves[n / 2 + 1]}},
                    {"last", {leaves[n - 1]}},
                    {"broken link beside", {leaves[2]}},
                };
                for (const auto& [shape, zeroed] : cases) {
                    SCOPED_TRACE(src.filename().string() + " " + e->name + " index " + std::to_string(i) + " " + shape);
                    std::vector<std::uint8_t> image = ReadAll(src);
                    for (std::uint32_t p : zeroed) std::fill_n(image.begin() + std::size_t{p} * ps, ps, 0);
                    if (shape == "broken link beside") {
                        // The leaf after the next one links back to a page of its own.
                        const std::size_t at = std::size_t{leaves[4]} * ps + lay.prev;
                        image[at] ^= 0x01;
                    }
                    const fs::path damaged = tmp.path() / "damaged.mdb", out = tmp.path() / "out.mdb";
                    WriteAll(damaged, image);
                    fs::remove(out);
                    const jet::RepairResult r = jet::Repair(damaged, out);
                    ASSERT_TRUE(r.repaired) << r.reason;
                    const jet::CheckReport check = jet::CheckFile(out);
                    EXPECT_TRUE(check.sound()) << (check.problems.empty() ? check.open_error : check.problems.front().text);
                    EXPECT_EQ(Lines(ReadRows(out, e->name).rows), Lines(ReadRows(src, e->name).rows));
                    EXPECT_TRUE(r.lossless());
                    // Mended, or made anew, at the first try: the compaction found
                    // nothing wrong with what the repair gave it.
                    EXPECT_FALSE(r.ran_again);
                    shapes.insert(shape);
                }
            }
        }
    }
    EXPECT_EQ(shapes.size(), 5u);
}

}  // namespace

namespace {

// A zeroed leaf and a zeroed data page in one table: the index is completed with the
// entries of the rows it lacks, and the entries of the rows lost, in it and in the
// other indexes, are left out by the compaction, at the first try. Every row of an
// undamaged page is kept, the file is sound and the loss is reported.
TEST(Repair, ALostLeafAndALostDataPageOfOneTable) {
    TempDir tmp;
    int cases = 0, named = 0;
    for (const auto& src : CorpusFiles(true)) {
        for (std::uint32_t seed : {0u, 1u, 2u}) {
            SCOPED_TRACE(src.filename().string() + " seed " + std::to_string(seed));
            const fs::path leaf = tmp.path() / "leaf.mdb", damaged = tmp.path() / "damaged.mdb",
                           out = tmp.path() / "out.mdb";
            const auto l = damage::Apply(src, damage::Kind::ZeroIndexLeaf, leaf, seed);
            if (!l) continue;
            const auto d = damage::Apply(leaf, damage::Kind::ZeroDataPage, damaged, seed);
            if (!d || d->table != l->table) continue;
            ++cases;
            fs::remove(out);
            const jet::RepairResult r = jet::Repair(damaged, out);
            ASSERT_TRUE(r.repaired) << r.reason;
            EXPECT_FALSE(r.ran_again);
            const jet::CheckReport check = jet::CheckFile(out);
            EXPECT_TRUE(check.sound()) << (check.problems.empty() ? check.open_error : check.problems.front().text);
            std::string missing;
            EXPECT_TRUE(Contains(Lines(ReadRows(out, d->table).rows), Lines(Survivors(ReadRows(src, d->table), *d)),
                                 &missing))
                << "a row of an undamaged page is missing: " << missing;
            const jet::TableRepair* t = Find(r, d->table);
            ASSERT_TRUE(t);
            // The rows lost are named, where an entry that can still be read names them.
            EXPECT_LT(t->rows_salvaged, t->definition_rows);
            const std::set<jet::RowAddr> listed = NamedByAnIndex(damaged, d->table);
            for (const TableRow& row : ReadRows(src, d->table).rows) {
                if (d->Lost(row.slot.page) && d->Lost(row.addr.page) && listed.count(row.slot)) {
                    ++named;
                    EXPECT_TRUE(Named(*t, row.slot)) << row.slot.ToString();
                }
            }
        }
    }
    EXPECT_GE(cases, 5);
    EXPECT_GT(named, 10);
}

}  // namespace
