#include "commands.h"

#include <iostream>

#include <cstdio>
#include <map>

#include "jet/checker.h"
#include "jet/csv_export.h"
#include "jet/database.h"
#include "platform/arguments.h"

namespace mdbcompact {

namespace {

std::unique_ptr<jet::Database> OpenOrReport(const std::string& file) {
    jet::Status st;
    auto db = jet::Database::Open(mdb::platform::PathFromUtf8(file), &st);
    if (!db) std::cerr << "mdbcompact: " << file << ": " << st.reason << "\n";
    return db;
}

}  // namespace

int RunTables(const std::string& file) {
    auto db = OpenOrReport(file);
    if (!db) return kExitUsage;
    for (const auto* t : db->Tables(false)) std::cout << t->name << "\n";
    return kExitOk;
}

int RunExport(const std::string& file, const std::string& table, bool salvage) {
    auto db = OpenOrReport(file);
    if (!db) return kExitUsage;
    std::ios::sync_with_stdio(false);
    jet::ExportOptions options;
    options.salvage = salvage;
    jet::ExportReport report;
    jet::Status st = jet::ExportCsv(*db, table, std::cout, options, &report);
    std::cout.flush();
    if (!st) {
        std::cerr << "mdbcompact: " << file << ": " << st.reason << "\n";
        return kExitUsage;
    }
    if (report.complete()) return kExitOk;
    // What was left out goes to standard error, one line each, so that a damaged
    // table's export never passes for a whole one.
    const std::string who = "mdbcompact: " + file + ": table '" + table + "': ";
    std::cerr << who << report.rows << " rows exported";
    if (report.rows != report.definition_rows)
        std::cerr << ", its definition counts " << report.definition_rows;
    std::cerr << "\n";
    bool unlisted = false;
    for (const auto& l : report.losses) {
        std::cerr << who << "skipped " << l.Describe() << "\n";
        unlisted = unlisted || l.kind == jet::SalvageLoss::Kind::Unlisted;
    }
    if (unlisted) std::cerr << who << "'export --salvage' also exports rows its usage map does not list\n";
    return kExitProblems;
}

}  // namespace mdbcompact
