// The companion programs, run as the desktop program runs them: by full path,
// from the program directory, against a fake `systemctl` that keeps the state
// of the web server units in a directory.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "companions/tree_permissions.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

RunResult RunShell(const std::string& commandLine) {
    RunResult r;
    FILE* p = popen((commandLine + " 2>&1").c_str(), "r");
    if (!p) return r;
    std::array<char, 512> buf{};
    while (fgets(buf.data(), buf.size(), p)) r.output += buf.data();
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class IisResetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("iisreset-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "units");
        fs::create_directories(root_ / "prog");
        fs::copy_file(fs::path(MDB_DIST_DIR) / "mdbscout_iisreset",
                      root_ / "prog" / "mdbscout_iisreset");
        const fs::path fake = root_ / "bin" / "systemctl";
        std::ofstream(fake) << R"(#!/bin/sh
dir=")" << (root_ / "units").string()
                            << R"("
echo "$*" >> "$dir/calls"
case "$1" in
  list-units) [ -e "$dir/no-systemd" ] && exit 1; exit 0 ;;
  is-active) unit="$3"; [ -e "$dir/$unit" ] ;;
  stop) [ -e "$dir/stuck" ] || rm -f "$dir/$2" ;;
  start) touch "$dir/$2" ;;
  *) exit 1 ;;
esac
)";
        fs::permissions(fake, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(root_); }

    RunResult Iisreset(const std::string& arg) {
        return RunShell("PATH=" + (root_ / "bin").string() + ":/usr/bin:/bin " +
                   (root_ / "prog" / "mdbscout_iisreset").string() + " " + arg);
    }
    void SetActive(const std::string& unit) {
        std::ofstream(root_ / "units" / (unit + ".service"));
    }
    bool Active(const std::string& unit) {
        return fs::exists(root_ / "units" / (unit + ".service"));
    }

    fs::path root_;
};

TEST_F(IisResetTest, StartRestartsExactlyTheUnitsThatStopStopped) {
    SetActive("apache2");
    SetActive("lighttpd");
    auto stop = Iisreset("/stop");
    EXPECT_EQ(stop.exitCode, 0) << stop.output;
    EXPECT_FALSE(Active("apache2"));
    EXPECT_FALSE(Active("lighttpd"));
    EXPECT_FALSE(Active("nginx"));

    // A second stop while they are down must not forget them.
    EXPECT_EQ(Iisreset("/STOP").exitCode, 0);

    auto start = Iisreset("/start");
    EXPECT_EQ(start.exitCode, 0) << start.output;
    EXPECT_TRUE(Active("apache2"));
    EXPECT_TRUE(Active("lighttpd"));
    EXPECT_FALSE(Active("nginx")) << "a unit that was not running must not be started";
    EXPECT_EQ(ReadAll(root_ / "units" / "calls").find("start nginx"), std::string::npos);

    // Nothing remembered any more: a further start starts nothing.
    fs::remove(root_ / "units" / "calls");
    EXPECT_EQ(Iisreset("/start").exitCode, 0);
    EXPECT_EQ(ReadAll(root_ / "units" / "calls").find("start "), std::string::npos);
}

// The units of the settings, stopped in their order and started in the reverse one;
// a name that is no unit name is refused, the default list no longer applies.
TEST_F(IisResetTest, TheSettingsNameTheUnitsAndTheirOrder) {
    std::ofstream(root_ / "prog" / "mdbscout.ini")
        << "[mdbscout]\nWebServerUnits=nginx, php8.2-fpm  --now\n";
    SetActive("php8.2-fpm");
    SetActive("nginx");
    SetActive("apache2");
    auto stop = Iisreset("/stop");
    EXPECT_EQ(stop.exitCode, 0) << stop.output;
    EXPECT_NE(stop.output.find("--now: not a systemd unit name"), std::string::npos)
        << stop.output;
    EXPECT_FALSE(Active("nginx"));
    EXPECT_FALSE(Active("php8.2-fpm"));
    EXPECT_TRUE(Active("apache2")) << "a unit the settings do not name must be left alone";
    auto start = Iisreset("/start");
    EXPECT_EQ(start.exitCode, 0) << start.output;
    EXPECT_TRUE(Active("nginx"));
    EXPECT_TRUE(Active("php8.2-fpm"));
    const std::string calls = ReadAll(root_ / "units" / "calls");
    const auto at = [&](const std::string& call) { return calls.find(call + "\n"); };
    ASSERT_NE(at("stop php8.2-fpm.service"), std::string::npos) << calls;
    ASSERT_NE(at("start nginx.service"), std::string::npos) << calls;
    EXPECT_LT(at("stop nginx.service"), at("stop php8.2-fpm.service")) << calls;
    EXPECT_LT(at("start php8.2-fpm.service"), at("start nginx.service")) << calls;
}

