// The scan settings dialog's logic: the line-list normaliser, opening, the folder
// button and every rule of the confirm button, on real files in a temporary program
// directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/paths.h"
#include "common/text.h"
#include "desktop/scan_config.h"
#include "platform/arguments.h"
#include "tests/desktop/program_dir.h"

namespace fs = std::filesystem;
using namespace mdb::desktop;
using mdb::desktop::testing::ProgramDir;

namespace {

struct Shown {
    std::string text;
    MessageIcon icon;
};

class FakeScanConfigView : public ScanConfigView {
  public:
    std::string ReadBox() override { return box; }
    void ShowBox(const std::string& text) override {
        box = text;
        ++showCount;
    }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back({text, icon});
    }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answerYes;
    }
    void FocusBox() override { ++focusCount; }

    std::string box;
    int showCount = 0;
    std::vector<Shown> messages;
    std::vector<std::string> questions;
    bool answerYes = true;
    int focusCount = 0;
};

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

DesktopContext ContextAt(const std::string& programDir) {
    DesktopContext ctx;
    ctx.exeDirectory = [programDir](std::string& out) {
        out = programDir;
        return 1;
    };
    return ctx;
}

// ---- the normaliser ------------------------------------------------------------

TEST(LineListNormaliser, SplitsTrimsAndKeepsFirstOccurrences) {
    LineList out;
    ASSERT_TRUE(NormaliseLineList("  /srv/a \r\n\r\n\n/srv/b\r/srv/a\r\n\t/srv/c\t", {}, out));
    EXPECT_EQ(out.entries, (std::vector<std::string>{"/srv/a", "/srv/b", "/srv/c"}));
    EXPECT_EQ(out.count, 3);
    EXPECT_EQ(out.text, "/srv/a\r\n/srv/b\r\n/srv/c\r\n");

    // Multi-byte characters stay whole.
    ASSERT_TRUE(NormaliseLineList("/站点/论坛\n/站点/论坛 \n", {}, out));
    EXPECT_EQ(out.text, "/站点/论坛\r\n");
}

TEST(LineListNormaliser, BlankTextHasNoEntryAndBadInputsFail) {
    LineList out;
    EXPECT_TRUE(NormaliseLineList(" \r\n \t \r\n\r\n   ", {}, out));
    EXPECT_EQ(out.count, 0);
    EXPECT_TRUE(out.text.empty());

    out.count = 7;
    EXPECT_FALSE(NormaliseLineList("", {}, out));
    EXPECT_EQ(out.count, 0);
    LineListOptions noRoom;
    noRoom.minLength = 5;
    noRoom.maxLength = 5;
    EXPECT_FALSE(NormaliseLineList("/srv/a", noRoom, out));
    EXPECT_TRUE(out.entries.empty());
}

TEST(LineListNormaliser, LengthBoundsAreInclusive) {
    const std::string longest(260, 'a');
    const std::string tooLong(261, 'b');
    LineList out;
    ASSERT_TRUE(
        NormaliseLineList(tooLong + "\r\n" + longest + "\r\nx\r\n", ScanDirListOptions(), out));
    EXPECT_EQ(out.entries, (std::vector<std::string>{longest, "x"}));
}

TEST(LineListNormaliser, Switches) {
    LineList out;
    LineListOptions windows;
    windows.driveRoot = true;
    windows.ignoreCaseInDuplicates = true;
    ASSERT_TRUE(NormaliseLineList("D:\\Web\r\nd:\\web\r\nd:\r\nab:\r\n", windows, out));
    EXPECT_EQ(out.entries, (std::vector<std::string>{"D:\\Web", "d:\\", "ab:"}));

    LineListOptions lower;
    lower.lowerCase = true;
    ASSERT_TRUE(NormaliseLineList("/Srv/ÄB\r\n/srv/äb\r\n", lower, out));
    // Only ASCII letters are lowered, so the two lines differ in their last letter.
    EXPECT_EQ(out.entries, (std::vector<std::string>{"/srv/Äb", "/srv/äb"}));
}

std::string Repeat(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += piece;
    return out;
}

