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

int RunExport(const std::string& file, const std::string& table) {
    auto db = OpenOrReport(file);
    if (!db) return kExitUsage;
    std::ios::sync_with_stdio(false);
    jet::Status st = jet::ExportCsv(*db, table, std::cout);
    std::cout.flush();
    if (!st) {
        std::cerr << "mdbcompact: " << file << ": " << st.reason << "\n";
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace mdbcompact
