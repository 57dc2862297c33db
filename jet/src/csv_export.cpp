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

CsvRowFormat::CsvRowFormat(const TableDef& table, bool jet3) : jet3_(jet3) {
    cols_ = table.ColumnsInOrder();
    for (auto* c : cols_) pos_.push_back(static_cast<std::size_t>(c - table.columns.data()));
}

void CsvRowFormat::Header(std::string& line) const {
    line.clear();
    for (std::size_t i = 0; i < cols_.size(); ++i) {
        if (i) line.push_back(',');
        if (NeedsQuotes(cols_[i]->name))
            AppendCsvQuoted(line, cols_[i]->name);
        else
            line += cols_[i]->name;
    }
    line.push_back('\n');
}

void CsvRowFormat::Row(const SalvagedRow& r, SalvageReader& reader, std::string& line) const {
    const CrackedRow& cr = *r.cracked;
    // A value that cannot be read whole is written as null and reported.
    auto long_value = [&](const Column& c, Bytes v) -> std::optional<LongValue> {
        std::string why;
        auto lv = reader.ReadLongValue(v, &why);
        if (!lv) {
            SalvageLoss l;
            l.kind = SalvageLoss::Kind::Value;
            l.at = r.slot;
            l.column = c.name;
            l.reason = why;
            reader.AddLoss(std::move(l));
        }
        return lv;
    };
    line.clear();
    for (std::size_t i = 0; i < cols_.size(); ++i) {
        if (i) line.push_back(',');
        const Column& c = *cols_[i];
        const FieldRef& f = cr.fields[pos_[i]];
        if (c.type == kColBool) {
            line.push_back(f.bool_value ? '1' : '0');
            continue;
        }
        if (f.null) continue;
        Bytes v = r.bytes.subspan(f.begin, f.size);
        switch (c.type) {
            case kColMemo:
                if (auto lv = long_value(c, v)) AppendCsvQuoted(line, DecodeText(lv->data, jet3_));
                break;
            case kColOle:
                if (auto lv = long_value(c, v)) line += HexUpper(lv->data);
                break;
            case kColBinary:
                line += HexUpper(v);
                break;
            case kColText:
            case kColDateTime:
            case kColGuid:
                AppendCsvQuoted(line, FormatScalar(c, v, jet3_));
                break;
            default:
                line += FormatScalar(c, v, jet3_);
                break;
        }
    }
    line.push_back('\n');
}

Status ExportCsv(Database& db, const std::string& name, std::ostream& out,
                 const ExportOptions& options, ExportReport* report) {
    const CatalogEntry* e = db.FindTable(name);
    if (!e) return Status::Fail("no table named '" + name + "' in the database");
    ExportReport local;
    ExportReport& rep = report ? *report : local;
    try {
        const TableDef& t = db.Definition(e->tdef_page());
        rep.definition_rows = t.row_count;
        const CsvRowFormat format(t, db.jet3());
        std::string line;
        format.Header(line);
        out << line;
        // Every page that names the table is looked at: rows on pages its map does not
        // list are taken (salvage) or at least counted as left out.
        const OwnedPages owned = OwnedPages::Scan(db.file(), t.page);
        SalvageOptions so;
        so.unlisted_pages = options.salvage;
        SalvageReader reader(db.file(), t, &owned, so);
        reader.ForEachRow([&](const SalvagedRow& r) {
            format.Row(r, reader, line);
            out << line;
            ++rep.rows;
            return static_cast<bool>(out);
        });
        rep.losses = reader.losses();
    } catch (const FormatError& err) {
        return Status::Fail("table '" + name + "' cannot be read: " + err.what());
    }
    if (!out) return Status::Fail("writing the export failed");
    return Status::Ok();
}

}  // namespace jet
