// The per-file procedure in a process of its own, for the crash tests that load
// kill_at_call into it: replace_child EXCHANGE STORED-PATH RUN-DIR BACKUP-ROOT STORE.
// Each step reached is written as one byte to the descriptor MDB_KILL_IGNORE_FD.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "batch/backup_compact_replace.h"
#include "common/filestore.h"
#include "common/utf16.h"
#include "fake_engine.h"

int main(int argc, char** argv) {
    using namespace mdb;
    if (argc != 6) return 2;
    const char* report = std::getenv("MDB_KILL_IGNORE_FD");
    const int steps = report ? std::atoi(report) : -1;
    const std::string store = argv[5];
    batch::ReplaceEnvironment env;
    env.exchangeNames = std::string(argv[1]) == "1";
    env.backupRoot = argv[4];
    env.openStore = [&] { return FileInfoDb::Open(store); };
    env.compact = HalfCompactor;
    env.checkpoint = [&](batch::ReplaceStep reached) {
        const char b = static_cast<char>(reached);
        if (steps >= 0) (void)!write(steps, &b, 1);
    };
    std::string reason;
    unsigned count = 0;
    batch::BackupCompactReplace(argv[2], *Utf8ToUtf16(argv[3]), reason, count, env);
    return 0;
}
