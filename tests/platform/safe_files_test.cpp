// Files reached through open directories (the batch's backup, staging and replacement
// steps): relative opens, unique names, copies, renames with and without replacing, and
// what refuses writers, on the system the build is for.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_files.h"
#include "tests/platform/scratch.h"

#ifdef _WIN32
#include <windows.h>
#undef RemoveDirectory  // the platform function, not the Win32 macro
#endif

namespace mdb::platform {
namespace {

std::string Contents(const FileHandle& dir, const std::string& name) {
    FileHandle file = OpenForReading(dir, name);
    std::vector<std::uint8_t> bytes(64);
    const std::int64_t n = file.Valid() ? ReadAt(file, 0, bytes) : -1;
    return n < 0 ? "<unreadable>" : std::string(bytes.begin(), bytes.begin() + n);
}

TEST(SafeFiles, EntriesAreCreatedCopiedRenamedListedAndRemovedThroughOpenDirectories) {
    Scratch scratch;
    ASSERT_TRUE(MakeDirectory(scratch.Text() + kSeparator + "站点A"));
    FileHandle dir = OpenDirectoryNoLinks(scratch.Path() / PathFromUtf8("站点A"));
    ASSERT_TRUE(dir.Valid());
    EXPECT_FALSE(OpenDirectoryNoLinks(scratch.Path() / "missing").Valid());

    // A database written through a shared file, then copied the way the batch copies.
    const std::string original = scratch.Text() + kSeparator + "站点A" + kSeparator + "数据.mdb";
    {
        SharedFile writer;
        ASSERT_EQ(writer.Open(original, OpenMode::WriteExclusiveCreate), OpenResult::Ok);
        ASSERT_TRUE(writer.Append(std::span<const char>("Standard Jet DB", 15)));
    }
    FileHandle source = OpenForReading(dir, "数据.mdb");
    ASSERT_TRUE(source.Valid());
    FileStatus sourceStatus;
    ASSERT_TRUE(StatusOf(source, sourceStatus));
    EXPECT_TRUE(sourceStatus.regular);
    EXPECT_EQ(sourceStatus.size, 15u);
    EXPECT_FALSE(OpenForWritingByAProcess(sourceStatus));

    std::string staged;
    FileHandle copy = CreateUniqueFile(dir, "数据.mdb.", ".tmp", 0600, staged);
    ASSERT_TRUE(copy.Valid());
    EXPECT_EQ(staged.size(), std::string("数据.mdb.").size() + kUniqueNameChars + 4);
    ASSERT_TRUE(CopyAll(source, copy));
    ASSERT_TRUE(CopyOwnerModeTime(copy, sourceStatus));
    ASSERT_TRUE(Sync(copy));
    ASSERT_TRUE(Sync(dir));
    FileStatus copyStatus;
    ASSERT_TRUE(StatusAt(dir, staged, copyStatus));
    EXPECT_EQ(copyStatus.size, 15u);
    EXPECT_EQ(copyStatus.mtimeSec, sourceStatus.mtimeSec);
    EXPECT_FALSE(SameFile(copyStatus, sourceStatus));
    copy = FileHandle();

    // No replacing rename over an existing name; a replacing one over the file still held
    // open for reading, as the batch puts the compacted file in place.
    EXPECT_EQ(RenameNoReplace(dir, staged, "数据.mdb"), RenameResult::Exists);
    EXPECT_EQ(CreateExclusive(dir, "数据.mdb", 0600).Valid(), false);
    ASSERT_TRUE(Rename(dir, staged, "数据.mdb")) << "over a file held open for reading";
    FileStatus now;
    ASSERT_TRUE(StatusAt(dir, "数据.mdb", now));
    EXPECT_TRUE(SameFile(now, copyStatus));
    EXPECT_FALSE(StatusAt(dir, staged, now));
    source = FileHandle();
    EXPECT_EQ(Contents(dir, "数据.mdb"), "Standard Jet DB");
    EXPECT_EQ(RenameNoReplace(dir, "数据.mdb", "备份.mdb"), RenameResult::Done);

    std::string work;
    FileHandle sub = CreateUniqueDirectory(dir, "work.", work);
    ASSERT_TRUE(sub.Valid());
    FileHandle inner = CreateExclusive(sub, "x", 0600);
    ASSERT_TRUE(inner.Valid());
    inner = FileHandle();
    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir, entries));
    std::vector<std::string> names;
    for (const DirectoryEntry& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{work, "备份.mdb"}));
    EXPECT_FALSE(RemoveDirectory(dir, work)) << "not empty";
    EXPECT_TRUE(RemoveFile(sub, "x"));
    EXPECT_TRUE(RemoveDirectory(dir, work));
    sub = FileHandle();  // Windows removes a directory once its last handle is closed
    EXPECT_TRUE(RemoveFile(dir, "备份.mdb"));
    EXPECT_FALSE(RemoveFile(dir, "备份.mdb"));
    EXPECT_TRUE(ListDirectory(dir, entries));
    EXPECT_TRUE(entries.empty()) << entries.front().name;
}

#ifdef _WIN32
// A writer that shares everything (as a web server's database engine opens its files).
HANDLE OpenSharingWriter(const std::string& path) {
    return CreateFileW(PathFromUtf8(path).c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, 0, nullptr);
}

TEST(SafeFiles, AFileOpenForWritingElsewhereIsNotOpenedForCopying) {
    Scratch scratch;
    const std::string path = scratch.Text() + kSeparator + "site.mdb";
    FileHandle dir = OpenDirectoryNoLinks(scratch.Path());
    HANDLE writer = OpenSharingWriter(path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    // The sharing modes refuse the one or the other opener; a file that was never opened
    // here to be read counts as possibly being written.
    EXPECT_FALSE(OpenForReading(dir, "site.mdb").Valid());
    CloseHandle(writer);
    FileStatus status;
    ASSERT_TRUE(StatusAt(dir, "site.mdb", status));
    EXPECT_TRUE(OpenForWritingByAProcess(status));
    FileHandle reader = OpenForReading(dir, "site.mdb");
    ASSERT_TRUE(reader.Valid());
    EXPECT_FALSE(OpenForWritingByAProcess(status));
    writer = OpenSharingWriter(path);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}
#endif

}  // namespace
}  // namespace mdb::platform
