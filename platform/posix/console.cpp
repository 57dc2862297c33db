#include "platform/console.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

namespace mdb::platform {

void ConsoleWrite(std::string_view text) {
    fwrite(text.data(), 1, text.size(), stdout);
}

void FlushConsole() {
    fflush(stdout);
}

void PrepareConsole() {
    // A reader that goes away must not end the scan.
    signal(SIGPIPE, SIG_IGN);
    if (!isatty(STDOUT_FILENO)) {
        static char buffer[1 << 20];
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }
}

bool ErrorStreamIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void WaitForKey() {
    if (!isatty(STDIN_FILENO)) return;
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char c = 0;
    while (read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void UseConsoleTextStreams() {}  // a terminal here takes UTF-8 bytes

}  // namespace mdb::platform
