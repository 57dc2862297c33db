// Large test databases made from a small one: one table's rows are repeated until
// the file reaches a chosen row count, each repeat with its own long values and
// distinct keys in its primary key and unique Long Integer indexes (other unique
// indexes repeat their keys), a share of the rows written and then marked
// deleted (their bytes and long values stay, as dead space). The file is written
// with the compaction engine's page builders, so it is a valid Jet file that any
// reader opens; it exists to measure the engine on files of up to 2 GB, which are
// never kept in the repository.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace jet {

struct GenerateOptions {
    std::filesystem::path source;    // a Jet 3 / Jet 4 file holding the table
    std::filesystem::path output;    // must not exist
    std::string table;               // the table whose rows are repeated
    std::uint64_t rows = 0;          // rows to write (live and deleted); 0 = use bytes
    std::uint64_t bytes = 0;         // approximate file size wanted, when rows is 0
    unsigned deleted_per_mille = 0;  // share of the written rows marked deleted
    // Narrow: only the table's short rows without long values outside the row are used,
    // so the file is many short rows (a visitor log), not long values.
    bool narrow = false;
    // Small long values: only the table's rows whose long values outside the row are
    // all short (one per row at least), so the file is many small long values.
    bool small_long_values = false;
};

struct GenerateResult {
    bool ok = false;
    std::string reason;
    std::uint64_t rows_written = 0, rows_live = 0;
    std::uint32_t pages = 0;
};

GenerateResult GenerateDatabase(const GenerateOptions& options);

}  // namespace jet
