#include "jet/csv_export.h"

#include "jet/text.h"
#include "jet/value.h"

namespace jet {

void AppendCsvQuoted(std::string& out, const std::string& text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

namespace {

bool NeedsQuotes(const std::string& s) {
    return s.find_first_of(",\"\r\n") != std::string::npos || s.empty();
}

}  // namespace

Status ExportCsv(Database& db, const std::string& name, std::ostream& out) {
    const CatalogEntry* e = db.FindTable(name);
    if (!e) return Status::Fail("no table named '" + name + "' in the database");
    try {
        const TableDef& t = db.Definition(e->tdef_page());
        auto cols = t.ColumnsInOrder();
        std::vector<std::size_t> pos;  // index into t.columns for each printed column
        for (auto* c : cols) pos.push_back(static_cast<std::size_t>(c - t.columns.data()));
        std::string line;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (i) line.push_back(',');
            if (NeedsQuotes(cols[i]->name))
                AppendCsvQuoted(line, cols[i]->name);
            else
                line += cols[i]->name;
        }
        line.push_back('\n');
        out << line;
        TableReader reader(db.file(), t);
        const bool j3 = db.jet3();
        const RowCracker cracker(t, j3);
        CrackedRow cr;
        reader.ForEachRow([&](const RowRef& r) {
            cracker.Crack(r.bytes, cr);
            line.clear();
            for (std::size_t i = 0; i < cols.size(); ++i) {
                if (i) line.push_back(',');
                const Column& c = *cols[i];
                const FieldRef& f = cr.fields[pos[i]];
                if (c.type == kColBool) {
                    line.push_back(f.bool_value ? '1' : '0');
                    continue;
                }
                if (f.null) continue;
                Bytes v = r.bytes.subspan(f.begin, f.size);
                switch (c.type) {
                    case kColMemo:
                        AppendCsvQuoted(line, DecodeText(reader.ReadLongValue(v).data, j3));
                        break;
                    case kColOle:
                        line += HexUpper(reader.ReadLongValue(v).data);
                        break;
                    case kColBinary:
                        line += HexUpper(v);
                        break;
                    case kColText:
                    case kColDateTime:
                    case kColGuid:
                        AppendCsvQuoted(line, FormatScalar(c, v, j3));
                        break;
                    default:
                        line += FormatScalar(c, v, j3);
                        break;
                }
            }
            line.push_back('\n');
            out << line;
            return static_cast<bool>(out);
        });
    } catch (const FormatError& err) {
        return Status::Fail("table '" + name + "' cannot be read: " + err.what());
    }
    if (!out) return Status::Fail("writing the export failed");
    return Status::Ok();
}

}  // namespace jet
