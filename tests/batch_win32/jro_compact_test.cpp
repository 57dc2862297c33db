// Compaction through JRO's JetEngine under Wine, against our test server
// (jro_test_server.dll, registered here under JRO.JetEngine as regsvr32 would): the call
// itself, and "mdbcompact batch --engine jro" from start to end.
#include "batch/compact_mdb_file.h"
#include "batch/win32/jro_compact.h"
#include "tests/batch_win32/jro_test_server.h"
#include "tests/common/output_to_file_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using mdb::batch::CompactMdbFileThroughJro;
using mdb::batch::kNotCompactedPrefix;

std::u16string Long(const fs::path& path) { return u"\\\\?\\" + path.u16string(); }

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path BesideThisProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / name;
}

class JroCompactTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = LoadLibraryW(BesideThisProgram(L"jro_test_server.dll").c_str());
        ASSERT_NE(server_, nullptr);
        // A Chinese folder name: the paths travel as UTF-16 all the way.
        dir_ = fs::temp_directory_path() / ("jro-" + std::to_string(GetCurrentProcessId())) / u8"压缩";
        // A folder an earlier test process of the same id could not remove (Wine reuses
        // process ids soon).
        std::error_code ignored;
        fs::remove_all(dir_.parent_path(), ignored);
        fs::create_directories(dir_);
        log_ = dir_.parent_path() / "calls.log";
        SetEnvironmentVariableW(JRO_TEST_SERVER_LOG_VARIABLE, log_.c_str());
    }
    void TearDown() override {
        ServerCall("DllUnregisterServer");
        SetEnvironmentVariableW(JRO_TEST_SERVER_LOG_VARIABLE, nullptr);
        std::error_code ignored;
        fs::remove_all(dir_.parent_path(), ignored);
    }
    HRESULT ServerCall(const char* function) {
        using Entry = HRESULT(WINAPI*)();
        auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(server_, function)));
        return entry ? entry() : E_FAIL;
    }
    fs::path CopyOfCorpusFile(const char* relative) {
        const fs::path copy = dir_ / "old.mdb";
        fs::copy_file(fs::path(MDB_CORPUS_DIR) / relative, copy);
        // The corpus is read-only, and so would the copy be: then nothing removes it.
        fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
        return copy;
    }

    HMODULE server_ = nullptr;
    fs::path dir_;
    fs::path log_;
};

