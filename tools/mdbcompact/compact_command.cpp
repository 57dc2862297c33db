#include "compact_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>
#include <cstdint>
#include <cstdio>
#include <iostream>

#include "jet/compact/compactor.h"
#include "platform/arguments.h"
#include "platform/console.h"

namespace mdbcompact {

const char kCompactHelp[] =
    "usage: mdbcompact compact [--memory-budget BYTES] SRC DST\n"
    "\n"
    "Compacts the Jet 3 / Jet 4 database SRC into the new file DST: unreachable pages\n"
    "are dropped, rows and long values repacked densely, indexes and usage maps\n"
    "rebuilt. A Jet 3 file stays Jet 3 and a Jet 4 file stays Jet 4. SRC is only read;\n"
    "DST must not exist yet. The new file is verified against SRC (every row, long\n"
    "value and index entry) before it appears under DST; when anything fails, no DST\n"
    "is left behind.\n"
    "\n"
    "Prints the pages and bytes before and after and the saving. When standard error\n"
    "is a terminal, a progress line shows the phase (reading, writing, verifying), how\n"
    "far it is and the pages read and written; off a terminal only the summary.\n"
    "Exit 0 when compacted, 1 when not (with the reason), 2 for bad arguments.\n"
    "\n"
    "Advanced: --memory-budget BYTES (K, M or G may follow) sets how much of its\n"
    "per-row work the compaction keeps in memory (default 128M); past it that work is\n"
    "sorted in temporary files beside DST. The result is the same file either way.\n";

namespace {

// Shows on one line of a terminal what the compaction is doing: the phase, how far
// its rows are, and the pages read and written. Redrawn at most ten times a second
// (and at each change of phase), so a fast compaction costs no terminal output.
class ProgressLine {
  public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { Clear(); }

    void Show(const jet::CompactProgress& p) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && p.stage == last_stage_ && now - last_draw_ < std::chrono::milliseconds(100))
            return;
        last_draw_ = now;
        last_stage_ = p.stage;
        const char* what = p.stage == jet::CompactProgress::Stage::Reading   ? "reading"
                           : p.stage == jet::CompactProgress::Stage::Writing ? "writing"
                                                                             : "verifying";
        int pct = p.total ? static_cast<int>(100 * std::min(p.done, p.total) / p.total) : 0;
        constexpr int kWidth = 30;
        int fill = pct * kWidth / 100;
        char line[200];
        int n =
            std::snprintf(line, sizeof line, "%-9s [%.*s%*s] %3d%%  pages read %llu, written %llu",
                          what, fill, "##############################", kWidth - fill, "", pct,
                          static_cast<unsigned long long>(p.pages_read),
                          static_cast<unsigned long long>(p.pages_written));
        n = std::clamp(n, 0, static_cast<int>(sizeof line) - 1);
        // Spaces over what is left of a longer previous line.
        std::fprintf(stderr, "\r%s%*s", line, std::max(0, width_ - n), "");
        std::fflush(stderr);
        width_ = std::max(width_, n);
        shown_ = true;
    }
    void Clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r%*s\r", width_, "");
        std::fflush(stderr);
        shown_ = false;
    }

  private:
    bool enabled_;
    bool shown_ = false;
    int width_ = 0;  // longest line drawn
    jet::CompactProgress::Stage last_stage_ = jet::CompactProgress::Stage::Reading;
    std::chrono::steady_clock::time_point last_draw_;
};

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    if (!whole) return "0.0%";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return buf;
}

}  // namespace

bool ParseByteCount(const std::string& text, std::uint64_t* bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    // Up to 15 digits, far beyond any memory, so that the number itself always fits.
    if (digits == 0 || digits > 15) return false;
    std::uint64_t unit = 1;
    const std::string suffix = text.substr(digits);
    if (suffix == "K" || suffix == "k") unit = std::uint64_t{1} << 10;
    else if (suffix == "M" || suffix == "m") unit = std::uint64_t{1} << 20;
    else if (suffix == "G" || suffix == "g") unit = std::uint64_t{1} << 30;
    else if (!suffix.empty()) return false;
    const std::uint64_t n = std::stoull(text.substr(0, digits));
    if (n > std::numeric_limits<std::uint64_t>::max() / unit) return false;
    *bytes = n * unit;
    return true;
}

int RunCompact(const std::string& source, const std::string& destination,
               std::uint64_t memory_budget) {
    ProgressLine bar(mdb::platform::ErrorStreamIsTerminal());
    jet::CompactOptions options;
    options.memory_budget = memory_budget;
    jet::CompactResult r = jet::Compact(mdb::platform::PathFromUtf8(source),
                                        mdb::platform::PathFromUtf8(destination),
                                        [&](const jet::CompactProgress& p) { bar.Show(p); },
                                        options);
    bar.Clear();
    if (!r.compacted) {
        std::cerr << "mdbcompact: not compacted: " << r.reason << "\n";
        return 1;
    }
    std::cout << "compacted:  " << source << " -> " << destination << "\n"
              << "format:     " << jet::FormatName(r.format) << "\n"
              << "before:     " << r.pages_before << " pages, " << r.bytes_before << " bytes\n"
              << "after:      " << r.pages_after << " pages, " << r.bytes_after << " bytes\n"
              << "saved:      "
              << static_cast<std::int64_t>(r.pages_before) -
                     static_cast<std::int64_t>(r.pages_after)
              << " pages, "
              << static_cast<std::int64_t>(r.bytes_before) -
                     static_cast<std::int64_t>(r.bytes_after)
              << " bytes ("
              << Percent(r.bytes_before - std::min(r.bytes_before, r.bytes_after), r.bytes_before)
              << ")\n";
    return 0;
}

}  // namespace mdbcompact
