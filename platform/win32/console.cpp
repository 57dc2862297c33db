#include "platform/console.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <streambuf>
#include <string>

#include "platform/win32/wide.h"

namespace mdb::platform {

namespace {

HANDLE OutputHandle() {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// Standard output does not change while a program runs, so it is examined once.
bool OutputIsConsole() {
    static const bool console = IsConsole(OutputHandle());
    return console;
}

// Older consoles refuse a single write of more than about 64 KiB; a smaller piece keeps
// every write well below that.
constexpr size_t kConsolePieceUnits = 8192;

void WriteToConsole(std::wstring_view text, HANDLE console = OutputHandle()) {
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

// A C++ stream's buffer that gives a console the characters of the UTF-8 text written to
// it. Text is held until a line ends or the stream is flushed, so that a character's
// bytes are never split between two writes.
class ConsoleTextBuffer : public std::streambuf {
  public:
    explicit ConsoleTextBuffer(HANDLE console) : console_(console) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        pending_.push_back(traits_type::to_char_type(c));
        if (c == '\n') sync();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.find('\n') != std::string::npos) sync();
        return count;
    }
    int sync() override {
        // A character cut at the end waits for the rest of its bytes.
        std::size_t complete = pending_.size();
        std::size_t back = 0;
        while (back < 4 && back < complete &&
               (static_cast<unsigned char>(pending_[complete - 1 - back]) & 0xC0) == 0x80)
            ++back;
        if (back < complete) {
            const auto lead = static_cast<unsigned char>(pending_[complete - 1 - back]);
            const std::size_t needs = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (needs > back + 1) complete -= back + 1;
        }
        WriteToConsole(win32::Wide(std::string_view(pending_).substr(0, complete)), console_);
        pending_.erase(0, complete);
        return 0;
    }

  private:
    HANDLE console_;
    std::string pending_;
};

}  // namespace

// The programs' texts are UTF-8 (the rule in console.h). A console is given the
// characters themselves: what it shows then depends neither on its output code page nor
// on how the C runtime would read bytes (Wine's C runtime reads bytes written to a console
// as Latin-1). A pipe or a file receives the UTF-8 bytes.
void ConsoleWrite(std::string_view text) {
    if (OutputIsConsole()) {
        fflush(stdout);  // what went through the C runtime comes first
        WriteToConsole(win32::Wide(text));
        return;
    }
    fwrite(text.data(), 1, text.size(), stdout);
}

void UseConsoleTextStreams() {
    const HANDLE error = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    if (OutputIsConsole()) {
        static ConsoleTextBuffer out(OutputHandle());
        std::cout.flush();
        std::cout.rdbuf(&out);
    }
    if (IsConsole(error)) {
        static ConsoleTextBuffer err(error);
        std::cerr.rdbuf(&err);
    }
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
