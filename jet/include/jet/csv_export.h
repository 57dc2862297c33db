// Every row of a table as CSV, in the canonical form `mdbcompact export` documents.
#pragma once

#include <ostream>
#include <string>

#include "jet/database.h"

namespace jet {

// Writes the header line and every live row. On failure (unknown table, unreadable
// rows) returns the reason; rows written before the failure stay written.
Status ExportCsv(Database& db, const std::string& table, std::ostream& out);

// One field in the canonical form (no trailing separator). `null` gives "".
void AppendCsvQuoted(std::string& out, const std::string& text);

}  // namespace jet
