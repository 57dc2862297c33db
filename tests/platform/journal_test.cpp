// The journal's native protocol as systemd-journald reads it, received on a socket of
// the test's own; and the check that standard error is the unit's journal stream.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/journal.h"

namespace {

TEST(Journal, FieldsArriveInTheNativeFormatAndLineFeedsAsBinaryValues) {
    const std::string path = "/tmp/journal-test-" + std::to_string(getpid()) + ".sock";
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(mdb::platform::JournalSendTo(path, mdb::platform::kJournalWarning, "a.mdb: 未压缩",
                                             {{"MDB_OUTCOME", "not_compacted"},
                                              {"MDB_REASON", "two\nlines"}}));
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    close(fd);
    unlink(path.c_str());
    const std::string binary("MDB_REASON\n\x09\0\0\0\0\0\0\0two\nlines\n", 29);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)),
              "MESSAGE=a.mdb: 未压缩\nPRIORITY=4\nMDB_OUTCOME=not_compacted\n" + binary);
}

TEST(Journal, ConnectedOnlyWhenStandardErrorIsTheNamedStream) {
    struct stat st {};
    ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
    const std::string self = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    setenv("JOURNAL_STREAM", self.c_str(), 1);
    EXPECT_TRUE(mdb::platform::JournalConnected());
    setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":1").c_str(), 1);
    EXPECT_FALSE(mdb::platform::JournalConnected()) << "standard error redirected elsewhere";
    unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(mdb::platform::JournalConnected());
}

}  // namespace
