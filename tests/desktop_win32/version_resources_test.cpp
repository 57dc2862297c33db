// What the built programs carry in their resources: the project's version (file
// properties, the window's manifest), as the packages do, and the execution level.
#include "tests/common/project_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kDist = fs::path(MDB_DIST_DIR).make_preferred();

// "3.0.0" as the version resources write it: "3.0.0.0".
std::string FourPartVersion() {
    return std::string(MDB_PROJECT_VERSION) + ".0";
}

TEST(VersionResources, EveryProgramsFileVersionIsTheProjects) {
    int programs = 0;
    for (const auto& entry : fs::directory_iterator(kDist)) {
        if (entry.path().extension() != ".exe") continue;
        ++programs;
        const std::wstring path = entry.path().wstring();
        DWORD ignored = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty()) << entry.path() << " has no version resource";
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT size = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
        const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                    std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                    std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                                    std::to_string(LOWORD(fixed->dwFileVersionLS));
        EXPECT_EQ(version, FourPartVersion()) << entry.path();
    }
    EXPECT_GE(programs, 5);
}

// The application manifest of the program at `path` (empty when it has none).
std::string ManifestOf(const fs::path& path) {
    const HMODULE program = LoadLibraryExW(path.wstring().c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!program) return {};
    const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    std::string manifest;
    if (found)
        manifest.assign(static_cast<const char*>(LockResource(LoadResource(program, found))),
                        SizeofResource(program, found));
    FreeLibrary(program);
    return manifest;
}

TEST(VersionResources, TheWindowsManifestNamesTheProjectsVersion) {
    const std::string manifest = ManifestOf(kDist / "mdbwarden.exe");
    EXPECT_NE(manifest.find("name=\"Veloran.mdbwarden\" version=\"" + FourPartVersion() + "\""),
              std::string::npos)
        << manifest;
}

// Installed in Program Files, a program that declared no execution level would have its
// writes next to itself sent to a per-user store by UAC: each one asks for an
// administrator's rights.
TEST(VersionResources, EveryProgramAsksForAnAdministrator) {
    for (const auto& entry : fs::directory_iterator(kDist))
        if (entry.path().extension() == ".exe")
            EXPECT_NE(ManifestOf(entry.path()).find("level=\"requireAdministrator\""),
                      std::string::npos)
                << entry.path();
}

}  // namespace
