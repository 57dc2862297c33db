#pragma once
// Starting a program of the Windows build with its standard output and error going to a
// file, so a test can read what it printed (under Wine, as on Windows).

#include <windows.h>

#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/process.h"

namespace mdb::test {

inline platform::SpawnResult StartWithOutputTo(const std::vector<std::string>& argv,
                                               const std::string& outputPath) {
    HANDLE out =
        CreateFileW(platform::PathFromUtf8(outputPath).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    // The child is handed this process's standard handles: the file stands in for them
    // while it starts.
    const HANDLE savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE savedErr = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, out);
    const platform::SpawnResult started = platform::SpawnProcess(argv);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
    SetStdHandle(STD_ERROR_HANDLE, savedErr);
    CloseHandle(out);
    return started;
}

}  // namespace mdb::test
