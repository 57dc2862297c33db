// Every Jet file of the corpus compacts, verifies, reads the same through mdbtools,
// and compacts to the same bytes again.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "jet/checker.h"
#include "jet/compact/compactor.h"
#include "jet/database.h"
#include "support.h"

namespace compacttest {
namespace {

// Whether a compaction must spill under a budget of one byte: the long-value sorts
// then keep one row in memory, so a column with more rows spills and one with fewer
// does not. Unknown when a table's rows could lie either way.
std::optional<bool> SpillsUnderTinyBudget(const fs::path& file) {
    constexpr std::uint64_t kRowsKept = 1;
    jet::CheckReport report = jet::CheckFile(file);
    jet::Status st;
    auto db = jet::Database::Open(file, &st);
    if (!db) return std::nullopt;
    bool unknown = false;
    for (const jet::TableSummary& t : report.tables) {
        std::uint64_t columns = 0;
        for (const jet::Column& c : db->Definition(t.tdef_page).columns)
            columns += jet::IsLongValueType(c.type);
        if (t.long_value_rows > kRowsKept * columns) return true;
        if (t.long_value_rows > kRowsKept) unknown = true;
    }
    return unknown ? std::nullopt : std::optional<bool>(false);
}

class CorpusCompaction : public ::testing::TestWithParam<fs::path> {};

TEST_P(CorpusCompaction, CompactsVerifiesAndReadsTheSame) {
    Scratch s;
    const fs::path original = GetParam();
    fs::path src = s.Copy(original, "source.mdb");
    const auto source_bytes = ReadAll(src);
    fs::path out = s.dir() / "compacted.mdb";

    std::vector<jet::CompactProgress> progress;
    jet::CompactResult r =
        jet::Compact(src, out, [&](const jet::CompactProgress& p) { progress.push_back(p); });
    ASSERT_TRUE(r.compacted) << r.reason;
    EXPECT_TRUE(r.reason.empty());
    ASSERT_TRUE(fs::exists(out));
    // Progress: phases in order, counters that only grow, ending with every page written.
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GE(progress[i].stage, progress[i - 1].stage) << i;
        EXPECT_GE(progress[i].pages_written, progress[i - 1].pages_written) << i;
        if (progress[i].stage == progress[i - 1].stage) {
            EXPECT_GE(progress[i].done, progress[i - 1].done) << i;
        }
    }
    // The writing ends with all of its work counted (the share a bar shows is done).
    for (std::size_t i = progress.size(); i-- > 1;)
        if (progress[i - 1].stage == jet::CompactProgress::Stage::Writing &&
            progress[i].stage != jet::CompactProgress::Stage::Writing) {
            EXPECT_EQ(progress[i - 1].done, progress[i - 1].total);
            break;
        }
    EXPECT_EQ(progress.back().stage, jet::CompactProgress::Stage::Verifying);
    EXPECT_EQ(progress.back().pages_written, r.pages_after);
    EXPECT_EQ(progress.back().source_pages, r.pages_before);
    EXPECT_GT(progress.back().pages_read, 0u);

    // The source is untouched; the result is no larger and keeps the format.
    EXPECT_EQ(ReadAll(src), source_bytes);
    const auto out_bytes = ReadAll(out);
    EXPECT_LE(out_bytes.size(), source_bytes.size());
    EXPECT_EQ(r.bytes_before, source_bytes.size());
    EXPECT_EQ(r.bytes_after, out_bytes.size());
    EXPECT_EQ(out_bytes[0x14], source_bytes[0x14]) << "the format changed";
    EXPECT_TRUE(std::equal(source_bytes.begin(), source_bytes.begin() + 2048, out_bytes.begin()))
        << "the header page changed";

    // Sound for our checker, with nothing left unreachable.
    jet::CheckReport check = jet::CheckFile(out);
    ASSERT_TRUE(check.opened) << check.open_error;
    for (const auto& p : check.problems) ADD_FAILURE() << "page " << p.page << ": " << p.text;
    EXPECT_TRUE(check.unreachable.empty()) << check.unreachable.size() << " unreachable pages";
    for (const auto& t : check.tables) EXPECT_EQ(t.tombstones, 0u) << t.name;

#ifndef _WIN32
    // mdbtools (a Linux program) reads every table with the same rows.
    std::vector<std::string> tables = MdbTables(src);
    EXPECT_EQ(MdbTables(out), tables);
    for (const std::string& t : tables)
        EXPECT_EQ(SortedExport(out, t), SortedExport(src, t)) << "table " << t;
    // ... and the same schema: columns, indexes, relationships.
    EXPECT_EQ(Shell("mdb-schema " + Quote(out.string()) + " 2>&1").out,
              Shell("mdb-schema " + Quote(src.string()) + " 2>&1").out);
#endif

