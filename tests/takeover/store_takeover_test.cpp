// Taking over the Windows original's store (an Access file) in place of ours: the rows as
// they were, the original kept, an unreadable one left alone, one takeover at a time.
#include "takeover/store_takeover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "common/base64.h"
#include "common/utf16.h"
#include "tests/common/test_support.h"

namespace mdb::takeover {
namespace {

namespace fs = std::filesystem;
using Kind = TakeoverResult::Kind;

const fs::path kFixture = fs::path(MDB_FIXTURES_DIR) / "FileInfo-access.dat";

struct Messages : MessageReporter {
    void ShowMessage(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

class StoreTakeover : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(config);
        fs::copy_file(kFixture, store);
        fs::permissions(store, fs::perms::owner_write, fs::perm_options::add);
    }
    std::set<std::string> ConfigFiles() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(config))
            names.insert(platform::Utf8OfPath(entry.path().filename()));
        return names;
    }

    test::TempDir dir;
    // A program directory with a Chinese name: the paths go through UTF-8 on both systems.
    const fs::path config = dir.path() / platform::PathFromUtf8("网站 程序") / "config";
    const fs::path store = config / "FileInfo.dat";
    const std::string storeText = platform::Utf8OfPath(store);
    const std::string original = test::ReadWholeFile(kFixture);
};

TEST_F(StoreTakeover, TheOriginalsRowsBecomeOursAndTheFileIsKeptBeside) {
    Messages messages;
    {
        const auto db = OpenStore(storeText, messages);
        ASSERT_TRUE(db);
        std::vector<FileInfoRecord> rows;
        ASSERT_EQ(db->SelectAll(rows), 1);
        ASSERT_EQ(rows.size(), 40u);
        std::map<std::string, int> states;
        int reasons = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const FileInfoRecord& r = rows[i];
            EXPECT_EQ(r.id, static_cast<std::int64_t>(i + 1));  // ids and their order kept
            EXPECT_EQ(r.fid, "1");
            // The original wrote the day into the row key too ("n_YYYYMMDDhhmmss_tick").
            const std::string key = r.filenameid.substr(r.filenameid.find('_') + 1);
            EXPECT_EQ(r.regdate, key.substr(0, 4) + "-" + key.substr(4, 2) + "-" + key.substr(6, 2))
                << r.filenameid;
            const auto path = Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(r.filepath)));
            ASSERT_TRUE(path);
            EXPECT_TRUE(path->starts_with("\\\\?\\d:\\")) << *path;
            EXPECT_GT(r.filesize, 0u);
            EXPECT_EQ(r.filesize2 > 0, r.compactDatabase == kStateCompacted) << "row " << r.id;
            ++states[r.compactDatabase];
            if (!r.fileinfo.empty()) {
                EXPECT_EQ(r.fileinfo, "压缩失败，原因：文件正在使用");
                ++reasons;
            }
        }
        EXPECT_EQ(states, (std::map<std::string, int>{{"0", 19}, {"1", 10}, {"2", 11}}));
        EXPECT_EQ(reasons, 3);
        EXPECT_EQ(rows[2].filesize, 14860159u);
        EXPECT_EQ(rows[2].filesize2, 10218747u);
        EXPECT_EQ(*Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(rows[0].filepath))),
                  "\\\\?\\d:\\wwwroot\\客户 资料0\\App_Data\\db1.mdb");
        // New rows follow the taken-over ones.
        ASSERT_EQ(db->InsertRecord(FoundFileRecord(u"x", u"x", 1, 0)), 1);
        ASSERT_EQ(db->SelectAll(rows), 1);
        EXPECT_EQ(rows.back().id, 41);
    }
    const fs::path kept = config / "FileInfo.access.mdb";
