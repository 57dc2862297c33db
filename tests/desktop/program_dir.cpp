#include "program_dir.h"

#include <random>
#include <stdexcept>

#include "common/base64.h"
#include "common/utf16.h"

namespace mdb::desktop::testing {

ProgramDir::ProgramDir() {
    // A fresh directory of our own: create_directory reports whether it made it.
    std::random_device seed;
    std::mt19937_64 names(seed());
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() /
                               ("mdbwarden-test-" + std::to_string(names() % 1000000000));
        if (std::filesystem::create_directory(candidate)) dir_ = candidate;
    }
    if (dir_.empty()) throw std::runtime_error("no temporary program directory");
    std::filesystem::create_directories(dir_ / "config");
}

ProgramDir::~ProgramDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

DesktopContext ProgramDir::Context() {
    DesktopContext ctx;
    const std::string dir = Dir();
    ctx.exeDirectory = [dir](std::string& out) {
        out = dir;
        return 1;
    };
    ctx.openUrl = [this](const std::string& url, StopSignal*) {
        openedUrls.push_back(url);
        return openUrlResult;
    };
    ctx.showFileInFolder = [this](const std::string& path, StopSignal*) {
        shownInFolder.push_back(path);
        return showInFolderResult;
    };
    return ctx;
}

std::unique_ptr<FileInfoDb> ProgramDir::OpenDb() const {
    return FileInfoDb::Open(DbPath().string());
}

std::string EncodeName(const std::string& utf8) {
    const auto units = Utf8ToUtf16(utf8);
    if (!units) throw std::runtime_error("not UTF-8");
    const std::vector<std::uint8_t> bytes = Utf16LeBytes(*units);
    return Base64EncodeText(bytes);
}

FileInfoRecord MakeRecord(const std::string& key, const std::string& path, std::uint64_t size) {
    FileInfoRecord r;
    r.regdate = "2026-12-08";
    r.filenameid = key;
    r.filepath = EncodeName(path);
    // The name after the last separator of either kind, cut from the UTF-8 text itself
    // (a narrow std::filesystem::path would go through the system code page on Windows).
    r.filename = EncodeName(path.substr(path.find_last_of("/\\") + 1));
    r.filesize = size;
    r.filesize2 = 0;
    r.compactDatabase = kStateFound;
    return r;
}

}  // namespace mdb::desktop::testing
