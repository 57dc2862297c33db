#include "batch/compact_mdb_file.h"

#include "batch/stored_path.h"
#include "jet/checker.h"
#include "jet/compact/compactor.h"
#include "jet/compact/repairer.h"
#include "jet/header.h"

#include <algorithm>
#include <cctype>
#include <exception>

namespace mdb::batch {
namespace {

constexpr char kAceKind[] = MDB_TEXT("不是 Jet 3/Jet 4 格式的 MDB 文件（Access 2007 及以后的格式）");

bool Mentions(const std::string& lowerText, const char* word) {
    return lowerText.find(word) != std::string::npos;
}

}  // namespace

std::string DescribeEngineFailure(const std::string& engineReason) {
    // The engine quotes file names in '...'; only its own words decide the kind.
    std::string lower;
    bool quoted = false;
    for (char c : engineReason) {
        if (c == '\'')
            quoted = !quoted;
        else if (!quoted)
            lower += c;
    }
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const char* kind = MDB_TEXT("数据库文件无法读取或已损坏");
    if (Mentions(lower, "password")) {
        kind = MDB_TEXT("数据库设有密码");
    } else if (Mentions(lower, "encrypt")) {
        kind = MDB_TEXT("数据库已加密");
    } else if (Mentions(lower, "ace ") || Mentions(lower, "accdb") || Mentions(lower, "2007")) {
        kind = kAceKind;
    } else if (Mentions(lower, "verif")) {
        kind = MDB_TEXT("压缩结果校验未通过，原文件未改动");
    } else if (Mentions(lower, "space") || Mentions(lower, "write") || Mentions(lower, "rename")) {
        kind = MDB_TEXT("无法写入压缩后的文件");
    }
    if (engineReason.empty()) return kind;
    return std::string(kind) + "（" + engineReason + "）";
}

namespace {

std::string NotCompacted(jet::Format format, const std::string& engineReason) {
    return std::string(kNotCompactedPrefix) +
           (format == jet::Format::Ace ? std::string(kAceKind) + "（" + engineReason + "）"
                                       : DescribeEngineFailure(engineReason));
}

}  // namespace

bool EngineRefusesFile(std::span<const std::uint8_t> firstPage, std::uint64_t fileSize,
                       std::string& reason) {
    const jet::HeaderResult header = jet::DecodeHeader(firstPage, fileSize);
    if (header.refusal == jet::Refusal::None) return false;
    reason = NotCompacted(header.header.format, header.reason);
    return true;
}

namespace {

bool SystemTable(const std::string& name) { return name.rfind("MSys", 0) == 0; }

// "1 table", "2 tables".
std::string Count(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "'Orders': 2 of 3 indexes, usage map; 'Users': usage map" (at most three tables named).
std::string MadeAnew(const jet::RepairResult& r) {
    std::string text;
    int named = 0, more = 0;
    for (const jet::TableRepair& t : r.tables) {
        if (!t.indexes_rebuilt && !t.map_rebuilt) continue;
        if (named == 3) {
            ++more;
            continue;
        }
        std::string what;
        if (t.indexes_rebuilt)
            what = std::to_string(t.indexes_rebuilt) + " of " + Count(t.indexes, "index", "indexes");
        if (t.map_rebuilt) what += std::string(what.empty() ? "" : ", ") + "usage map";
        text += std::string(named++ ? "; " : "") + "'" + t.name + "': " + what;
    }
    if (more) text += "; " + Count(more, "more table", "more tables");
    return text.empty() ? "free-space counts and row counts" : text;
}

// Rows kept of those the tables held, and the first thing lost, in the engine's words.
std::string Losses(const jet::RepairResult& r) {
    std::uint64_t kept = 0, held = 0, values = 0;
    std::string first;
    for (const jet::TableRepair& t : r.tables) {
        if (SystemTable(t.name)) continue;
        kept += t.rows_salvaged;
        held += std::max<std::uint64_t>(t.definition_rows, t.rows_salvaged);
        for (const jet::SalvageLoss& l : t.losses) {
            if (l.kind == jet::SalvageLoss::Kind::Value) ++values;
            if (first.empty()) first = "table '" + t.name + "', " + l.Describe();
        }
    }
    std::string text = std::to_string(kept) + " of " + Count(held, "row", "rows") + " recovered";
    if (values) text += ", " + Count(values, "long value", "long values") + " lost";
    if (!r.lost_tables.empty())
        text += ", " + Count(r.lost_tables.size(), "table", "tables") + " lost ('" +
                r.lost_tables.front().name + "': " + r.lost_tables.front().reason + ")";
    if (!r.catalog_losses.empty())
        text += ", " + Count(r.catalog_losses.size(), "catalog row", "catalog rows") + " lost";
    if (!first.empty()) text += "; first loss: " + first;
    return text;
}

std::string Bracketed(const char* kind, const std::string& detail) {
    return std::string(kind) + "（" + detail + "）";
}

// The check found `problem`: the file is repaired into `destination` when `damaged`
// allows what the repair keeps.
CompactOutcome RepairInstead(const std::filesystem::path& source,
                             const std::filesystem::path& destination, const std::string& problem,
                             DamagedFiles damaged) {
    const jet::RepairResult repair = jet::Repair(source, destination);
    if (!repair)
        return {false, std::string(kNotCompactedPrefix) +
                           Bracketed(kCannotRepair, problem + "; " + repair.reason)};
    if (repair.lossless()) return {true, Bracketed(kRepairedNote, "made anew: " + MadeAnew(repair))};
    if (damaged == DamagedFiles::RepairAlways)
        return {true, Bracketed(kRepairedLossyNote, Losses(repair))};
    std::error_code ec;
    std::filesystem::remove(destination, ec);
    return {false, std::string(kNotCompactedPrefix) + Bracketed(kRepairWouldLose, Losses(repair))};
}

}  // namespace

bool IsRepairNote(std::string_view stored) {
    return stored.starts_with(kRepairedNote);
}

CompactOutcome CompactDatabaseFile(const std::filesystem::path& source,
                                   const std::filesystem::path& destination, DamagedFiles damaged) {
    try {
        // The compaction copies what the usage maps list and verifies it against the
        // source read the same way: rows on pages no map lists, or an index that no
        // longer matches its rows, would pass unseen. The check sees them first. A
        // file it cannot open at all is left to the compaction, whose reason says why.
        const jet::CheckReport check = jet::CheckFile(source);
        if (check.opened && !check.sound()) {
            const std::string problem =
                "the check found " + std::to_string(check.problems.size()) +
                (check.problems.size() == 1 ? " problem" : " problems") + ", first: " +
                check.problems.front().text;
            return RepairInstead(source, destination, problem, damaged);
        }
        const jet::CompactResult result = jet::Compact(source, destination);
        if (result.compacted) return {true, {}};
        return {false, NotCompacted(result.format, result.reason)};
    } catch (const std::exception& e) {
        // The engine reports failures as results; anything thrown (memory) still must
        // not end the batch.
        return {false, std::string(kNotCompactedPrefix) + DescribeEngineFailure(e.what())};
    }
}

int CompactMdbFile(std::u16string source, std::u16string destination, std::string& reason) {
    const auto sourcePath = PathFromLong(std::move(source));
    const auto destinationPath = PathFromLong(std::move(destination));
    if (!sourcePath || !destinationPath) {
        reason = std::string(kNotCompactedPrefix) + DescribeEngineFailure("invalid file path");
        return 0;
    }
    CompactOutcome outcome = CompactDatabaseFile(*sourcePath, *destinationPath);
    reason = std::move(outcome.reason);
    return outcome.compacted ? 1 : 0;
}

}  // namespace mdb::batch
