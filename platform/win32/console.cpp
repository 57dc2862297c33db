#include "platform/console.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/wide.h"

namespace mdb::platform {

namespace {

HANDLE OutputHandle() {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
}

// Standard output does not change while a program runs, so it is examined once.
bool OutputIsConsole() {
    static const bool console = [] {
        DWORD mode = 0;
        return GetConsoleMode(OutputHandle(), &mode) != 0;
    }();
    return console;
}

// Older consoles refuse a single write of more than about 64 KiB; a smaller piece keeps
// every write well below that.
constexpr size_t kConsolePieceUnits = 8192;

void WriteToConsole(std::wstring_view text) {
    const HANDLE console = OutputHandle();
    while (!text.empty()) {
        size_t piece = std::min(text.size(), kConsolePieceUnits);
        // A surrogate pair stays in one piece.
        if (piece < text.size() && IS_HIGH_SURROGATE(text[piece - 1])) --piece;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(piece), &written, nullptr) ||
            written == 0)
            return;
        text.remove_prefix(written);
    }
}

}  // namespace

// The programs' texts are UTF-8. A console is given the characters themselves: what it
// shows then depends neither on its output code page nor on how the C runtime would read
// bytes (Wine's C runtime reads bytes written to a console as Latin-1). A pipe or a file
// receives the bytes of the system's ANSI code page (GBK on a Chinese system), which is
// what a reader of the scanner's output expects there.
void ConsoleWrite(std::string_view text) {
    if (OutputIsConsole()) {
        fflush(stdout);  // what went through the C runtime comes first
        WriteToConsole(win32::Wide(text));
        return;
    }
    const std::string out = win32::ToCodePage(text, GetACP());
    fwrite(out.data(), 1, out.size(), stdout);
}

void FlushConsole() {
    fflush(stdout);
}

void PrepareConsole() {
    if (!_isatty(_fileno(stdout))) {
        // The texts end their lines with "\r\n" themselves, the bytes a file or pipe
        // receives on Linux too; the C runtime's text mode would put a second "\r" before
        // every "\n".
        _setmode(_fileno(stdout), _O_BINARY);
        static char buffer[1 << 20];
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }
}

bool ErrorStreamIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void WaitForKey() {
    if (!_isatty(_fileno(stdin))) return;
    _getch();
}

bool StandardOutputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

}  // namespace mdb::platform
