// `mdbcompact info` and `mdbcompact check`.
#include <cstdio>
#include <iostream>
#include <map>

#include "batch/compact_mdb_file.h"
#include "batch/reason_code.h"
#include "commands.h"
#include "common/json.h"
#include "jet/checker.h"
#include "platform/arguments.h"

namespace mdbcompact {

namespace {

std::string Ranges(const std::vector<std::uint32_t>& pages, std::size_t max_ranges) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
        if (shown++ == max_ranges) {
            out += ", ...";
            break;
        }
        if (!out.empty()) out += ", ";
        out += std::to_string(pages[i]);
        if (j > i) out += "-" + std::to_string(pages[j]);
        i = j + 1;
    }
    return out;
}

std::string TypeName(std::uint8_t t) {
    switch (t) {
        case 0x00:
            return "header / never written (0x00)";
        case 0x01:
            return "data (0x01)";
        case 0x02:
            return "table definition (0x02)";
        case 0x03:
            return "index node (0x03)";
        case 0x04:
            return "index leaf (0x04)";
        case 0x05:
            return "usage bitmap (0x05)";
        default: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "other (0x%02X)", t);
            return buf;
        }
    }
}

std::string ObjectTypeName(std::int16_t t) {
    switch (t) {
        case 1:
            return "tables";
        case 2:
            return "databases";
        case 3:
            return "containers";
        case 4:
            return "linked ODBC tables";
        case 5:
            return "queries";
        case 6:
            return "linked tables";
        case 8:
            return "relationships";
        case -32768:
            return "forms";
        case -32766:
            return "macros";
        case -32764:
            return "reports";
        case -32761:
            return "modules";
        case -32758:
            return "database properties";
        default:
            return "type " + std::to_string(t);
    }
}

// The reason a file was not read, as code and text: the engine's words give the kind.
mdb::Json ReasonJson(const std::string& engineReason) {
    mdb::Json reason = mdb::Json::MakeObject();
    reason.Set("code", mdb::batch::ReasonCode(mdb::batch::DescribeEngineFailure(engineReason)));
    reason.Set("text", engineReason);
    return reason;
}

mdb::Json NotReadJson(const char* command, const std::string& file, const jet::Header* header,
                      const std::string& engineReason) {
    mdb::Json doc = mdb::JsonDocument(command);
    doc.Set("file", file);
    doc.Set("opened", false);
    if (header) doc.Set("format", jet::FormatName(header->format));
    doc.Set("reason", ReasonJson(engineReason));
    return doc;
}

int InfoJson(const std::string& file, const jet::Database& db, const jet::CheckReport& r) {
    const auto& h = r.header;
    mdb::Json doc = mdb::JsonDocument("info");
    doc.Set("file", file);
    doc.Set("opened", true);
    doc.Set("format", jet::FormatName(h.format));
    doc.Set("page_size_bytes", h.page_size);
    doc.Set("page_count", h.page_count);
    doc.Set("file_size_bytes", h.file_size);
    doc.Set("code_page", h.code_page);
    doc.Set("sort_order", h.sort_order);
    doc.Set("password", h.has_password);
    doc.Set("page_encryption", h.db_key != 0);
    mdb::Json types = mdb::Json::MakeArray();
    for (auto [type, count] : r.pages_by_type)
        types.Push(mdb::Json::MakeObject().Set("type", type).Set("count", count));
    doc.Set("pages_by_type", std::move(types));
    std::map<jet::PageRole, std::uint32_t> roles;
    for (auto role : r.roles) ++roles[role];
    mdb::Json roleList = mdb::Json::MakeArray();
    for (auto [role, count] : roles)
        roleList.Push(
            mdb::Json::MakeObject().Set("role", jet::PageRoleName(role)).Set("count", count));
    doc.Set("pages_by_role", std::move(roleList));
    std::uint64_t tombstones = 0;
    mdb::Json tables = mdb::Json::MakeArray();
    for (const auto& t : r.tables) {
        tombstones += t.tombstones;
        if (t.system) continue;
        tables.Push(mdb::Json::MakeObject()
                        .Set("name", t.name)
                        .Set("rows", t.live_rows)
                        .Set("definition_rows", t.definition_rows)
                        .Set("data_pages", t.data_pages)
                        .Set("long_value_pages", t.long_value_pages)
                        .Set("indexes", t.index_count)
                        .Set("deleted_row_slots", t.tombstones));
    }
    doc.Set("tables", std::move(tables));
    doc.Set("catalog_objects", db.catalog().size());
    doc.Set("unreachable_pages", r.unreachable.size());
    doc.Set("deleted_row_slots", tombstones);
    doc.Set("estimated_size_bytes", r.estimated_size);
    doc.Set("reclaimable_bytes", h.file_size > r.estimated_size ? h.file_size - r.estimated_size : 0);
    doc.Set("sound", r.sound());
    doc.Set("problem_count", r.problems.size());
    std::cout << doc.Dump() << "\n";
    return kExitOk;
}

}  // namespace

