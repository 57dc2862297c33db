// A table's rows as the canonical CSV lines of export, with where each one lies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "damage.h"
#include "jet/salvage.h"

namespace repairtest {

struct TableRow {
    jet::RowAddr slot, addr;
    std::string line;
    std::vector<std::uint32_t> value_pages;  // pages of its long values
};

struct TableRows {
    bool found = false;  // the table is in the catalog
    std::vector<TableRow> rows;
    std::vector<jet::SalvageLoss> losses;
};

// Read as export --salvage reads them.
TableRows ReadRows(const std::filesystem::path& db, const std::string& table);

// The lines of `rows`, sorted.
std::vector<std::string> Lines(const std::vector<TableRow>& rows);

// The rows of an undamaged file that `d` leaves whole: rows whose slot, bytes and long
// values all lie on pages it did not touch.
std::vector<TableRow> Survivors(const TableRows& original, const damage::Damage& d);

// True when every line of `part` is in `whole` (as many times).
bool Contains(std::vector<std::string> whole, std::vector<std::string> part, std::string* missing);

}  // namespace repairtest