TEST_F(IisResetTest, UnitThatWillNotStopIsReportedAsFailure) {
    SetActive("nginx");
    std::ofstream(root_ / "units" / "stuck");
    auto stop = Iisreset("/stop");
    EXPECT_EQ(stop.exitCode, 1);
    EXPECT_NE(stop.output.find("nginx could not be stopped"), std::string::npos) << stop.output;
}

TEST_F(IisResetTest, HostWithoutSystemdOrWithoutServerSucceedsAtOnce) {
    auto none = Iisreset("/stop");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_NE(none.output.find("no web server is running"), std::string::npos) << none.output;

    std::ofstream(root_ / "units" / "no-systemd");
    SetActive("apache2");
    auto stop = Iisreset("/stop");
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_NE(stop.output.find("systemd is not available"), std::string::npos) << stop.output;
    EXPECT_TRUE(Active("apache2"));
}

TEST_F(IisResetTest, BadArgumentsAreRefused) {
    EXPECT_EQ(Iisreset("").exitCode, 2);
    EXPECT_EQ(Iisreset("/restart").exitCode, 2);
    EXPECT_EQ(Iisreset("/stop /start").exitCode, 2);
}

class XconfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("xconfig-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "run" / "var" / "www");
        fs::create_directories(root_ / "outside");
        std::ofstream(root_ / "run" / "var" / "www" / "a.mdb") << "x";
        std::ofstream(root_ / "outside" / "secret") << "y";
        fs::permissions(root_ / "run" / "var" / "www" / "a.mdb", fs::perms::owner_read);
        fs::permissions(root_ / "outside" / "secret", fs::perms::owner_read);
        fs::create_symlink(root_ / "outside" / "secret", root_ / "run" / "var" / "link");
        fs::create_directory_symlink(root_ / "outside", root_ / "run" / "dirlink");
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

TEST_F(XconfigTest, OpensTheWholeTreeToTheAdminGroupWithoutFollowingLinks) {
    const auto tool = (fs::path(MDB_DIST_DIR) / "mdbscout_xconfig").string();
    auto r = RunShell(tool + " " + (root_ / "run").string() + " /T /C /G administrators:F /Y");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const auto group = companions::FindAdminGroup();
    for (const auto& p :
         {root_ / "run", root_ / "run" / "var" / "www", root_ / "run" / "var" / "www" / "a.mdb"}) {
        struct stat st {};
        ASSERT_EQ(lstat(p.c_str(), &st), 0);
        EXPECT_EQ(st.st_gid, group.id) << p;
        EXPECT_EQ(st.st_mode & (S_IRGRP | S_IWGRP), mode_t(S_IRGRP | S_IWGRP)) << p;
        EXPECT_EQ(st.st_mode & S_IWUSR, mode_t(S_IWUSR)) << p;
    }
    EXPECT_TRUE(ModeOf(root_ / "run" / "var" / "www") & S_IXGRP);
    EXPECT_FALSE(ModeOf(root_ / "run" / "var" / "www" / "a.mdb") & S_IXGRP)
        << "files stay non-executable";
    EXPECT_EQ(ModeOf(root_ / "outside" / "secret"), mode_t(S_IRUSR))
        << "link target outside the tree changed";
    EXPECT_EQ(ModeOf(root_ / "outside") & S_IWGRP, mode_t(0));
}

TEST_F(XconfigTest, WithoutSlashTOnlyTheTopIsChangedAndBadSwitchesAreRefused) {
    const auto tool = (fs::path(MDB_DIST_DIR) / "mdbscout_xconfig").string();
    EXPECT_EQ(RunShell(tool + " " + (root_ / "run").string() + " /G administrators:F").exitCode, 0);
    EXPECT_TRUE(ModeOf(root_ / "run") & S_IWGRP);
    EXPECT_FALSE(ModeOf(root_ / "run" / "var" / "www" / "a.mdb") & S_IWGRP);

    EXPECT_EQ(RunShell(tool).exitCode, 2);
    EXPECT_EQ(RunShell(tool + " " + root_.string() + " /G everyone:F").exitCode, 2);
    EXPECT_EQ(RunShell(tool + " " + (root_ / "missing").string() + " /T /C").exitCode, 1);
    EXPECT_EQ(RunShell(tool + " " + (root_ / "run" / "dirlink").string() + " /T").exitCode, 1)
        << "a link given as the tree itself must be refused";
}

}  // namespace
