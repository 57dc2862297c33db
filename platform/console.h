#pragma once
// The scanner's console: text output and an unechoed key wait.

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

}  // namespace mdb::platform