// The scan list is stored in the system code page: GBK on Chinese Windows, where "站" takes
// 2 bytes, UTF-8 here (3 bytes).
bool ListStoredInGbk() {
    return mdb::platform::SystemCodePageFromUtf8("站").size() == 2;
}

// Windows: a bare drive becomes its root, letter case makes no new directory, and lengths
// count the bytes of the stored list. Here: letter case tells directories apart, there
// are no drives, and lengths count UTF-8 bytes.
TEST(LineListNormaliser, TheScanListFollowsThePlatformsPathRules) {
    const std::string gbk260 = Repeat("站", 130);  // 390 bytes in UTF-8
    const std::string gbk262 = Repeat("点", 131);
    LineList out;
    ASSERT_TRUE(NormaliseLineList("D:\\Web\r\nd:\\web\r\nd:\r\n/Web\r\n/web\r\n" + gbk260 + "\r\n" +
                                      gbk262 + "\r\n",
                                  ScanDirListOptions(), out));
    if (mdb::platform::kPathsIgnoreCase)
        EXPECT_EQ(out.entries, (std::vector<std::string>{"D:\\Web", "d:\\", "/Web", gbk260}));
    else
        EXPECT_EQ(out.entries,
                  (std::vector<std::string>{"D:\\Web", "d:\\web", "d:", "/Web", "/web"}));
    // The Windows tests run with the Chinese code page, the one the rules are for.
    EXPECT_EQ(ListStoredInGbk(), mdb::platform::kPathsIgnoreCase);
}

