// export on damaged copies of the corpus: it reads past what it cannot read, keeps
// every row that lies on an undamaged page, and says what it skipped.
#include <gtest/gtest.h>

#include "damage.h"
#include "rows.h"
#include "tests/jet/test_util.h"

using namespace jettest;
using namespace repairtest;

namespace {

bool HasValueLoss(const TableRows& t, jet::RowAddr slot) {
    for (const auto& l : t.losses)
        if (l.kind == jet::SalvageLoss::Kind::Value && l.at == slot) return true;
    return false;
}

TEST(ExportPastDamage, EveryKindOnEveryCorpusFileKeepsTheRowsOfUndamagedPages) {
    TempDir tmp;
    int cases = 0;
    for (const auto& src : CorpusFiles(false)) {
        for (damage::Kind kind : damage::AllKinds()) {
            if (kind == damage::Kind::CatalogRow) continue;  // the table is gone by name
            SCOPED_TRACE(src.filename().string() + " " + damage::Name(kind));
            const fs::path out = tmp.path() / "damaged.mdb";
            auto d = damage::Apply(src, kind, out, 7);
            if (!d) continue;
            ++cases;
            const TableRows orig = ReadRows(src, d->table);
            const TableRows dam = ReadRows(out, d->table);
            ASSERT_TRUE(dam.found);
            std::string missing;
            EXPECT_TRUE(Contains(Lines(dam.rows), Lines(Survivors(orig, *d)), &missing))
                << "a row of an undamaged page is missing: " << missing;
            if (damage::Lossless(kind)) {
                EXPECT_EQ(Lines(dam.rows), Lines(orig.rows));
                EXPECT_TRUE(dam.losses.empty()) << dam.losses.front().Describe();
            }
            // A value on a lost page is reported at its row, which is kept.
            for (const auto& r : orig.rows) {
                if (d->Lost(r.slot.page) || d->Lost(r.addr.page)) continue;
                for (auto p : r.value_pages) {
                    if (d->Lost(p)) {
                        EXPECT_TRUE(HasValueLoss(dam, r.slot)) << r.slot.ToString();
                    }
                }
            }
        }
    }
    EXPECT_GT(cases, 80);
}

// The cleared map of the issue: the rows are all there, on pages the map no longer
// lists. A plain export says so and fails; --salvage exports them.
TEST(ExportPastDamage, RowsOnUnlistedPagesAreNamedOrSalvaged) {
    TempDir tmp;
    const fs::path src = CorpusDir() / "jet4" / "indexTestV2000.mdb";
    const fs::path out = tmp.path() / "cleared.mdb";
    auto d = damage::Apply(src, damage::Kind::ClearedMap, out);
    ASSERT_TRUE(d);
    const std::string cmd = Quote(Mdbcompact().string()) + " export ";
    const std::string args = Quote(out.string()) + " " + Quote(d->table);
    auto plain = RunCommand(cmd + args + " 2>&1 >/dev/null");
    EXPECT_EQ(plain.exit_code, 1);
    EXPECT_NE(plain.out.find("usage map does not list"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("--salvage"), std::string::npos) << plain.out;
    auto salvaged = RunCommand(cmd + "--salvage " + args + " 2>/dev/null");
    auto whole = RunCommand(cmd + Quote(src.string()) + " " + Quote(d->table));
    EXPECT_EQ(salvaged.exit_code, 0);
    EXPECT_EQ(salvaged.out, whole.out);
    EXPECT_GT(ParseCsv(whole.out).size(), 1u);
}

// Overflow rows whose home slots were on the zeroed page are found at their own
// address: the large sample holds thousands of overflow rows.
TEST(ExportPastDamage, OverflowRowsWhoseHomeSlotWasLostAreKept) {
    const fs::path src = CorpusDir() / "bloated" / "site_orders_jet4.mdb";
    if (!fs::exists(src)) GTEST_SKIP() << "no large sample";
    TempDir tmp;
    const fs::path out = tmp.path() / "zeroed.mdb";
    const TableRows* orig_rows = nullptr;
    TableRows orig;
    for (std::uint32_t seed = 0; seed < 40; ++seed) {
        auto d = damage::Apply(src, damage::Kind::ZeroDataPage, out, seed);
        ASSERT_TRUE(d);
        if (!orig_rows) orig = ReadRows(src, d->table), orig_rows = &orig;
        std::size_t homeless = 0;  // rows whose slot is on the page, bytes elsewhere
        for (const auto& r : orig.rows) homeless += d->Lost(r.slot.page) && !d->Lost(r.addr.page);
        if (!homeless) continue;
        const TableRows dam = ReadRows(out, d->table);
        std::vector<TableRow> kept = Survivors(orig, *d);
        for (const auto& r : orig.rows)
            if (d->Lost(r.slot.page) && !d->Lost(r.addr.page)) kept.push_back(r);
        std::string missing;
        EXPECT_TRUE(Contains(Lines(dam.rows), Lines(kept), &missing)) << missing;
        EXPECT_EQ(dam.rows.size(), kept.size());
        return;
    }
    FAIL() << "no zeroed page held the home slot of an overflow row";
}

}  // namespace
