// Feeds arbitrary bytes (mutated sample databases) to the reader: open, check, and
// export every table. Anything but a clean refusal or a report is a finding.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <vector>

#include "jet/checker.h"
#include "jet/csv_export.h"
#include "jet/database.h"

namespace {

class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    jet::Status st;
    auto db = jet::Database::OpenMemory(std::vector<std::uint8_t>(data, data + size), &st);
    if (!db) return 0;
    jet::CheckReport report = jet::CheckDatabase(*db);
    (void)report;
    NullBuffer nb;
    std::ostream out(&nb);
    // A mutated catalog can name thousands of tables; a few show the export paths.
    int budget = 64;
    for (const auto* t : db->Tables(true))
        if (budget-- > 0) (void)jet::ExportCsv(*db, t->name, out);
    return 0;
}