int RunInfo(const std::string& file, bool pages, bool json) {
    jet::Status st;
    jet::HeaderResult probe;
    auto db = jet::Database::Open(mdb::platform::PathFromUtf8(file), &st, &probe);
    if (!db && json) {
        const bool refused = probe.refusal != jet::Refusal::None;
        std::cout << NotReadJson("info", file, refused ? &probe.header : nullptr, st.reason).Dump()
                  << "\n";
        return kExitUsage;
    }
    if (!db) {
        if (probe.refusal != jet::Refusal::None) {
            std::cout << "file:        " << file << "\n";
            std::cout << "format:      " << jet::FormatName(probe.header.format) << "\n";
            std::cout << "not read:    " << st.reason << "\n";
        } else {
            std::cerr << "mdbcompact: " << file << ": " << st.reason << "\n";
        }
        return kExitUsage;
    }
    jet::CheckReport r = jet::CheckDatabase(*db);
    if (json) return InfoJson(file, *db, r);
    const auto& h = r.header;
    std::cout << "file:        " << file << "\n";
    std::cout << "format:      " << jet::FormatName(h.format) << "\n";
    std::cout << "page size:   " << h.page_size << "\n";
    std::cout << "pages:       " << h.page_count << " (" << h.file_size << " bytes)\n";
    std::cout << "code page:   " << h.code_page << ", sort order " << h.sort_order << "\n";
    std::cout << "password:    " << (h.has_password ? "yes" : "none")
              << ", page encryption: " << (h.db_key ? "yes" : "none") << "\n";
    std::cout << "pages by type:\n";
    for (auto [type, count] : r.pages_by_type)
        std::cout << "  " << TypeName(type) << ": " << count << "\n";
    std::map<jet::PageRole, std::uint32_t> roles;
    for (auto role : r.roles) ++roles[role];
    std::cout << "pages by role:\n";
    for (auto [role, count] : roles)
        std::cout << "  " << jet::PageRoleName(role) << ": " << count << "\n";
    std::uint64_t tombstones = 0;
    std::cout << "tables:\n";
    for (const auto& t : r.tables) {
        tombstones += t.tombstones;
        if (t.system) continue;
        std::cout << "  " << t.name << ": " << t.live_rows << " rows";
        if (t.live_rows != t.definition_rows)
            std::cout << " (definition says " << t.definition_rows << ")";
        std::cout << ", " << t.data_pages << " data pages, " << t.long_value_pages
                  << " long-value pages, " << t.index_count << " indexes, " << t.tombstones
                  << " deleted row slots\n";
    }
    std::map<std::int16_t, std::uint32_t> objects;
    for (const auto& e : db->catalog()) ++objects[e.type];
    std::cout << "catalog objects: " << db->catalog().size() << " (";
    bool first = true;
    for (auto [type, count] : objects) {
        std::cout << (first ? "" : ", ") << ObjectTypeName(type) << " " << count;
        first = false;
    }
    std::cout << ")\n";
    std::cout << "unreachable pages: " << r.unreachable.size();
    if (!r.unreachable.empty()) std::cout << " (" << Ranges(r.unreachable, 20) << ")";
    std::cout << "\n";
    std::cout << "deleted row slots (tombstones): " << tombstones << "\n";
    std::uint64_t size = h.file_size;
    std::cout << "estimated size after compaction: " << r.estimated_size << " bytes ("
              << (size ? (100 * r.estimated_size + size / 2) / size : 0) << "% of " << size
              << ")\n";
    std::cout << "check: "
              << (r.sound() ? "sound" : std::to_string(r.problems.size()) + " problems") << "\n";
    if (pages) {
        std::cout << "page roles:\n";
        for (std::size_t p = 0; p < r.roles.size(); ++p) {
            std::cout << "  " << p << ": " << jet::PageRoleName(r.roles[p]);
            std::int32_t t = r.role_table[p];
            if (t >= 0) std::cout << " (" << r.tables[static_cast<std::size_t>(t)].name << ")";
            if (r.roles[p] == jet::PageRole::Unreachable)
                std::cout << " (type "
                          << TypeName(db->file().Read(static_cast<std::uint32_t>(p)).type()) << ")";
            std::cout << "\n";
        }
    }
    return kExitOk;
}

int RunCheck(const std::string& file, bool json) {
    jet::CheckReport r = jet::CheckFile(mdb::platform::PathFromUtf8(file));
    if (json) {
        if (!r.opened) {
            std::cout << NotReadJson("check", file, nullptr, r.open_error).Dump() << "\n";
            return kExitUsage;
        }
        mdb::Json doc = mdb::JsonDocument("check");
        doc.Set("file", file);
        doc.Set("opened", true);
        doc.Set("sound", r.sound());
        mdb::Json problems = mdb::Json::MakeArray();
        for (const auto& p : r.problems)
            problems.Push(mdb::Json::MakeObject().Set("page", p.page).Set("text", p.text));
        doc.Set("problems", std::move(problems));
        std::cout << doc.Dump() << "\n";
        return r.sound() ? kExitOk : kExitProblems;
    }
    if (!r.opened) {
        std::cerr << "mdbcompact: " << file << ": " << r.open_error << "\n";
        return kExitUsage;
    }
    if (r.sound()) {
        std::cout << "sound\n";
        return kExitOk;
    }
    for (const auto& p : r.problems) std::cout << p.text << "\n";
    return kExitProblems;
}

}  // namespace mdbcompact
