#include "program_dir.h"

#include <stdlib.h>

#include <stdexcept>

#include "common/base64.h"
#include "common/utf16.h"

namespace mdb::desktop::testing {

ProgramDir::ProgramDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "mdbwarden-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
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
    ctx.openUrl = [this](const std::string& url) {
        openedUrls.push_back(url);
        return openUrlResult;
    };
    ctx.showFileInFolder = [this](const std::string& path) {
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
    r.filename = EncodeName(std::filesystem::path(path).filename().string());
    r.filesize = size;
    r.filesize2 = 0;
    r.compactDatabase = kStateFound;
    return r;
}

}  // namespace mdb::desktop::testing
