// mdbcompact: inspect, check and export Jet 3 / Jet 4 (.mdb) databases.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "compact_command.h"
#include "repair_command.h"
#include "jet/compact/compactor.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/process.h"
#if MDBCOMPACT_BATCH
#include "batch_command.h"
#include "store_commands.h"
#include "common/i18n.h"
#endif

namespace {

const char kUsage[] =
    "usage: mdbcompact COMMAND [ARGS]\n"
    "\n"
    "Reads Jet 3 (Access 97) and Jet 4 (Access 2000-2003) .mdb files.\n"
    "\n"
    "commands:\n"
    "  info FILE           format, pages by type, tables, unreachable pages, estimate\n"
    "  check FILE          structural check; exit 0 when sound, else problems, exit 1\n"
    "  export FILE TABLE   every row of TABLE as CSV (canonical form: export --help)\n"
    "  tables FILE         names of the user tables, one per line\n"
    "  compact SRC DST     compacts SRC into the new file DST, verified\n"
    "  repair SRC DST      a new, sound file DST from what the damaged SRC still holds\n"
    "  batch (--all|FILE...) backs up, compacts and replaces recorded databases, as\n"
    "                      mdbwarden does (web server stopped, store updated)\n"
    "  status              the recorded databases, their state and reasons\n"
    "  forget (--missing|FILE...) removes records of databases from the store\n"
    "\n"
    "Run 'mdbcompact COMMAND --help' for details. Exit code 2: bad arguments or a file\n"
    "that cannot be read. --version prints the version.\n";

const char kInfoHelp[] =
    "usage: mdbcompact info [--pages] [--json] FILE\n"
    "\n"
    "Prints the file's format and page size, its pages by type, every user table with\n"
    "its row count, the unreachable pages, the deleted row slots (tombstones) and an\n"
    "estimate of the file size after compaction. A file that is not read (an .accdb\n"
    "file, a password, page encryption, a truncated or non-Jet file) is named with the\n"
    "reason, and the exit code is 2.\n"
    "--pages also lists every page with its role (or unreachable) and its table.\n"
    "--json prints one JSON document instead (schema in mdbcompact(1)); --pages is then\n"
    "ignored.\n";

const char kCheckHelp[] =
    "usage: mdbcompact check [--json] FILE\n"
    "\n"
    "Checks every structure of the database: page roles, usage maps, the global page\n"
    "map, row offsets, overflow rows, long-value chains, every index tree (order, node\n"
    "entries, row pointers) and the row counts of the table definitions.\n"
    "Exit 0 and \"sound\" when nothing is wrong; otherwise one problem per line and\n"
    "exit 1. Exit 2 when the file cannot be read at all.\n"
    "--json prints one JSON document instead, with the same exit codes.\n";

const char kExportHelp[] =
    "usage: mdbcompact export [--salvage] FILE TABLE\n"
    "\n"
    "Writes every live row of TABLE as CSV to standard output, in physical order.\n"
    "A row that cannot be read is left out and a memo or OLE value that cannot be read\n"
    "whole is written as NULL; rows on pages that the table's usage map does not list\n"
    "are left out unless --salvage is given. Each is named on standard error (page and\n"
    "row), as is a table with fewer rows than its definition counts, and the exit code\n"
    "is then 1. Exit 2: no such table, or the file or the table cannot be read.\n"
    "Canonical form:\n"
    "  - first line: the column names, in column order, separated by commas\n"
    "  - fields separated by ',', rows ended by '\\n' (a value may hold line breaks)\n"
    "  - NULL: an empty field; an empty text: \"\"\n"
    "  - Text, Memo, Replication ID and Date/Time values: in double quotes, a quote\n"
    "    inside doubled; text is UTF-8\n"
    "  - Date/Time: YYYY-MM-DD HH:MM:SS, rounded to the second\n"
    "  - Byte, Integer, Long Integer: decimal; Single, Double: the shortest text that\n"
    "    reads back as the same value; Currency: four decimals; Numeric: its scale\n"
    "  - Boolean: 1 or 0\n"
    "  - Binary and OLE: upper-case hexadecimal, two digits per byte, no quotes\n"
    "  - Replication ID: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\n";

const char kTablesHelp[] =
    "usage: mdbcompact tables FILE\n"
    "\n"
    "Prints the names of the user tables (no system tables), in catalog order.\n";

bool IsHelp(const char* a) {
    return !std::strcmp(a, "--help") || !std::strcmp(a, "-h");
}

int Usage(const char* text, const std::string& error) {
    std::cerr << "mdbcompact: " << error << "\n\n" << text;
    return mdbcompact::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    mdb::platform::KeepFreedMemoryForReuse();
    mdb::platform::UseConsoleTextStreams();
    std::vector<std::string> args = mdb::platform::CommandLineArguments(argc, argv);
    if (args.empty()) return Usage(kUsage, "no command given");
    const std::string cmd = args[0];
    if (IsHelp(cmd.c_str())) {
        std::cout << kUsage;
        return 0;
    }
    if (cmd == "--version") {
        std::cout << "mdbcompact " << MDB_VERSION << "\n";
        return 0;
    }
#if MDBCOMPACT_BATCH
    struct StoreCommand {
        const char* name;
        const char* help;
        int (*run)(const std::vector<std::string>&);
    };
    static const StoreCommand storeCommands[] = {
        {"batch", mdbcompact::kBatchHelp, mdbcompact::RunBatch},
        {"status", mdbcompact::kStatusHelp, mdbcompact::RunStatus},
        {"forget", mdbcompact::kForgetHelp, mdbcompact::RunForget}};
    for (const auto& c : storeCommands) {
        if (cmd != c.name) continue;
        // Their own texts are English; the reasons (Chinese, as the store keeps them) are
        // shown in the user's language.
        mdb::i18n::UseUserLanguage();
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        for (const auto& a : rest)
            if (IsHelp(a.c_str())) {
                std::cout << c.help;
                return 0;
            }
        return c.run(rest);
    }
#else
    if (cmd == "batch") return Usage(kUsage, "'batch' is not available in this build");
#endif
    struct Sub {
        const char* name;
        const char* help;
        std::size_t nargs;
    };
    static const Sub subs[] = {{"info", kInfoHelp, 1},
                               {"check", kCheckHelp, 1},
                               {"export", kExportHelp, 2},
                               {"tables", kTablesHelp, 1},
                               {"compact", mdbcompact::kCompactHelp, 2},
                               {"repair", mdbcompact::kRepairHelp, 2}};
    const Sub* sub = nullptr;
    for (const auto& s : subs)
        if (cmd == s.name) sub = &s;
    if (!sub) return Usage(kUsage, "unknown command '" + cmd + "'");
    bool pages = false;
    std::uint64_t memory_budget = jet::kDefaultMemoryBudget;
    if (cmd == "compact" || cmd == "repair") {
        auto it = std::find(args.begin() + 1, args.end(), "--memory-budget");
        if (it != args.end()) {
            if (it + 1 == args.end() || !mdbcompact::ParseByteCount(*(it + 1), &memory_budget))
                return Usage(sub->help, "--memory-budget takes a byte count (e.g. 64M)");
            args.erase(it, it + 2);
        }
    }
    auto takeFlag = [&](const char* flag) {
        auto it = std::find(args.begin() + 1, args.end(), flag);
        if (it == args.end()) return false;
        args.erase(it);
        return true;
    };
    const bool salvage = cmd == "export" && takeFlag("--salvage");
    if (cmd == "info") pages = takeFlag("--pages");
    const bool json = (cmd == "info" || cmd == "check" || cmd == "repair") && takeFlag("--json");
    for (std::size_t i = 1; i < args.size(); ++i)
        if (IsHelp(args[i].c_str())) {
            std::cout << sub->help;
            return 0;
        }
    if (args.size() - 1 != sub->nargs)
        return Usage(sub->help, std::string("'") + sub->name + "' takes " +
                                    std::to_string(sub->nargs) +
                                    (sub->nargs == 1 ? " argument" : " arguments"));
    if (cmd == "info") return mdbcompact::RunInfo(args[1], pages, json);
    if (cmd == "check") return mdbcompact::RunCheck(args[1], json);
    if (cmd == "export") return mdbcompact::RunExport(args[1], args[2], salvage);
    if (cmd == "compact") return mdbcompact::RunCompact(args[1], args[2], memory_budget);
    if (cmd == "repair") return mdbcompact::RunRepair(args[1], args[2], json, memory_budget);
    return mdbcompact::RunTables(args[1]);
}
