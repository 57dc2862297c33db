#pragma once
// Starting a console program in a window of its own (the scanner started from the window).

#include <string>
#include <vector>

namespace mdb::platform {

// Starts argv[0] with the arguments argv[1..] without waiting, in a console window of its
// own: Windows gives a console program one when asked; elsewhere a terminal emulator's
// window when there is a display and a terminal program on PATH, else the program runs
// detached with its output discarded. True when it was started (never for an empty vector
// or program name).
bool StartInConsoleWindow(const std::vector<std::string>& argv);

#ifndef _WIN32
// Terminal programs tried, in order, for a window of the program's own; each takes
// "-e program arguments...".
inline const std::vector<std::string> kTerminalPrograms = {"x-terminal-emulator", "xterm"};

// The full path of the first terminal program found on `searchPath` (a PATH value; only
// absolute entries count), or empty when none is there.
std::string FindTerminalProgram(const std::string& searchPath);

// The argument vector that runs `argv` in a window of the terminal `terminal` (xterm and
// its wrappers also get the program's name as title and a font with Chinese characters),
// or, with no terminal, runs it detached from ours with its output discarded.
std::vector<std::string> ConsoleLaunchCommand(const std::vector<std::string>& argv,
                                              const std::string& terminal);
#endif

}  // namespace mdb::platform
