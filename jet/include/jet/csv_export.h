// Every row of a table as CSV, in the canonical form `mdbcompact export` documents.
#pragma once

#include <ostream>
#include <string>

#include "jet/database.h"
#include "jet/salvage.h"

namespace jet {

struct ExportOptions {
    // Also rows on pages that name the table but that its usage map does not list.
    bool salvage = false;
};

// What an export went past. A row it could not read is left out, a long value it
// could not read whole is written as null; both are losses, as are rows on pages
// the usage map does not list when they were not taken.
struct ExportReport {
    std::uint64_t rows = 0;             // rows written
    std::uint32_t definition_rows = 0;  // the row count the table's definition holds
    std::vector<SalvageLoss> losses;
    // Nothing was skipped and no fewer rows were found than the definition counts.
    bool complete() const { return losses.empty() && rows >= definition_rows; }
};

// Writes the header line and every live row it can read, past rows and values it
// cannot (`report` says which). Fails (the reason) for an unknown table, a definition
// that cannot be read or a failed write; rows written before stay written.
Status ExportCsv(Database& db, const std::string& table, std::ostream& out,
                 const ExportOptions& options = {}, ExportReport* report = nullptr);

// The canonical CSV lines of one table: the header, and each row read by a
// SalvageReader (a long value it cannot read is written as null, and reported to it).
class CsvRowFormat {
  public:
    CsvRowFormat(const TableDef& table, bool jet3);
    void Header(std::string& line) const;  // replaces `line`, with its '\n'
    void Row(const SalvagedRow& row, SalvageReader& reader, std::string& line) const;

  private:
    bool jet3_;
    std::vector<const Column*> cols_;  // in the order they are printed
    std::vector<std::size_t> pos_;     // each one's place in TableDef::columns
};

// One field in the canonical form (no trailing separator). `null` gives "".
void AppendCsvQuoted(std::string& out, const std::string& text);

}  // namespace jet
