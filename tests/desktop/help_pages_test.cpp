// Local help pages: path, session identifier, missing pages and the integrity check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>

#include "common/i18n.h"
#include "desktop/help_pages.h"
#include "fake_view.h"
#include "platform/paths.h"
#include "program_dir.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

class HelpPagesTest : public ::testing::Test {
  protected:
    // Puts a page into config/ and lists it in the manifest.
    void ShipPage(const std::string& name, const std::string& html) {
        WriteFile(dir.Path() / "config" / name, html);
        std::ofstream manifest(dir.Path() / kManifestFileName, std::ios::app);
        manifest << Sha256OfFile(dir.Path() / "config" / name) << "  config/" << name << "\n";
    }

    ProgramDir dir;
    DesktopContext ctx = dir.Context();
    DesktopState state;
    FakeView view;
};

TEST_F(HelpPagesTest, Sha256OfAKnownText) {
    WriteFile(dir.Path() / "abc", "abc");
    EXPECT_EQ(Sha256OfFile(dir.Path() / "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile(dir.Path() / "missing"), "");
}

TEST_F(HelpPagesTest, ShippedPageGivesItsAddress) {
    ShipPage(kPageScan, "<!DOCTYPE html><p>扫描</p>");
    std::string url;
    ASSERT_TRUE(ShowLocalPage(ctx, view, kPageScan, url));
    EXPECT_TRUE(view.messages.empty());
    const std::string page = (dir.Path() / "config" / "HelpScan.Dat").string();
    const std::string prefix = "file://" + page + "?SessionId=";
    ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
    EXPECT_TRUE(std::regex_match(url.substr(prefix.size()), std::regex("[0-9]+")));
    EXPECT_EQ(LocalPathOfPageUrl(url), page);
}

TEST_F(HelpPagesTest, MissingPageIsReported) {
    std::string url = "stale";
    EXPECT_FALSE(ShowLocalPage(ctx, view, kPageMonitor, url));
    EXPECT_EQ(url, "");
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              "读取配置文件 " + (dir.Path() / "config" / "HelpMon.dat").string() + " 失败，请重试！");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
}

TEST_F(HelpPagesTest, PagesFailingTheIntegrityCheckAreRefused) {
    // No manifest at all.
    WriteFile(dir.Path() / "config" / kPageReadLog, "<!DOCTYPE html>");
    std::string url;
    EXPECT_FALSE(ShowLocalPage(ctx, view, kPageReadLog, url));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
    EXPECT_NE(view.messages[0].text.find("HelpReadLog.dat"), std::string::npos);
    EXPECT_EQ(CheckAgainstManifest(dir.Path(), "config/HelpReadLog.dat"),
              ManifestCheck::NoManifest);

    // Listed, then changed afterwards.
    ShipPage(kPageScan, "<!DOCTYPE html><p>原文</p>");
    WriteFile(dir.Path() / "config" / kPageScan, "<!DOCTYPE html><p>被改动</p>");
    EXPECT_FALSE(ShowLocalPage(ctx, view, kPageScan, url));
    EXPECT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(CheckAgainstManifest(dir.Path(), "config/HelpScan.Dat"), ManifestCheck::Differs);

    // A manifest that does not list the page.
    EXPECT_EQ(CheckAgainstManifest(dir.Path(), "config/HelpReadLog.dat"), ManifestCheck::NotListed);
    EXPECT_FALSE(ShowLocalPage(ctx, view, kPageReadLog, url));
    EXPECT_EQ(view.messages.size(), 3u);
}

TEST_F(HelpPagesTest, ProgramDirectoryFailure) {
    ctx.exeDirectory = [](std::string&) { return 0; };
    std::string url;
    EXPECT_FALSE(ShowLocalPage(ctx, view, kPageScan, url));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "获取EXE文件路劲失败，请重试！");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
}

TEST_F(HelpPagesTest, SessionIdIsTheSixDrawsLastFirst) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string id = MakeSessionId();
        if (std::time(nullptr) != before) continue;  // crossed a second boundary: try again
        std::srand(static_cast<unsigned>(before));
        int v[6];
        for (int& x : v) x = std::rand();
        std::string expected;
        for (int i = 5; i >= 0; --i) expected += std::to_string(v[i]);
        EXPECT_EQ(id, expected);
        return;
    }
    FAIL() << "clock kept moving";
}

TEST_F(HelpPagesTest, CallerShowsThePaneOnceAndNavigates) {
    ShipPage(kPageReadLog, "<!DOCTYPE html>");
    ASSERT_TRUE(ShowLocalPageInHelpPane(ctx, state, view, kPageReadLog));
    EXPECT_EQ(state.helpPaneShown.load(), 1);
    EXPECT_EQ(view.helpPaneShownCalls, 1);
    ASSERT_EQ(view.navigations.size(), 1u);
    EXPECT_NE(view.navigations[0].find("HelpReadLog.dat?SessionId="), std::string::npos);

    ASSERT_TRUE(ShowLocalPageInHelpPane(ctx, state, view, kPageReadLog));
    EXPECT_EQ(view.helpPaneShownCalls, 1);
    EXPECT_EQ(view.navigations.size(), 2u);

    EXPECT_FALSE(ShowLocalPageInHelpPane(ctx, state, view, kPageMonitor));
    EXPECT_EQ(view.navigations.size(), 2u);
}

