// The companion programs on Windows, run by full path from the program directory as the
// desktop program runs them: mdbscout_xconfig.exe gives the Administrators group full
// control of a backup run tree, mdbscout_iisreset.exe leaves a host without IIS alone.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <aclapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/process.h"
#include "tests/common/test_support.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDist = MDB_DIST_DIR;

int RunCompanion(const std::vector<std::string>& argv) {
    const mdb::platform::SpawnResult started =
        mdb::platform::SpawnProcess(argv, mdb::platform::ChildOutput::Discard);
    return started.Started() ? mdb::platform::WaitForProcess(started.pid) : -1;
}

std::string Program(const char* name) {
    return mdb::platform::Utf8OfPath(kDist / name);
}

// True when the access list of `path` allows the Administrators group full control.
bool AdministratorsHaveFullControl(const fs::path& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                             0, 0, 0, &admins);
    bool found = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !found; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        found = ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS &&
                EqualSid(&ace->SidStart, admins);
    }
    FreeSid(admins);
    LocalFree(descriptor);
    return found;
}

TEST(CompanionsOnWindows, XconfigOpensTheWholeTreeToTheAdministrators) {
    std::random_device random;
    const fs::path root = fs::temp_directory_path() / ("xconfig-" + std::to_string(random()));
    fs::create_directories(root / mdb::platform::PathFromUtf8("2026-12-08/备份"));
    std::ofstream(root / "2026-12-08" / "data.mdb") << "x";

    EXPECT_EQ(RunCompanion({Program("mdbscout_xconfig.exe"), mdb::platform::Utf8OfPath(root), "/T",
                            "/C", "/G", "administrators:F", "/Y"}),
              0);
    // Wine keeps no access lists on the host's files: what was set is checked on Windows.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    for (const fs::path& p : {root, root / "2026-12-08", root / "2026-12-08" / "data.mdb",
                              root / mdb::platform::PathFromUtf8("2026-12-08/备份")})
        EXPECT_TRUE(wine || AdministratorsHaveFullControl(p)) << p.string();
    EXPECT_EQ(RunCompanion(
                  {Program("mdbscout_xconfig.exe"), mdb::platform::Utf8OfPath(root / "missing")}),
              1);
    EXPECT_EQ(RunCompanion({Program("mdbscout_xconfig.exe"), mdb::platform::Utf8OfPath(root), "/G",
                            "guests:F"}),
              2);
    // A run directory longer than 260 characters (below a long backup root), the whole tree.
    fs::path deep = root;
    for (const char level : {'b', 'c'}) deep /= std::string(130, level);
    deep /= "07-00-00";
    ASSERT_TRUE(mdb::platform::OpenOrCreateDirectoryNoLinks(deep / "www").Valid());
    ASSERT_TRUE(mdb::platform::CreateExclusive(
                    mdb::platform::OpenDirectoryNoLinks(deep / "www"), "data.mdb", 0600)
                    .Valid());
    EXPECT_EQ(RunCompanion({Program("mdbscout_xconfig.exe"), mdb::platform::Utf8OfPath(deep), "/T",
                            "/C", "/G", "administrators:F", "/Y"}),
              0);
    mdb::test::RemoveTree(root);
}

TEST(CompanionsOnWindows, IisresetLeavesAHostWithoutIisAlone) {
    // Wine has no IIS: nothing to stop or start, and nothing runs.
    EXPECT_EQ(RunCompanion({Program("mdbscout_iisreset.exe"), "/stop"}), 0);
    EXPECT_EQ(RunCompanion({Program("mdbscout_iisreset.exe"), "/START"}), 0);
    EXPECT_EQ(RunCompanion({Program("mdbscout_iisreset.exe"), "/query"}), 3);
    EXPECT_EQ(RunCompanion({Program("mdbscout_iisreset.exe"), "/restart"}), 2);
}

}  // namespace
