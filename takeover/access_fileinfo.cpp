#include "takeover/access_fileinfo.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "jet/database.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/text.h"
#include "jet/value.h"

namespace mdb::takeover {

namespace {

// The columns of the original's table that become ours, by name (Jet compares names
// without regard to case).
enum Field { kId, kFid, kRegdate, kFilenameid, kFilename, kFilepath, kFilesize, kFilesize2,
             kState, kChkval, kInfo, kFieldCount };
constexpr std::array<const char*, kFieldCount> kFieldNames = {
    "id",       "fid",       "regdate",         "filenameid", "filename", "filepath",
    "filesize", "filesize2", "CompactDatabase", "filechkval", "fileinfo"};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    text.erase(text.begin(), first);
    return text;
}

double NumberOf(const std::string& text) {
    double value = 0;
    const std::string t = Trimmed(text);
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    return ec == std::errc() ? value : 0;
}

// A size in bytes: the original keeps sizes as doubles (or as text in a text column).
std::uint64_t ByteCount(const std::string& text) {
    const double value = std::round(NumberOf(text));
    if (!(value > 0)) return 0;
    if (value >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace

bool IsJetFileStart(std::span<const std::uint8_t> start) {
    // Page 0 is the header page (type 0); the engine's name follows at offset 4.
    static constexpr char kJet[] = "Standard Jet DB";
    static constexpr char kAce[] = "Standard ACE DB";
    constexpr std::size_t kAt = 4, kLength = sizeof kJet - 1;
    static_assert(kAt + kLength <= kJetProbeBytes);
    if (start.size() < kAt + kLength || start[0] != 0) return false;
    const auto* name = reinterpret_cast<const char*>(start.data() + kAt);
    return std::memcmp(name, kJet, kLength) == 0 || std::memcmp(name, kAce, kLength) == 0;
}

bool ReadAccessFileInfo(const std::filesystem::path& path, std::vector<FileInfoRecord>& rows,
                        std::string& reason) {
    rows.clear();
    jet::Status status;
    std::unique_ptr<jet::Database> db = jet::Database::Open(path, &status);
    if (!db) {
        reason = status.reason;
        return false;
    }
    const jet::CatalogEntry* entry = db->FindTable(kFileInfoTable);
    if (entry == nullptr) {
        reason = "the database has no table 'fileinfo'";
        return false;
    }
    try {
        const jet::TableDef& table = db->Definition(entry->tdef_page());
        std::array<std::optional<std::size_t>, kFieldCount> at;  // position in table.columns
        for (std::size_t c = 0; c < table.columns.size(); ++c)
            for (std::size_t f = 0; f < kFieldCount; ++f)
                if (SameName(table.columns[c].name, kFieldNames[f])) at[f] = c;
        for (std::size_t f = 0; f < kFieldCount; ++f)
            if (!at[f]) {
                reason = "the table 'fileinfo' has no column '" + std::string(kFieldNames[f]) + "'";
                return false;
            }

        const bool jet3 = db->jet3();
        jet::TableReader reader(db->file(), table);
        const jet::RowCracker cracker(table, jet3);
        jet::CrackedRow cracked;
        // One field as the text it holds: texts and memos decoded, other types in the
        // engine's canonical form (a date as "YYYY-MM-DD HH:MM:SS", a number in digits).
        const auto text = [&](const jet::RowRef& row, Field f) -> std::string {
            const jet::Column& column = table.columns[*at[f]];
            const jet::FieldRef& field = cracked.fields[*at[f]];
            if (column.type == jet::kColBool) return field.bool_value ? "1" : "0";
            if (field.null) return {};
            const jet::Bytes value = row.bytes.subspan(field.begin, field.size);
            if (column.type == jet::kColMemo)
                return jet::DecodeText(reader.ReadLongValue(value).data, jet3);
            if (column.type == jet::kColOle || column.type == jet::kColBinary)
                throw jet::FormatError("the column '" + column.name + "' holds binary data");
            return jet::FormatScalar(column, value, jet3);
        };
        reader.set_plan_long_values(true);
        reader.ForEachRow([&](const jet::RowRef& row) {
            cracker.Crack(row.bytes, cracked);
            FileInfoRecord r;
            r.id = static_cast<std::int64_t>(NumberOf(text(row, kId)));
            r.fid = text(row, kFid);
            // Ours keeps the day alone, as the scanner writes it and the purge compares it.
            r.regdate = Trimmed(text(row, kRegdate)).substr(0, 10);
            r.filenameid = text(row, kFilenameid);
            r.filename = text(row, kFilename);
            r.filepath = text(row, kFilepath);
            r.filesize = ByteCount(text(row, kFilesize));
            r.filesize2 = ByteCount(text(row, kFilesize2));
            r.compactDatabase = text(row, kState);
            r.filechkval = text(row, kChkval);
            r.fileinfo = text(row, kInfo);
            rows.push_back(std::move(r));
            return true;
        });
    } catch (const jet::FormatError& error) {
        rows.clear();
        reason = std::string("the table 'fileinfo' cannot be read: ") + error.what();
        return false;
    }
    // The order of the rows is that of their ids (the original numbers them as it adds
    // them); rows without an id keep their place after those with one.
    std::stable_sort(rows.begin(), rows.end(), [](const FileInfoRecord& a, const FileInfoRecord& b) {
        return (a.id > 0 ? a.id : std::numeric_limits<std::int64_t>::max()) <
               (b.id > 0 ? b.id : std::numeric_limits<std::int64_t>::max());
    });
    return true;
}

}  // namespace mdb::takeover
