#pragma once
// The programs' console: text output and an unechoed key wait.
//
// One rule for every program's output text (UTF-8 inside the programs): a console is given
// the characters themselves, whatever its code page; a file or a pipe gets UTF-8, on
// Windows as on Linux. UTF-8 holds every character a site's path may have (GBK has no
// room for many), a JSON document must be UTF-8, an export is data, and scripts read the
// same bytes from both systems.

#include <string_view>

namespace mdb::platform {

// Writes UTF-8 text to standard output (buffered; see FlushConsole).
void ConsoleWrite(std::string_view text);
void FlushConsole();

// Switches standard output to a large buffer when it is not a terminal.
void PrepareConsole();

// True when standard error is a terminal (a live progress line makes sense there).
bool ErrorStreamIsTerminal();

// Waits for one key press without echo. Returns at once when standard input is not a terminal.
void WaitForKey();

// True when standard output is a terminal (a live progress line makes sense).
bool StandardOutputIsTerminal();

// Makes std::cout and std::cerr follow the rule above: on Windows a stream that is a
// console gets its UTF-8 text as characters (the C++ streams would hand it the bytes,
// shown in the console's code page). Nothing to do elsewhere. Called once at start.
void UseConsoleTextStreams();

}  // namespace mdb::platform
