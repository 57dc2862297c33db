// The large-file generator (tools/mdbgen) on a small scale: its files must be sound
// for our checker and for mdbtools, and compact to files that read the same.
#include <gtest/gtest.h>

#include <set>

#include "jet/checker.h"
#include "jet/compact/compactor.h"
#include "support.h"
#include "tools/mdbgen/generator.h"

namespace compacttest {
namespace {

struct Case {
    const char* file;  // below the corpus directory
    const char* table;
    std::uint64_t rows;  // more than two repeats of the table, the last one partial
    bool narrow;
    bool first_column_unique;
};

TEST(Generator, WritesSoundFilesThatCompactToTheSameRows) {
    Scratch s;
    int n = 0;
    // Long values (1 row, 7 long-value pages) and four indexes on a short table.
    for (Case c : {Case{"jet4/test2V2000.mdb", "MSP_PROJECTS", 301, false, false},
                   Case{"jet4/indexTestV2000.mdb", "Table1", 25003, true, true}}) {
        SCOPED_TRACE(c.table);
        jet::GenerateOptions o;
        o.source = CorpusDir() / c.file;
        o.output = s.dir() / ("gen" + std::to_string(n) + ".mdb");
        o.table = c.table;
        o.rows = c.rows;
        o.deleted_per_mille = 250;
        o.narrow = c.narrow;
        jet::GenerateResult g = jet::GenerateDatabase(o);
        ASSERT_TRUE(g.ok) << g.reason;
        EXPECT_EQ(g.rows_written, c.rows);
        EXPECT_NEAR(static_cast<double>(g.rows_live), c.rows * 0.75, c.rows * 0.05);
        jet::CheckReport r = jet::CheckFile(o.output);
        ASSERT_TRUE(r.sound()) << (r.problems.empty() ? r.open_error : r.problems[0].text);

#ifndef _WIN32  // mdbtools is a Linux program
        auto rows = SortedExport(o.output, c.table);
        EXPECT_EQ(rows.size(), g.rows_live + 2);  // with the header and exit code lines
        if (c.first_column_unique) {              // the primary key stays unique across the repeats
            std::set<std::string> ids;
            for (const auto& line : rows) ids.insert(line.substr(0, line.find(',')));
            EXPECT_EQ(ids.size(), rows.size());
        }
#endif

        fs::path out = s.dir() / ("gen" + std::to_string(n++) + "-compacted.mdb");
        jet::CompactResult cr = jet::Compact(o.output, out);
        ASSERT_TRUE(cr) << cr.reason;
        EXPECT_LT(cr.bytes_after, cr.bytes_before);
#ifndef _WIN32
        EXPECT_EQ(SortedExport(out, c.table), rows);
#endif
    }
    EXPECT_EQ(s.Listing().size(), 4u);  // no temporary file left
}

}  // namespace
}  // namespace compacttest
