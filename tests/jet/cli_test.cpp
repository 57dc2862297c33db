// The command line of mdbcompact: help, argument errors, exit codes, info.
#include <gtest/gtest.h>

#include "jet/checker.h"
#include "test_util.h"

using namespace jettest;

namespace {

RunResult Mdb(const std::string& args) {
    return RunCommand(Quote(Mdbcompact().string()) + " " + args + " 2>&1");
}

TEST(Cli, HelpAndArgumentErrors) {
    EXPECT_EQ(Mdb("--help").exit_code, 0);
    for (const char* cmd : {"info", "check", "export", "tables"}) {
        auto r = Mdb(std::string(cmd) + " --help");
        EXPECT_EQ(r.exit_code, 0) << cmd;
        EXPECT_NE(r.out.find(std::string("usage: mdbcompact ") + cmd), std::string::npos);
    }
    EXPECT_NE(Mdb("export --help").out.find("Canonical form"), std::string::npos);
    EXPECT_EQ(Mdb("").exit_code, 2);
    EXPECT_EQ(Mdb("frobnicate x.mdb").exit_code, 2);
    EXPECT_EQ(Mdb("check").exit_code, 2);
    EXPECT_EQ(Mdb("check a.mdb b.mdb").exit_code, 2);
    EXPECT_EQ(Mdb("export " + Quote((CorpusDir() / "jet4" / "testV2000.mdb").string())).exit_code,
              2);
}

TEST(Cli, UnreadableFilesAndUnknownTables) {
    TempDir tmp;
    auto missing = Mdb("check " + Quote((tmp.path() / "nope.mdb").string()));
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.out.find("nope.mdb"), std::string::npos);
    auto dir = Mdb("info " + Quote(tmp.path().string()));
    EXPECT_EQ(dir.exit_code, 2);
    EXPECT_NE(dir.out.find("directory"), std::string::npos);
    fs::path f = tmp.Copy(CorpusDir() / "jet4" / "testV2000.mdb");
    auto t = Mdb("export " + Quote(f.string()) + " NoSuchTable");
    EXPECT_EQ(t.exit_code, 2);
    EXPECT_NE(t.out.find("NoSuchTable"), std::string::npos);
}

TEST(Cli, InfoNamesFormatTablesAndEstimate) {
    TempDir tmp;
    fs::path f = tmp.Copy(CorpusDir() / "jet3" / "testV1997.mdb");
    auto r = Mdb("info " + Quote(f.string()));
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("Jet 3"), std::string::npos);
    EXPECT_NE(r.out.find("page size:   2048"), std::string::npos);
    jet::CheckReport rep = jet::CheckFile(f);
    for (const auto& t : rep.tables) {
        if (t.system) continue;
        EXPECT_NE(r.out.find("  " + t.name + ": " + std::to_string(t.live_rows) + " rows"),
                  std::string::npos)
            << t.name;
    }
    EXPECT_NE(r.out.find("unreachable pages: " + std::to_string(rep.unreachable.size())),
              std::string::npos);
    EXPECT_NE(r.out.find("estimated size after compaction: " + std::to_string(rep.estimated_size)),
              std::string::npos);
    EXPECT_NE(r.out.find("check: sound"), std::string::npos);
    // --pages: one line per page, each with its role.
    auto pages = Mdb("info --pages " + Quote(f.string()));
    ASSERT_EQ(pages.exit_code, 0);
    auto at = pages.out.find("page roles:\n");
    ASSERT_NE(at, std::string::npos);
    std::size_t lines = 0;
    for (std::size_t i = at; i < pages.out.size(); ++i) lines += pages.out[i] == '\n';
    EXPECT_EQ(lines - 1, rep.header.page_count);
    EXPECT_NE(pages.out.find("  2: table definition (MSysObjects)"), std::string::npos);
    EXPECT_NE(pages.out.find(": unreachable (type"), std::string::npos);
    auto c = Mdb("check " + Quote(f.string()));
    EXPECT_EQ(c.exit_code, 0);
    EXPECT_EQ(c.out, "sound\n");
}

}  // namespace
