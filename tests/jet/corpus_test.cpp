// Every corpus database reads like mdbtools reads it, and checks as sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "jet/checker.h"
#include "jet/csv_export.h"
#include "jet/database.h"
#include "jet/table.h"
#include "jet/usage_map.h"
#include "test_util.h"

using namespace jettest;

namespace {

// One canonical form for both exports: fields parsed from CSV; a field that reads
// fully as a number is printed with 10 significant digits (mdbtools prints Single
// with 8 and Double with 16 digits, we print the shortest exact text); hexadecimal
// in upper case; rows sorted (both follow physical order, which may differ only for
// overflow rows).
std::string CanonicalField(const std::string& f) {
    if (!f.empty()) {
        char* end = nullptr;
        double v = std::strtod(f.c_str(), &end);
        if (end && *end == 0 && f.find_first_not_of("0123456789+-.eE") == std::string::npos) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.10g", v);
            return buf;
        }
    }
    if (f.size() >= 2 && f.size() % 2 == 0 &&
        f.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        std::string u = f;
        for (auto& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return u;
    }
    return f;
}

struct Canonical {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

Canonical Canonicalize(const std::string& csv) {
    Canonical c;
    auto rows = ParseCsv(csv);
    if (rows.empty()) return c;
    c.header = rows[0];
    for (std::size_t i = 1; i < rows.size(); ++i) {
        for (auto& f : rows[i]) f = CanonicalField(f);
        c.rows.push_back(std::move(rows[i]));
    }
    std::sort(c.rows.begin(), c.rows.end());
    return c;
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

class CorpusFile : public ::testing::TestWithParam<fs::path> {};

TEST_P(CorpusFile, TablesAndEveryExportMatchMdbtools) {
#ifdef _WIN32
    GTEST_SKIP() << "mdbtools runs on Linux only";
#endif
    const fs::path src = GetParam();
    TempDir tmp;
    const fs::path f = tmp.Copy(src);
    auto ours = RunCommand(Quote(Mdbcompact().string()) + " tables " + Quote(f.string()));
    auto theirs = RunCommand("mdb-tables -1 " + Quote(f.string()));
    ASSERT_EQ(ours.exit_code, 0);
    ASSERT_EQ(theirs.exit_code, 0) << "mdbtools (mdb-tables) is needed";
    auto tables = Lines(theirs.out);
    EXPECT_EQ(Lines(ours.out), tables);
    for (const auto& t : tables) {
        SCOPED_TRACE("table " + t);
        auto a = RunCommand(Quote(Mdbcompact().string()) + " export " + Quote(f.string()) + " " +
                            Quote(t));
        auto b = RunCommand("mdb-export -b hex -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                            Quote(f.string()) + " " + Quote(t));
        ASSERT_EQ(a.exit_code, 0);
        ASSERT_EQ(b.exit_code, 0);
        Canonical ca = Canonicalize(a.out), cb = Canonicalize(b.out);
        EXPECT_EQ(ca.header, cb.header);
        ASSERT_EQ(ca.rows.size(), cb.rows.size());
        for (std::size_t i = 0; i < ca.rows.size(); ++i)
            ASSERT_EQ(ca.rows[i], cb.rows[i]) << "sorted row " << i;
    }
}

TEST_P(CorpusFile, ChecksAsSoundAndAccountsForEveryRow) {
    const fs::path f = GetParam();
    jet::CheckReport r = jet::CheckFile(f);
    ASSERT_TRUE(r.opened) << r.open_error;
    for (const auto& p : r.problems) ADD_FAILURE() << p.text;
    EXPECT_TRUE(r.sound());
    // Pages reached plus pages unreachable cover the file exactly once.
    std::size_t reached = 0;
    for (auto role : r.roles) reached += role != jet::PageRole::Unreachable;
    EXPECT_EQ(reached + r.unreachable.size(), r.header.page_count);
    EXPECT_EQ(r.roles.at(0), jet::PageRole::Header);
    EXPECT_EQ(r.roles.at(2), jet::PageRole::TableDef);
    for (const auto& t : r.tables) {
        if (!t.system) {
            EXPECT_EQ(t.live_rows, t.definition_rows) << t.name;
        }
    }
    EXPECT_GT(r.estimated_size, 0u);
    EXPECT_LE(r.estimated_size, r.header.file_size);
}

// Rows read with the data pages picked as the pages are read are the rows read with
// the pages listed first; every page of the owned map is shown once, in order.
TEST_P(CorpusFile, RowsAreTheSameWhenPagesArePickedOnTheWay) {
    jet::Status st;
    auto db = jet::Database::Open(GetParam(), &st);
    ASSERT_TRUE(db) << st.reason;
    for (const jet::CatalogEntry* e : db->Tables(true)) {
        const jet::TableDef& t = db->Definition(e->tdef_page());
        jet::TableReader listed(db->file(), t), on_the_way(db->file(), t);
        std::vector<jet::RowAddr> a, b;
        listed.ForEachRow([&](const jet::RowRef& r) { return a.push_back(r.slot), true; });
        std::vector<std::uint32_t> seen;
        on_the_way.ForEachRow([&](const jet::RowRef& r) { return b.push_back(r.slot), true; },
                              [&](std::uint32_t p, const jet::Page&) { seen.push_back(p); });
        EXPECT_EQ(a, b) << e->name;
        EXPECT_EQ(seen, jet::ReadUsageMap(db->file(), t.owned_map, db->file().page_count()).pages);
        EXPECT_EQ(on_the_way.DataPages(), listed.DataPages()) << e->name;
    }
}

std::string Name(const ::testing::TestParamInfo<fs::path>& info) {
    std::string n = info.param.parent_path().filename().string() + "_" + info.param.stem().string();
    for (auto& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFile, ::testing::ValuesIn(CorpusFiles(true)), Name);

TEST(CorpusFacts, BloatedFileMatchesItsDescription) {
    fs::path f = CorpusDir() / "bloated" / "site_orders_jet4.mdb";
    if (!fs::exists(f)) GTEST_SKIP() << "the large sample is not present";
    jet::CheckReport r = jet::CheckFile(f);
    ASSERT_TRUE(r.sound());
    std::uint64_t tomb = 0, overflow = 0;
    for (const auto& t : r.tables) {
        tomb += t.tombstones;
        overflow += t.overflow_rows;
    }
    // Figures measured independently when the file was made.
    EXPECT_EQ(tomb, 31903u);
    EXPECT_EQ(overflow, 5444u);
    EXPECT_GT(r.unreachable.size(), 10000u);
    EXPECT_LT(r.estimated_size, r.header.file_size / 4);
}

TEST(CorpusFacts, CatalogHoldsQueriesAndContainersWithTheirIds) {
    jet::Status st;
    auto db = jet::Database::Open(CorpusDir() / "jet4" / "queryTestV2000.mdb", &st);
    ASSERT_TRUE(db) << st.reason;
    int queries = 0;
    bool tables_container = false;
    for (const auto& e : db->catalog()) {
        if (e.type == 5) {
            ++queries;
            // Objects other than tables count up from 0x80000000.
            EXPECT_LT(e.id, 0) << e.name;
        }
        if (e.id == 0x0F000001) tables_container = e.name == "Tables";
    }
    EXPECT_GT(queries, 0);
    EXPECT_TRUE(tables_container);
    for (const auto* t : db->Tables(true)) {
        // A table's Id is the page of its definition.
        EXPECT_EQ(db->Definition(t->tdef_page()).page, static_cast<std::uint32_t>(t->id))
            << t->name;
    }
    EXPECT_EQ(db->FindTable("MSysObjects")->tdef_page(), 2u);
}

TEST(CorpusFacts, MostlyLeakedFileIsEstimatedSmall) {
    fs::path f = CorpusDir() / "jet4" / "testV2000.mdb";
    jet::CheckReport r = jet::CheckFile(f);
    ASSERT_TRUE(r.sound());
    // 743 pages of which about 50 are in use.
    EXPECT_EQ(r.header.page_count, 743u);
    EXPECT_GT(r.unreachable.size(), 600u);
    EXPECT_LT(r.estimated_size, 80u * 4096);
}

}  // namespace
