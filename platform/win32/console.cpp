#include "platform/console.h"

#include <conio.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

// The programs' texts are UTF-8; a console shows its output code page (936, GBK, on a
// Chinese system) and a redirected output is read as the ANSI code page, so the text is
// converted on the way out.
static unsigned OutputCodePage() {
    const UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetACP();
}

void ConsoleWrite(std::string_view text) {
    const std::string out = win32::ToCodePage(text, OutputCodePage());
    fwrite(out.data(), 1, out.size(), stdout);
}

void FlushConsole() {
    fflush(stdout);
}

void PrepareConsole() {
    if (!_isatty(_fileno(stdout))) {
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