TEST(LineListNormaliser, CollapseBlankLinesTwice) {
    EXPECT_EQ(CollapseBlankLines("a\r\n\r\n\r\n\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(CollapseBlankLines("a\r\n\r\nb"), "a\r\nb");
    // Five line breaks in a row leave two after both passes.
    EXPECT_EQ(CollapseBlankLines("a\r\n\r\n\r\n\r\n\r\nb"), "a\r\n\r\nb");
}

// ---- the dialog's handlers -----------------------------------------------------

class ScanConfigTest : public ::testing::Test {
  protected:
    ScanConfigTest() : config(dir.Context()) {
        site = dir.Path() / "www";
        fs::create_directories(site / "shop");
        fs::create_directories(site / "bbs");
    }
    fs::path ScanDirFile() const { return dir.Path() / "config" / "ScanDir.txt"; }

    ProgramDir dir;
    FakeScanConfigView view;
    ScanConfig config;
    fs::path site;
};

TEST_F(ScanConfigTest, OpeningShowsTheSavedListWithBlankLinesCollapsed) {
    WriteFile(ScanDirFile(), "/srv/a\r\n\r\n\r\n\r\n/srv/b\r\n\r\n/srv/c\r\n");
    config.Open(view);
    EXPECT_EQ(view.box, "/srv/a\r\n/srv/b\r\n/srv/c\r\n");
    EXPECT_TRUE(view.messages.empty());

    // A missing file opens an empty box; a missing config directory is created.
    fs::remove_all(dir.Path() / "config");
    view.box = "old";
    config.Open(view);
    EXPECT_EQ(view.box, "");
    EXPECT_TRUE(fs::is_directory(dir.Path() / "config"));

    DesktopContext noDir;
    noDir.exeDirectory = [](std::string&) { return 0; };
    ScanConfig blind(noDir);
    view.box = "old";
    blind.Open(view);
    EXPECT_EQ(view.box, "");
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(ScanConfigTest, FolderButtonAppendsToWhatTheBoxHolds) {
    view.box = "/srv/typed";  // typed, no line break yet
    config.AddFolder(view, "/srv/chosen");
    EXPECT_EQ(view.box, "/srv/typed\r\n/srv/chosen\r\n");
    config.AddFolder(view, "/srv/chosen");
    EXPECT_EQ(view.box, "/srv/typed\r\n/srv/chosen\r\n/srv/chosen\r\n");

    const int shows = view.showCount;
    config.AddFolder(view, "");                     // cancelled
    config.AddFolder(view, std::string(260, 'x'));  // too long
    EXPECT_EQ(view.showCount, shows);
}

TEST_F(ScanConfigTest, ConfirmSavesTheCleanedListAndAsks) {
    const std::string shop = (site / "shop").string();
    const std::string bbs = (site / "bbs").string();
    view.box = "  " + shop + "  \n\n" + bbs + "\n" + shop + "\n";
    EXPECT_TRUE(config.Confirm(view));
    const std::string cleaned = shop + "\r\n" + bbs + "\r\n";
    EXPECT_EQ(ReadFile(ScanDirFile()), cleaned);
    EXPECT_EQ(view.box, cleaned);
    EXPECT_EQ(view.questions, std::vector<std::string>{kAskStartScan});
    EXPECT_TRUE(view.messages.empty());

    // No keeps the dialog open, with the list saved and shown.
    WriteFile(ScanDirFile(), "old");
    view.answerYes = false;
    view.box = bbs;
    EXPECT_FALSE(config.Confirm(view));
    EXPECT_EQ(ReadFile(ScanDirFile()), bbs + "\r\n");
    EXPECT_EQ(view.box, bbs + "\r\n");

    // An existing file passes like a directory.
    WriteFile(site / "note.txt", "x");
    view.answerYes = true;
    view.box = (site / "note.txt").string();
    EXPECT_TRUE(config.Confirm(view));
}

TEST_F(ScanConfigTest, RefusalsFocusTheBoxAndWriteNothing) {
    struct Case {
        std::string box;
        std::string message;
    };
    const std::string missing = (site / "gone").string();
    const std::string shop = (site / "shop").string();
    const std::vector<Case> cases = {
        {" \r\n\t\r\n   ", kMsgNoScanDir},
        {"", kMsgNoScanDir},
        {std::string(261, 'a'), kMsgNoScanDir},  // dropped as too long, nothing left
        {shop + "\n" + missing + "\n/also/missing\n",
         mdb::FillPlaceholder(kMsgScanDirMissing, missing)},
        {"/ab", mdb::FillPlaceholder(kMsgScanDirMissing, "/ab")},  // shorter than 4
        {"/" + std::string(259, 'c'),
         mdb::FillPlaceholder(kMsgScanDirMissing, "/" + std::string(259, 'c'))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box.substr(0, 40));
        view.messages.clear();
        view.focusCount = 0;
        view.box = c.box;
        EXPECT_FALSE(config.Confirm(view));
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, c.message);
        EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);
        EXPECT_EQ(view.focusCount, 1);
        EXPECT_TRUE(view.questions.empty());
        EXPECT_FALSE(fs::exists(ScanDirFile()));
    }
}

// Forty directories of 200 characters make 8,080 bytes and pass; a forty-first makes
// 8,282 and is refused before any directory is looked at.
TEST_F(ScanConfigTest, WholeListLengthBound) {
    std::string box;
    const std::string base = (site / "").string();
    for (int i = 0; i < 41; ++i) {
        std::string name = std::to_string(100 + i) + "-";
        name.append(200 - base.size() - name.size(), 'd');
        const std::string path = base + name;
        ASSERT_EQ(path.size(), 200u);
        if (i < 40) fs::create_directory(path);  // the last one does not even exist
        box += path + "\n";
        if (i == 39) {
            view.box = box;
            ASSERT_TRUE(config.Confirm(view));
            EXPECT_EQ(ReadFile(ScanDirFile()).size(), 8080u);
        }
    }
    fs::remove(ScanDirFile());
    view.box = box;
    EXPECT_FALSE(config.Confirm(view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, kMsgScanDirLength);
    EXPECT_EQ(view.focusCount, 1);
    EXPECT_FALSE(fs::exists(ScanDirFile()));
}

// Thirty-one Chinese entries of 130 characters make 8,122 bytes in GBK and pass the
// length check (the first does not exist); a thirty-second makes 8,384 and is refused.
// Stored in UTF-8 each entry has 390 bytes and is dropped.
TEST_F(ScanConfigTest, TheWholeListCountsInTheCodePageItIsStoredIn) {
    const std::string last = "一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌亥";
    std::string box;
    for (int i = 0; i < 32; ++i) box += Repeat("站", 129) + last.substr(i * 3, 3) + "\n";
    const std::string first = Repeat("站", 129) + "一";
    for (const int entries : {31, 32}) {
        SCOPED_TRACE(entries);
        view.messages.clear();
        view.box = box.substr(0, entries * (130 * 3 + 1));
        EXPECT_FALSE(config.Confirm(view));
        ASSERT_EQ(view.messages.size(), 1u);
        if (!ListStoredInGbk())
            EXPECT_EQ(view.messages[0].text, kMsgNoScanDir);
        else if (entries == 31)
            EXPECT_EQ(view.messages[0].text, mdb::FillPlaceholder(kMsgScanDirMissing, first));
        else
            EXPECT_EQ(view.messages[0].text, kMsgScanDirLength);
    }
}

TEST_F(ScanConfigTest, ConfigDirectoryMessages) {
    view.box = (site / "shop").string();

    DesktopContext noDir;
    noDir.exeDirectory = [](std::string&) { return 0; };
    ScanConfig blind(noDir);
    EXPECT_FALSE(blind.Confirm(view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, mdb::kMsgExeDirFailed);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);

    // A program "directory" that is a file: config cannot be created below it.
    WriteFile(dir.Path() / "plain", "x");
    ScanConfig blocked(ContextAt((dir.Path() / "plain").string() + mdb::platform::kSeparator));
    view.messages.clear();
    EXPECT_FALSE(blocked.Confirm(view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, mdb::FillPlaceholder(mdb::kMsgCreateDirFailed,
                                                          (dir.Path() / "plain" / "config").string()));

    // A config directory of 260 characters can be created but not looked up.
    std::string deep = dir.Dir();
    while (deep.size() + 200 < 254) deep += std::string(200, 'p') + mdb::platform::kSeparator;
    deep += std::string(254 - deep.size() - 1, 'q') + mdb::platform::kSeparator;
    ASSERT_EQ(deep.size(), 254u);
    ScanConfig tooDeep(ContextAt(deep));
    view.messages.clear();
    EXPECT_FALSE(tooDeep.Confirm(view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              mdb::FillPlaceholder(mdb::kMsgConfigDirUnusable, deep + "config"));
    EXPECT_TRUE(view.questions.empty());
}

// The list file is shared with the scanner, which reads it in the system code page (GBK
// on Chinese Windows): a Chinese directory is saved in it and shown again as typed.
TEST_F(ScanConfigTest, TheListIsSavedInTheSystemCodePageAndReadBackFromIt) {
    const fs::path chinese = site / mdb::platform::PathFromUtf8("站点");
    fs::create_directories(chinese);
    const std::string entry = mdb::platform::Utf8OfPath(chinese);
    view.box = entry;
    EXPECT_TRUE(config.Confirm(view));
    EXPECT_EQ(ReadFile(ScanDirFile()), mdb::platform::SystemCodePageFromUtf8(entry + "\r\n"));
    view.box.clear();
    config.Open(view);
    EXPECT_EQ(view.box, entry + "\r\n");
}

// Only the system limits the list file's path: a program directory of 245 bytes, whose
// config directory is still usable, keeps the list it saved (its path has 262 bytes).
TEST_F(ScanConfigTest, AListBesideADeepProgramDirectoryIsReadBack) {
    if (mdb::platform::kPathsHaveDrives) GTEST_SKIP() << "Windows paths stop at 260 characters";
    const std::size_t used = dir.Path().string().size() + 1;
    ASSERT_LT(used, 245u);
    const fs::path deep = dir.Path() / std::string(245 - used, 'p');
    fs::create_directories(deep);
    ScanConfig deepConfig(ContextAt(deep.string() + "/"));
    const std::string entry = (site / "shop").string();
    view.box = entry;
    EXPECT_TRUE(deepConfig.Confirm(view));
    view.box.clear();
    deepConfig.Open(view);
    EXPECT_EQ(view.box, entry + "\r\n");
}

TEST_F(ScanConfigTest, AFailedSaveIsReportedAndKeepsTheDialogOpen) {
    fs::create_directory(ScanDirFile());  // the list file cannot be written
    const std::string typed = (site / "shop").string() + "\n" + (site / "shop").string();
    view.box = typed;
    EXPECT_FALSE(config.Confirm(view));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              mdb::FillPlaceholder(kMsgScanDirNotSaved, ScanDirFile().string()));
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(view.box, typed);  // the user's text is left as it was
}

}  // namespace
