#include "compact_command.h"


#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>

#include "jet/compact/compactor.h"
#include "platform/arguments.h"
#include "platform/console.h"

namespace mdbcompact {

const char kCompactHelp[] =
    "usage: mdbcompact compact SRC DST\n"
    "\n"
    "Compacts the Jet 3 / Jet 4 database SRC into the new file DST: unreachable pages\n"
    "are dropped, rows and long values repacked densely, indexes and usage maps\n"
    "rebuilt. A Jet 3 file stays Jet 3 and a Jet 4 file stays Jet 4. SRC is only read;\n"
    "DST must not exist yet. The new file is verified against SRC (every row, long\n"
    "value and index entry) before it appears under DST; when anything fails, no DST\n"
    "is left behind.\n"
    "\n"
    "Prints the pages and bytes before and after and the saving; shows a progress bar\n"
    "when standard error is a terminal.\n"
    "Exit 0 when compacted, 1 when not (with the reason), 2 for bad arguments.\n";

namespace {

// Draws a one-line progress bar on a terminal.
class ProgressBar {
  public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { Clear(); }

    void Show(const jet::CompactProgress& p) {
        if (!enabled_) return;
        const char* what = p.stage == jet::CompactProgress::Stage::Reading   ? "reading  "
                           : p.stage == jet::CompactProgress::Stage::Writing ? "writing  "
                                                                             : "verifying";
        int pct = p.total ? static_cast<int>(100 * std::min(p.done, p.total) / p.total) : 0;
        if (pct == last_pct_ && p.stage == last_stage_) return;
        last_pct_ = pct;
        last_stage_ = p.stage;
        constexpr int kWidth = 40;
        int fill = pct * kWidth / 100;
        std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", what, fill,
                     "########################################", kWidth - fill, "", pct);
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r%*s\r", 60, "");
        std::fflush(stderr);
        shown_ = false;
    }

  private:
    bool enabled_;
    bool shown_ = false;
    int last_pct_ = -1;
    jet::CompactProgress::Stage last_stage_ = jet::CompactProgress::Stage::Reading;
};

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    if (!whole) return "0.0%";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return buf;
}

}  // namespace

int RunCompact(const std::string& source, const std::string& destination) {
    ProgressBar bar(mdb::platform::ErrorStreamIsTerminal());
    jet::CompactResult r = jet::Compact(mdb::platform::PathFromUtf8(source),
                                        mdb::platform::PathFromUtf8(destination),
                                        [&](const jet::CompactProgress& p) { bar.Show(p); });
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
