#include "repair_command.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#include "jet/compact/repairer.h"
#include "platform/arguments.h"

namespace mdbcompact {

const char kRepairHelp[] =
    "usage: mdbcompact repair [--json] [--memory-budget BYTES] SRC DST\n"
    "\n"
    "Makes the new file DST from everything the damaged database SRC still holds: the\n"
    "rows of every data page that names a table (listed in its usage map or not), each\n"
    "row checked on its own; a memo or OLE value that cannot be read whole is left\n"
    "NULL and its row kept; indexes, usage maps, free-space counts and row counts are\n"
    "made anew from the rows. A table whose definition cannot be read is lost; nothing\n"
    "is invented. SRC is only read; DST must not exist yet. DST is compacted, verified\n"
    "against the salvaged rows and checked before it appears; when anything fails no\n"
    "DST is left behind.\n"
    "\n"
    "Prints per table the rows its definition counts, the rows salvaged, the indexes\n"
    "made anew and every row and value lost (page and row), and the verdict: lossless\n"
    "(only structures derived from the rows were made anew) or lossy. --json prints the\n"
    "same report as one JSON object.\n"
    "Exit 0 when repaired losslessly, 1 when repaired with losses, 2 when no file was\n"
    "made (the reason is printed) or for bad arguments.\n";

namespace {

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

const char* KindName(jet::SalvageLoss::Kind k) {
    switch (k) {
        case jet::SalvageLoss::Kind::Row: return "row";
        case jet::SalvageLoss::Kind::Value: return "value";
        case jet::SalvageLoss::Kind::Page: return "page";
        case jet::SalvageLoss::Kind::Unlisted: return "unlisted";
        case jet::SalvageLoss::Kind::Suspect: return "suspect";
    }
    return "?";
}

std::string LossJson(const jet::SalvageLoss& l) {
    std::ostringstream o;
    o << "{\"kind\":\"" << KindName(l.kind) << "\",\"page\":" << l.at.page
      << ",\"row\":" << unsigned{l.at.row};
    if (!l.column.empty()) o << ",\"column\":" << Json(l.column);
    o << ",\"reason\":" << Json(l.reason) << "}";
    return o.str();
}

void PrintJson(const jet::RepairResult& r, const std::string& src, const std::string& dst) {
    std::ostringstream o;
    o << "{\"schema\":1,\"command\":\"repair\",\"source\":" << Json(src)
      << ",\"destination\":" << Json(dst)
      << ",\"repaired\":" << (r.repaired ? "true" : "false");
    if (!r.repaired) o << ",\"reason\":" << Json(r.reason);
    if (r.repaired) o << ",\"verdict\":\"" << (r.lossless() ? "lossless" : "lossy") << "\"";
    o << ",\"tables\":[";
    for (std::size_t i = 0; i < r.tables.size(); ++i) {
        const auto& t = r.tables[i];
        o << (i ? "," : "") << "{\"name\":" << Json(t.name)
          << ",\"definition_rows\":" << t.definition_rows
          << ",\"rows_salvaged\":" << t.rows_salvaged << ",\"indexes\":" << t.indexes
          << ",\"indexes_rebuilt\":" << t.indexes_rebuilt
          << ",\"usage_map_rebuilt\":" << (t.map_rebuilt ? "true" : "false")
          << ",\"verdict\":\"" << (t.lossless() ? "lossless" : "lossy") << "\",\"lost\":[";
        for (std::size_t k = 0; k < t.losses.size(); ++k) o << (k ? "," : "") << LossJson(t.losses[k]);
        o << "]}";
    }
    o << "],\"lost_tables\":[";
    for (std::size_t i = 0; i < r.lost_tables.size(); ++i)
        o << (i ? "," : "") << "{\"name\":" << Json(r.lost_tables[i].name)
          << ",\"reason\":" << Json(r.lost_tables[i].reason) << "}";
    o << "],\"catalog_losses\":[";
    for (std::size_t i = 0; i < r.catalog_losses.size(); ++i)
        o << (i ? "," : "") << LossJson(r.catalog_losses[i]);
    o << "]}\n";
    std::cout << o.str();
}

void PrintText(const jet::RepairResult& r, const std::string& src, const std::string& dst) {
    std::cout << "repaired:   " << src << " -> " << dst << "\n"
              << "verdict:    " << (r.lossless() ? "lossless" : "lossy") << "\n";
    for (const auto& t : r.tables) {
        // System tables are named only when something happened to them.
        if (t.lossless() && !t.indexes_rebuilt && !t.map_rebuilt && t.name.rfind("MSys", 0) == 0)
            continue;
        std::cout << "table '" << t.name << "': " << t.rows_salvaged << " rows salvaged, its definition counts "
                  << t.definition_rows << "; " << t.indexes_rebuilt << " of " << t.indexes
                  << " indexes made anew" << (t.map_rebuilt ? ", usage map made anew" : "") << "; "
                  << (t.lossless() ? "lossless" : "lossy") << "\n";
        for (const auto& l : t.losses) std::cout << "  lost " << l.Describe() << "\n";
    }
    for (const auto& t : r.lost_tables)
        std::cout << "table '" << t.name << "' is lost: " << t.reason << "\n";
    for (const auto& l : r.catalog_losses) std::cout << "catalog: lost " << l.Describe() << "\n";
    std::cout << "pages:      " << r.compaction.pages_before << " -> " << r.compaction.pages_after << "\n";
}

}  // namespace

int RunRepair(const std::string& source, const std::string& destination, bool json,
              std::uint64_t memory_budget) {
    jet::CompactOptions options;
    options.memory_budget = memory_budget;
    jet::RepairResult r = jet::Repair(mdb::platform::PathFromUtf8(source),
                                      mdb::platform::PathFromUtf8(destination), {}, options);
    if (json) PrintJson(r, source, destination);
    if (!r.repaired) {
        std::cerr << "mdbcompact: not repaired: " << r.reason << "\n";
        return 2;
    }
    if (!json) PrintText(r, source, destination);
    return r.lossless() ? 0 : 1;
}

}  // namespace mdbcompact