TEST_F(HelpPagesTest, FallbackStartPageIsSilent) {
    EXPECT_EQ(StartPageUrl(ctx), "");
    ShipPage(kPageReadLog, "<!DOCTYPE html>");
    const std::string page = (dir.Path() / "config" / "HelpReadLog.dat").string();
    EXPECT_EQ(StartPageUrl(ctx).rfind("file://" + page + "?SessionId=", 0), 0u);
    EXPECT_TRUE(view.messages.empty());
}

// Under an English window the English page shipped beside a Chinese one is shown; a
// page without a translation stays Chinese, and a Chinese window shows Chinese pages.
TEST_F(HelpPagesTest, TheWindowsLanguageChoosesThePage) {
    ShipPage(kPageReadLog, "<!DOCTYPE html><p>第一次使用</p>");
    ShipPage("HelpReadLog.en.dat", "<!DOCTYPE html><p>First steps</p>");
    ShipPage(kPageScan, "<!DOCTYPE html><p>扫描</p>");
    const fs::path config = dir.Path() / "config";
    const auto pageOf = [&](const char* page) {
        std::string url;
        EXPECT_TRUE(ShowLocalPage(ctx, view, page, url)) << page;
        return fs::path(LocalPathOfPageUrl(url)).filename().string();
    };
    ASSERT_EQ(i18n::UseLanguage("en", MDB_DIST_DIR), "en");
    EXPECT_EQ(pageOf(kPageReadLog), "HelpReadLog.en.dat");
    EXPECT_EQ(fs::path(LocalPathOfPageUrl(StartPageUrl(ctx))).filename(), "HelpReadLog.en.dat");
    EXPECT_EQ(pageOf(kPageScan), "HelpScan.Dat");
    ASSERT_EQ(i18n::UseLanguage("zh_CN", MDB_DIST_DIR), "zh_CN");
    EXPECT_EQ(pageOf(kPageReadLog), "HelpReadLog.dat");
    EXPECT_EQ(fs::path(LocalPathOfPageUrl(StartPageUrl(ctx))).filename(), "HelpReadLog.dat");
    EXPECT_TRUE(view.messages.empty());
}

TEST(HelpPageUrl, OnlyLocalPageAddressesHaveAPath) {
    EXPECT_EQ(LocalPathOfPageUrl("http://example/x?SessionId=1"), "");
    EXPECT_EQ(LocalPathOfPageUrl("file:///a/b.dat"), "");
    EXPECT_EQ(LocalPathOfPageUrl("file:///a?b/c.dat?SessionId=12"), "/a?b/c.dat");
}

// The program directory the build produced (or, with MDB_PROGRAM_DIR_UNDER_TEST, an
// installed one, as scripts/test-packages checks it): the shipped pages are web pages
// and the manifest vouches for them and for every program that is there.
// The scan page's example site directory is one of the platform's. Each page has its
// English translation.
TEST(ShippedProgramDirectory, HelpPagesAndManifest) {
    const char* underTest = std::getenv("MDB_PROGRAM_DIR_UNDER_TEST");
    const fs::path dist = underTest ? underTest : MDB_DIST_DIR;
    for (const char* page : {kPageReadLog, kPageScan, kPageMonitor, "HelpReadLog.en.dat",
                             "HelpScan.en.Dat", "HelpMon.en.dat"}) {
        SCOPED_TRACE(page);
        std::ifstream in(dist / "config" / page, std::ios::binary);
        ASSERT_TRUE(in);
        std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // WebKit sniffs a page without a known extension as HTML only from its start.
        EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
        EXPECT_NE(html.find("charset=\"utf-8\""), std::string::npos);
        EXPECT_EQ(CheckAgainstManifest(dist, std::string("config/") + page), ManifestCheck::Match);
        const bool windowsExample = html.find("<code>d:\\wwwroot</code>") != std::string::npos;
        const bool posixExample = html.find("<code>/var/www</code>") != std::string::npos;
        const bool english = std::string(page).find(".en.") != std::string::npos;
        EXPECT_NE(html.find(english ? "<html lang=\"en\">" : "<html lang=\"zh-CN\">"), std::string::npos);
        if (fs::path(page).stem().stem() == "HelpScan") {
            EXPECT_TRUE(platform::kPathsHaveDrives ? windowsExample && !posixExample
                                                   : posixExample && !windowsExample);
        }
        if (fs::path(page).stem().stem() == "HelpMon") {  // the backup area is the platform's
            EXPECT_NE(html.find("<code>" + std::string(platform::kBackupRoot) + "</code>"),
                      std::string::npos);
        }
    }
    for (const char* program : {"mdbscout", "mdbcompact", "mdbscout_iisreset", "mdbscout_xconfig"}) {
        const std::string file = std::string(program) + MDB_PROGRAM_SUFFIX;
        EXPECT_EQ(CheckAgainstManifest(dist, file), ManifestCheck::Match) << file;
    }
    const std::string window = "mdbwarden" MDB_PROGRAM_SUFFIX;
    if (fs::exists(dist / window)) {  // not built without the toolkit
        EXPECT_EQ(CheckAgainstManifest(dist, window), ManifestCheck::Match);
    }
}

}  // namespace
}  // namespace mdb::desktop::testing
