// mdbscout_xconfig DIR [/T] [/C] [/G administrators:F] [/Y]
// Opens a backup run directory to the administrators of this host: the tree
// gets the administrators' group (see FindAdminGroup) with read and write
// access. /T works on the whole tree, /C goes on after errors, /G names the
// grant (only "administrators:F", full control, is known), /Y is accepted for
// compatibility (nothing is ever asked). Exit code 0 when every entry was changed.
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "companions/tree_permissions.h"
#include "platform/arguments.h"

namespace {

using mdb::EqualNoCase;

int Usage() {
    std::fprintf(stderr, "usage: mdbscout_xconfig DIR [/T] [/C] [/G administrators:F] [/Y]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("%s %s\n", "mdbscout_xconfig", MDB_VERSION);
        return 0;
    }
    const std::vector<std::string> args = mdb::platform::CommandLineArguments(argc, argv);
    if (args.empty()) return Usage();
    // As with cacls, the first argument names the tree, the switches follow.
    const std::string directory = args[0];
    bool recursive = false;
    bool continueOnError = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (EqualNoCase(arg, "/t")) {
            recursive = true;
        } else if (EqualNoCase(arg, "/c")) {
            continueOnError = true;
        } else if (EqualNoCase(arg, "/y")) {
            // nothing is ever asked
        } else if (EqualNoCase(arg, "/g") && i + 1 < args.size() &&
                   EqualNoCase(args[i + 1], "administrators:f")) {
            ++i;
        } else {
            return Usage();
        }
    }
    if (directory.empty()) return Usage();

    const auto group = companions::FindAdminGroup();
    const auto result = companions::GrantGroupAccess(mdb::platform::PathFromUtf8(directory),
                                                     group.id, recursive, continueOnError);
    for (const auto& line : result.failures) std::fprintf(stderr, "%s\n", line.c_str());
    // Said in the terms of this host: which group, what it may do, and why.
    std::printf(
        "backup folder %s: group %s may read and write it (%u entries), so that the host's "
        "administrators can restore a database from it\n",
        directory.c_str(), group.name.c_str(), result.changed);
    return result.failures.empty() ? 0 : 1;
}
