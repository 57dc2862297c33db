#include "store_commands.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "batch/batch_plan.h"
#include "batch/reason_code.h"
#include "batch/stored_path.h"
#include "commands.h"
#include "common/filestore.h"
#include "common/json.h"
#include "common/paths.h"
#include "platform/arguments.h"

namespace mdbcompact {
namespace fs = std::filesystem;
using namespace mdb;

const char kStatusHelp[] =
    "usage: mdbcompact status [--json] [--store PATH]\n"
    "\n"
    "Lists the recorded databases, one per line: state (found, queued, compacted,\n"
    "not_compacted), whether the file exists, size when recorded, compacted size, date\n"
    "of the record, path, and the reason a file was not compacted. --store PATH reads\n"
    "another program directory's config/FileInfo.dat. --json prints one JSON document.\n"
    "Exit 0, or 2 when the store cannot be read.\n";

const char kForgetHelp[] =
    "usage: mdbcompact forget [--json] [--store PATH] (--missing | FILE...)\n"
    "\n"
    "Removes records from the store: of every recorded file that no longer exists\n"
    "(--missing), or of the named files. The files themselves are not touched; a later\n"
    "scan records those that are still databases. Exit 0, or 2 when the store cannot\n"
    "be read or written.\n";

namespace {

struct StoreArgs {
    bool json = false;
    bool missing = false;
    std::string store;
    std::vector<std::string> files;
};

bool Parse(const std::vector<std::string>& args, bool forget, StoreArgs& out,
           std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            out.json = true;
        } else if (a == "--store" && i + 1 < args.size()) {
            out.store = args[++i];
        } else if (forget && a == "--missing") {
            out.missing = true;
        } else if (forget && a.rfind("--", 0) != 0) {
            out.files.push_back(a);
        } else {
            error = "unknown or incomplete argument " + a;
            return false;
        }
    }
    if (forget && out.missing == !out.files.empty()) {
        error = "give either --missing or the files to forget";
        return false;
    }
    return true;
}

std::unique_ptr<FileInfoDb> OpenStore(const StoreArgs& a, std::string& path) {
    if (!a.store.empty()) {
        path = a.store;
    } else {
        std::string dir;
        if (GetExeDirectory(dir) != 1) return nullptr;
        path = platform::Utf8OfPath(platform::PathFromUtf8(dir) / "config" / kFileInfoDbName);
    }
    std::error_code ec;
    if (!fs::is_regular_file(platform::PathFromUtf8(path), ec)) return nullptr;
    return FileInfoDb::Open(path);
}

const char* StateOf(const FileInfoRecord& r) {
    if (r.compactDatabase == kStateCompacted) return "compacted";
    if (r.fileinfo.rfind("未压缩", 0) == 0) return "not_compacted";
    if (r.compactDatabase == kStateQueued) return "queued";
    return "found";
}

// A record whose path does not decode names no file that could exist.
bool Exists(const std::string& stored) {
    const auto path = batch::DecodeStoredPath(stored);
    return path && !batch::FileIsGone(*path);
}

int StoreFailure(const std::string& command, const std::string& path) {
    std::cerr << "mdbcompact " << command << ": cannot read the store "
              << (path.empty() ? std::string("of the program directory") : path)
              << " (run mdbscout first)\n";
    return kExitUsage;
}

}  // namespace

int RunStatus(const std::vector<std::string>& args) {
    StoreArgs a;
    std::string error, path;
    if (!Parse(args, false, a, error)) {
        std::cerr << "mdbcompact status: " << error << "\n\n" << kStatusHelp;
        return kExitUsage;
    }
    const auto store = OpenStore(a, path);
    std::vector<FileInfoRecord> rows;
    if (!store || store->SelectAll(rows) != 1) return StoreFailure("status", path);
    Json files = Json::MakeArray();
    std::set<std::string> seen;
    for (const auto& r : rows) {
        if (!seen.insert(r.filepath).second) continue;
        const std::string file = batch::StoredPathText(r.filepath);
        const bool exists = Exists(r.filepath);
        const char* state = StateOf(r);
        const bool failed = std::string(state) == "not_compacted";
        if (!a.json) {
            std::cout << state << "  " << (exists ? "exists" : "missing") << "  " << r.filesize
                      << "  " << (r.filesize2 ? std::to_string(r.filesize2) : "-") << "  "
                      << r.regdate << "  " << file;
            if (failed) std::cout << "  " << r.fileinfo;
            std::cout << "\n";
            continue;
        }
        Json f = Json::MakeObject();
        f.Set("path", file).Set("exists", exists).Set("recorded_on", r.regdate);
        f.Set("size_bytes", r.filesize);
        if (r.filesize2) f.Set("compacted_size_bytes", r.filesize2);
        f.Set("state", state);
        if (failed)
            f.Set("reason", Json::MakeObject()
                                .Set("code", batch::ReasonCode(r.fileinfo))
                                .Set("text", r.fileinfo));
        files.Push(std::move(f));
    }
    if (a.json)
        std::cout << JsonDocument("status").Set("store", path).Set("files", std::move(files)).Dump()
                  << "\n";
    return kExitOk;
}

int RunForget(const std::vector<std::string>& args) {
    StoreArgs a;
    std::string error, path;
    if (!Parse(args, true, a, error)) {
        std::cerr << "mdbcompact forget: " << error << "\n\n" << kForgetHelp;
        return kExitUsage;
    }
    const auto store = OpenStore(a, path);
    std::vector<FileInfoRecord> rows;
    if (!store || store->SelectAll(rows) != 1) return StoreFailure("forget", path);
    std::set<std::string> named;
    for (const auto& f : a.files) {
        std::error_code ec;
        named.insert(batch::StoredPathOf(
            fs::absolute(platform::PathFromUtf8(f), ec).lexically_normal()));
    }
    std::set<std::string> done;
    Json forgotten = Json::MakeArray();
    for (const auto& r : rows) {
        if (done.count(r.filepath)) continue;
        if (a.missing ? Exists(r.filepath) : !named.count(r.filepath)) continue;
        if (store->ForgetFilepath(r.filepath) != 1) {
            std::cerr << "mdbcompact forget: cannot write the store " << path << "\n";
            return kExitUsage;
        }
        done.insert(r.filepath);
        const std::string file = batch::StoredPathText(r.filepath);
        if (!a.json) std::cout << "forgotten: " << file << "\n";
        forgotten.Push(file);
    }
    if (a.json)
        std::cout << JsonDocument("forget").Set("forgotten", std::move(forgotten)).Dump() << "\n";
    return kExitOk;
}

}  // namespace mdbcompact