TEST_F(JroCompactTest, RegisteredEngineCompactsWithTheProviderStringsAndReportsItsFailures) {
    ASSERT_EQ(ServerCall("DllRegisterServer"), S_OK);
    const fs::path source = CopyOfCorpusFile("jet4/bigIndexTestV2000.mdb");
    const fs::path destination = dir_ / "new.mdb";
    std::string reason = "text of an earlier call";

    // Every long-path prefix goes, not only the leading one.
    ASSERT_EQ(CompactMdbFileThroughJro(Long(source), u"\\\\?\\" + Long(destination), reason), 1) << reason;
    EXPECT_EQ(reason, "");
    ASSERT_TRUE(fs::exists(destination));
    EXPECT_GT(fs::file_size(destination), 0u);
    EXPECT_LE(fs::file_size(destination), fs::file_size(source));
    const std::string sourcePath(reinterpret_cast<const char*>(source.u8string().c_str()));
    const std::string destinationPath(reinterpret_cast<const char*>(destination.u8string().c_str()));
    EXPECT_EQ(ReadText(log_),
              "source=Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + sourcePath +
                  ";Jet OLEDB:Database Password=\n"
                  "destination=Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + destinationPath +
                  ";Jet OLEDB:Engine Type=5;Jet OLEDB:Database Password=\n");

    // The engine's own description reaches the reason; nothing is left at the destination.
    const fs::path notADatabase = dir_ / "page.mdb";
    std::ofstream(notADatabase) << "<html>not a database</html>";
    const fs::path nowhere = dir_ / "never.mdb";
    EXPECT_EQ(CompactMdbFileThroughJro(Long(notADatabase), Long(nowhere), reason), 0);
    ASSERT_GT(reason.size(), std::string(kNotCompactedPrefix).size() + 3);
    EXPECT_EQ(reason.rfind(kNotCompactedPrefix, 0), 0u) << reason;
    EXPECT_EQ(reason.find("0x"), std::string::npos) << "the engine's text, not a bare code: " << reason;
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(JroCompactTest, UnregisteredProviderIsReportedAsSuch) {
    ASSERT_EQ(ServerCall("DllUnregisterServer"), S_OK);
    const fs::path source = CopyOfCorpusFile("jet4/bigIndexTestV2000.mdb");
    const fs::path destination = dir_ / "new.mdb";
    std::string reason = "text of an earlier call";

    EXPECT_EQ(CompactMdbFileThroughJro(Long(source), Long(destination), reason), 0);
    EXPECT_EQ(reason.rfind(std::string(kNotCompactedPrefix) + "压缩引擎 JRO.JetEngine", 0), 0u) << reason;
    EXPECT_NE(reason.find("未注册"), std::string::npos) << reason;
    EXPECT_NE(reason.find("provider not registered, 0x80040154"), std::string::npos) << reason;
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_FALSE(fs::exists(log_)) << "no engine was reached";
}

// The batch as the window runs it, with the JRO engine: the site file is backed up, the
// working copy compacted through COM and the result put in its place; the console says
// so. Without the provider the file stays as it was and the reason is printed.
TEST_F(JroCompactTest, BatchWithTheJroEngineBacksUpCompactsThroughComAndReplaces) {
    ASSERT_EQ(ServerCall("DllRegisterServer"), S_OK);
    const fs::path site = dir_ / "site";
    fs::create_directories(site);
    const fs::path database = site / u8"数据.mdb";
    fs::copy_file(fs::path(MDB_CORPUS_DIR) / "jet4" / "delTestV2000.mdb", database);
    const std::string original = ReadText(database);
    const fs::path backupRoot = dir_ / "backup";
    const fs::path output = dir_ / "batch.txt";
    const auto runBatch = [&] {
        const mdb::platform::SpawnResult batch = mdb::test::StartWithOutputTo(
            {mdb::platform::Utf8OfPath(fs::path(MDB_DIST_DIR) / "mdbcompact.exe"), "batch",
             "--engine", "jro", "--no-web-server", "--store",
             mdb::platform::Utf8OfPath(dir_ / "prog" / "config" / "FileInfo.dat"),
             "--backup-root", mdb::platform::Utf8OfPath(backupRoot),
             mdb::platform::Utf8OfPath(database)},
            mdb::platform::Utf8OfPath(output));
        EXPECT_TRUE(batch.Started());
        return mdb::platform::WaitForProcessFor(batch.pid, std::chrono::minutes(2));
    };

    ASSERT_EQ(runBatch(), 0) << ReadText(output);
    const std::uint64_t compacted = fs::file_size(database);
    EXPECT_LT(compacted, original.size());
    EXPECT_EQ(ReadText(database).substr(0, 32), original.substr(0, 32));
    const std::string printed = ReadText(output);
    EXPECT_NE(printed.find(std::to_string(original.size()) + " -> " + std::to_string(compacted) +
                           " bytes, saved"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("compacted 1, not compacted 0"), std::string::npos) << printed;
    // The engine was given the working copy and wrote the compacted one beside it.
    const std::string calls = ReadText(log_);
    EXPECT_NE(calls.find("source=Provider=Microsoft.Jet.OLEDB.4.0;Data Source="), std::string::npos);
    EXPECT_NE(calls.find("old.mdb;"), std::string::npos) << calls;
    EXPECT_NE(calls.find("new.mdb;Jet OLEDB:Engine Type=5;"), std::string::npos) << calls;
    // The backup below the run directory (date, then time) holds the original bytes.
    std::vector<fs::path> backups;
    for (const auto& entry : fs::recursive_directory_iterator(backupRoot))
        if (entry.is_regular_file() && entry.path().filename() == database.filename())
            backups.push_back(entry.path());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(ReadText(backups[0]) == original);

    // No provider: nothing is put in place of the (already compacted) file.
    ASSERT_EQ(ServerCall("DllUnregisterServer"), S_OK);
    const std::string before = ReadText(database);
    EXPECT_EQ(runBatch(), 1);
    EXPECT_TRUE(ReadText(database) == before);
    EXPECT_NE(ReadText(output).find("未注册"), std::string::npos) << ReadText(output);
    EXPECT_NE(ReadText(output).find("compacted 0, not compacted 1"), std::string::npos);
}

}  // namespace
