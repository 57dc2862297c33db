// The version the built programs carry in their resources (file properties, the window's
// manifest) is the project's, as the packages' is.
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

TEST(VersionResources, TheWindowsManifestNamesTheProjectsVersion) {
    const HMODULE program = LoadLibraryExW((kDist / "mdbwarden.exe").wstring().c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr);
    const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(program, found)));
    const std::string manifest(bytes, SizeofResource(program, found));
    FreeLibrary(program);
    EXPECT_NE(manifest.find("name=\"Veloran.mdbwarden\" version=\"" + FourPartVersion() + "\""),
              std::string::npos)
        << manifest;
}

}  // namespace
