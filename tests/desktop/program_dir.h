// A temporary program directory with its own config/FileInfo.dat, and helpers to
// put records into it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/filestore.h"
#include "desktop/desktop_context.h"
#include "platform/paths.h"

namespace mdb::desktop::testing {

class ProgramDir {
  public:
    ProgramDir();
    ~ProgramDir();
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    // Directory with a trailing separator, as GetExeDirectory gives it.
    std::string Dir() const { return dir_.string() + platform::kSeparator; }
    std::filesystem::path Path() const { return dir_; }
    std::filesystem::path DbPath() const { return dir_ / "config" / "FileInfo.dat"; }

    // A context whose program directory is this one; started programs and folder
    // requests are recorded.
    DesktopContext Context();

    std::unique_ptr<FileInfoDb> OpenDb() const;

    std::vector<std::string> openedUrls;
    bool openUrlResult = true;
    std::vector<std::string> shownInFolder;
    bool showInFolderResult = true;

  private:
    std::filesystem::path dir_;
};

// Base64 of the UTF-16LE form of UTF-8 text, as the scanner stores names.
std::string EncodeName(const std::string& utf8);

// A record as the scanner writes it, for a file at `path`.
FileInfoRecord MakeRecord(const std::string& key, const std::string& path, std::uint64_t size);

}  // namespace mdb::desktop::testing
