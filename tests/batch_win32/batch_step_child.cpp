// Runs the batch's per-file procedure on one queued file and ends itself abruptly
// (TerminateProcess, as a killed process or a crash ends it) when the procedure reaches
// a given step. Arguments (UTF-8):
//   STORE BACKUP_ROOT RUN_DIR STORED_PATH STEP EXCHANGE(0/1) REMOVE_FIRST(0/1)
// The compactor writes the first half of the source, so the caller can tell the original
// from the compacted file. REMOVE_FIRST 1 first removes the site file, as a replacement
// that removes the original before the new file has its name leaves it when it is ended
// there: the caller's checks must catch it. (Overwriting in place cannot stand in for a
// broken replacement here: the procedure holds the site file with writers refused.)
#include "batch/backup_compact_replace.h"
#include "batch/stored_path.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "tests/common/test_support.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace mdb;

constexpr UINT kEndedAtStep = 9;

}  // namespace

int main() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count != 8) return 2;
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const std::wstring arg = wide[i];
        args.push_back(Utf16ToUtf8(std::u16string(arg.begin(), arg.end())).value_or(""));
    }
    const std::string& stored = args[4];
    const int step = std::stoi(args[5]);
    const bool removeFirst = args[7] == "1";

    batch::ReplaceEnvironment env;
    env.backupRoot = platform::PathFromUtf8(args[2]);
    env.openStore = [&] { return FileInfoDb::Open(args[1]); };
    env.exchangeNames = args[6] == "1";
    env.compact = [](const fs::path& source, const fs::path& destination) {
        const std::string bytes = test::ReadWholeFile(source);
        test::WriteWholeFile(destination, bytes.substr(0, bytes.size() / 2));
        return batch::CompactOutcome{true, {}};
    };
    env.checkpoint = [&](batch::ReplaceStep reached) {
        if (static_cast<int>(reached) != step) return;
        if (removeFirst) {
            const std::string site = platform::Utf8OfPath(*batch::DecodeStoredPath(stored));
            DeleteFileW(platform::PathFromUtf8("\\\\?\\" + site).c_str());
        }
        TerminateProcess(GetCurrentProcess(), kEndedAtStep);
    };
    std::string reason;
    unsigned replaced = 0;
    batch::BackupCompactReplace(stored, *Utf8ToUtf16("\\\\?\\" + args[3]), reason, replaced, env);
    return 0;
}