    // Compacting again changes nothing; the same source gives the same bytes.
    fs::path again = s.dir() / "again.mdb";
    jet::CompactResult r2 = jet::Compact(out, again);
    ASSERT_TRUE(r2.compacted) << r2.reason;
    EXPECT_EQ(fs::file_size(again), out_bytes.size());
    // The twin is made under a budget too small for anything, so the work that grows
    // with the rows goes through spill files, which are gone afterwards.
    fs::path twin = s.dir() / "twin.mdb";
    jet::CompactOptions tiny;
    tiny.memory_budget = 1;
    jet::CompactResult rt = jet::Compact(src, twin, {}, tiny);
    ASSERT_TRUE(rt.compacted) << rt.reason;
    EXPECT_EQ(ReadAll(twin), out_bytes) << "compaction is not deterministic";
    if (std::optional<bool> spills = SpillsUnderTinyBudget(src)) {
        EXPECT_EQ(rt.spilled, *spills);
    }
    EXPECT_FALSE(r.spilled);
    EXPECT_EQ(s.Listing(),
              (std::vector<std::string>{"again.mdb", "compacted.mdb", "source.mdb", "twin.mdb"}));
}

std::string Name(const ::testing::TestParamInfo<fs::path>& info) {
    std::string n = info.param.parent_path().filename().string() + "_" + info.param.stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusCompaction, ::testing::ValuesIn(CorpusJetFiles()), Name);

TEST(BloatedCompaction, ShrinksToASmallFraction) {
    fs::path bloated = CorpusDir() / "bloated" / "site_orders_jet4.mdb";
    if (!fs::exists(bloated)) GTEST_SKIP() << "no bloated sample in " << CorpusDir();
    Scratch s;
    fs::path out = s.dir() / "site.mdb";
    jet::CompactResult r = jet::Compact(bloated, out);
    ASSERT_TRUE(r.compacted) << r.reason;
    double fraction = static_cast<double>(r.bytes_after) / static_cast<double>(r.bytes_before);
    std::printf("bloated sample: %u -> %u pages (%.1f%% of its size)\n", r.pages_before,
                r.pages_after, 100.0 * fraction);
    // About 11,000 of its 16,000 pages are unreachable and most row slots are deleted.
    EXPECT_LT(fraction, 0.25);
    // Long-value rows packed first-fit-decreasing: 2,797 pages when they were placed
    // next-fit in file order, 2,387 packed.
    EXPECT_LE(r.pages_after, 2400u);
    jet::CheckReport check = jet::CheckFile(out);
    EXPECT_TRUE(check.sound());
    std::uint64_t overflow = 0;
    for (const auto& t : check.tables) overflow += t.overflow_rows;
    EXPECT_EQ(overflow, 0u) << "overflow rows were not resolved";
}

TEST(MdbcompactCompact, PrintsSizesAndTheSaving) {
    Scratch s;
    fs::path src = s.Copy(CorpusDir() / "jet4" / "testV2000.mdb");
    fs::path out = s.dir() / "out.mdb";
    ShellRun r = Shell(Quote(Mdbcompact().string()) + " compact " + Quote(src.string()) + " " +
                       Quote(out.string()) + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("before:     743 pages, 3043328 bytes"), std::string::npos) << r.out;
    std::string after = "after:      " + std::to_string(fs::file_size(out) / 4096) + " pages, " +
                        std::to_string(fs::file_size(out)) + " bytes";
    EXPECT_NE(r.out.find(after), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("saved:"), std::string::npos) << r.out;
    // The same bytes under the smallest memory budget.
    fs::path lean = s.dir() / "lean.mdb";
    ShellRun budget = Shell(Quote(Mdbcompact().string()) + " compact --memory-budget 1 " +
                            Quote(src.string()) + " " + Quote(lean.string()) + " 2>&1");
    EXPECT_EQ(budget.exit_code, 0) << budget.out;
    EXPECT_EQ(ReadAll(lean), ReadAll(out));
    // Not on a terminal: no progress line in the output.
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

#ifndef _WIN32  // script(1) is a Linux program
    // On a terminal (a pseudo-terminal from script(1)): the progress line with its
    // phases and page counts, cleared before the same summary.
    fs::path shown = s.dir() / "shown.mdb";
    ShellRun tty = Shell("script -qec " +
                         Quote(Quote(Mdbcompact().string()) + " compact " + Quote(src.string()) +
                               " " + Quote(shown.string())) +
                         " /dev/null");
    EXPECT_EQ(tty.exit_code, 0) << tty.out;
    for (const char* part : {"\rreading", "\rwriting", "\rverifying", "pages read", "written"})
        EXPECT_NE(tty.out.find(part), std::string::npos) << part << " in " << tty.out;
    EXPECT_NE(tty.out.find("\rcompacted:"), std::string::npos) << "the line was not cleared";
    EXPECT_NE(tty.out.find("saved:"), std::string::npos) << tty.out;
#endif

    // A second run refuses to overwrite, says why and exits 1.
    ShellRun again = Shell(Quote(Mdbcompact().string()) + " compact " + Quote(src.string()) + " " +
                           Quote(out.string()) + " 2>&1");
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_NE(again.out.find("not compacted: the destination"), std::string::npos) << again.out;
    EXPECT_EQ(
        Shell(Quote(Mdbcompact().string()) + " compact " + Quote(src.string()) + " >/dev/null 2>&1")
            .exit_code,
        2);
    EXPECT_EQ(Shell(Quote(Mdbcompact().string()) + " compact --no-verify " + Quote(src.string()) +
                    " " + Quote((s.dir() / "x.mdb").string()) + " >/dev/null 2>&1")
                  .exit_code,
              2);
    EXPECT_FALSE(fs::exists(s.dir() / "x.mdb"));
}

}  // namespace
}  // namespace compacttest