#ifndef _WIN32
    // Every text and size as an independent reader (mdbtools) sees them in the original.
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(FileInfoDb::Open(storeText)->SelectAll(rows), 1);
    FILE* csv = popen(("mdb-export '" + platform::Utf8OfPath(kept) + "' fileinfo").c_str(), "r");
    ASSERT_NE(csv, nullptr);
    std::string lines;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, csv)) lines.append(buffer, n);
    ASSERT_EQ(pclose(csv), 0);
    std::istringstream in(lines);
    std::string line;
    std::getline(in, line);  // the column names
    for (const FileInfoRecord& r : rows) {
        if (r.id > 40) break;
        ASSERT_TRUE(std::getline(in, line));
        std::vector<std::string> f;  // no field of the fixture holds an ASCII comma
        for (std::size_t at = 0, end; at <= line.size(); at = end + 1) {
            end = std::min(line.find(',', at), line.size());
            std::string field = line.substr(at, end - at);
            if (field.size() >= 2 && field.front() == '"') field = field.substr(1, field.size() - 2);
            f.push_back(field);
        }
        ASSERT_EQ(f.size(), 11u) << line;
        EXPECT_EQ((std::vector<std::string>{f[0], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]}),
                  (std::vector<std::string>{std::to_string(r.id), r.filenameid, r.filename,
                                            r.filepath, std::to_string(r.filesize),
                                            std::to_string(r.filesize2), r.compactDatabase,
                                            r.filechkval, r.fileinfo}));
    }
#endif
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].find("40 条记录"), std::string::npos) << messages.shown[0];
    EXPECT_NE(messages.shown[0].find(platform::Utf8OfPath(kept)), std::string::npos);
    EXPECT_EQ(test::ReadWholeFile(kept), original);
    EXPECT_EQ(ConfigFiles(), (std::set<std::string>{"FileInfo.dat", "FileInfo.access.mdb"}));

    // Ours now: the next open takes nothing over and says nothing.
    EXPECT_TRUE(OpenStore(storeText, messages));
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(test::ReadWholeFile(kept), original);
}

TEST_F(StoreTakeover, AnOriginalThatCannotBeReadIsLeftAsItIs) {
    // Cut short (its pages of rows missing), and an Access file without the table.
    const std::string cut = original.substr(0, 3 * 4096);
    const fs::path noTable = fs::path(MDB_CORPUS_DIR) / "jet4/emptyJet4.mdb";
    for (const std::string& content : {cut, test::ReadWholeFile(noTable)}) {
        test::WriteWholeFile(store, content);
        Messages messages;
        EXPECT_FALSE(OpenStore(storeText, messages));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].find("无法读取"), std::string::npos) << messages.shown[0];
        EXPECT_NE(messages.shown[0].find("文件保持原样"), std::string::npos);
        EXPECT_EQ(test::ReadWholeFile(store), content);
        EXPECT_EQ(ConfigFiles(), std::set<std::string>{"FileInfo.dat"});
    }
}

// The scanner and the window may start together: one of them takes the store over, the
// others wait for it and then find ours (without the lock each would keep a copy and
// put its own store in place).
TEST_F(StoreTakeover, ProgramsStartingTogetherTakeItOverOnce) {
    constexpr int kPrograms = 4;
    std::vector<TakeoverResult> results(kPrograms);
    std::atomic<int> ready{0};
    std::vector<std::thread> programs;
    for (int i = 0; i < kPrograms; ++i)
        programs.emplace_back([&, i] {
            ++ready;
            while (ready < kPrograms) std::this_thread::yield();
            results[i] = TakeOverAccessStore(storeText);
        });
    for (auto& program : programs) program.join();
    int takenOver = 0;
    for (const TakeoverResult& result : results) {
        EXPECT_TRUE(result.kind == Kind::TakenOver || result.kind == Kind::NotAccess)
            << result.reason;
        takenOver += result.kind == Kind::TakenOver;
    }
    EXPECT_EQ(takenOver, 1);
    EXPECT_EQ(ConfigFiles(), (std::set<std::string>{"FileInfo.dat", "FileInfo.access.mdb"}));
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(FileInfoDb::Open(storeText)->SelectAll(rows), 1);
    EXPECT_EQ(rows.size(), 40u);
}

}  // namespace
}  // namespace mdb::takeover
