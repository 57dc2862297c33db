#include "platform/arguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                               : std::vector<std::string>{};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win32::Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

}  // namespace mdb::platform
