#include "tools/mdbgen/generator.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>

#include "jet/compact/compactor.h"
#include "jet/compact/data_page_builder.h"
#include "jet/compact/global_map.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/compact/long_value_packer.h"
#include "jet/compact/output_file.h"
#include "jet/compact/put_bytes.h"
#include "jet/compact/row_page_writer.h"
#include "jet/compact/tdef_rewriter.h"
#include "jet/compact/usage_map_builder.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kPrimaryKey = 1;  // logical index type
// Narrow files hold short rows (a log line: a few numbers, dates and short texts)
// and no long values outside the row.
constexpr std::size_t kNarrowRowBytes = 80;
// Small long values: only rows that keep a long value outside the row, none longer
// than this (a short note per row), so the file is many small long values.
constexpr std::uint32_t kSmallLongValueBytes = 512;
// Access marks a deleted row with both flags.
constexpr std::uint16_t kDeletedSlot = kRowDeleted | kRowOverflow;

// Deterministic choice of the deleted rows: a 64-bit mix of the row number.
bool IsDeleted(std::uint64_t i, unsigned per_mille) {
    if (per_mille == 0) return false;
    std::uint64_t x = i + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x % 1000 < per_mille;
}

// A Long Integer in an ascending index key: a flag byte, then the value big-endian
// with its sign bit flipped, so that the bytes compare as the numbers do.
std::array<std::uint8_t, 5> LongKey(std::int32_t v) {
    std::uint32_t u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    return {0x7F, static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
            static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

// One row of the table in the small file, with what each repeat changes in it.
struct SourceRow {
    std::vector<std::uint8_t> bytes;
    std::vector<std::int64_t> counters;                       // value of each counter column
    std::vector<std::optional<LongValueHeader>> long_values;  // per long-value column, if outside
    std::vector<std::uint32_t> long_value_at;                 // offset of the header in the row
};

// A unique single-column Long Integer index: each repeat shifts the column's values
// by `stride`, so keys stay distinct and each repeat's keys follow the previous ones.
struct Counter {
    std::size_t column = 0;  // position in TableDef::columns
    std::int64_t min = 0, max = 0, stride = 1;
};

class Generator {
  public:
    Generator(const GenerateOptions& o, Database& base, OutputFile& out)
        : o_(o),
          base_(base),
          file_(base.file()),
          out_(out),
          layout_(PageLayout::For(base.header().format)),
          next_(file_.page_count()) {}

    GenerateResult Run();

  private:
    void LoadRows();
    void FindCounters();
    std::uint64_t RowsWanted();
    void WriteRows();
    void WriteIndexes();
    void WriteMaps();
    void WriteDefinition();
    RowAddr Where(std::uint64_t i) const { return UnpackRowPtr(addr_[i]); }
    std::vector<std::uint8_t> MapRow(const std::vector<PageRange>& ranges);
    void Write(std::uint32_t page, std::span<const std::uint8_t> bytes) {
        std::string err;
        if (!out_.WritePage(page, bytes, &err)) throw std::runtime_error(err);
    }
    std::uint32_t TakeRun(std::uint32_t n) {
        std::uint32_t first = next_;
        next_ += n;
        return first;
    }

    const GenerateOptions& o_;
    Database& base_;
    PageFile& file_;
    OutputFile& out_;
    PageLayout layout_;
    const TableDef* def_ = nullptr;
    std::uint32_t next_;                                        // next page number to hand out
    std::vector<std::size_t> lv_cols_;                          // positions of memo / OLE columns
    std::vector<SourceRow> rows_;                               // the rows repeated
    std::unordered_map<std::uint32_t, std::uint32_t> ordinal_;  // old slot -> rows_ index
    std::vector<Counter> counters_;
    std::uint64_t n_ = 0, live_ = 0;   // rows written, rows not deleted
    std::vector<std::uint32_t> addr_;  // packed new address per written row, 0 deleted
    std::vector<std::uint32_t> data_pages_;
    std::vector<std::vector<std::uint32_t>> lv_pages_;  // per long-value column
    std::vector<std::size_t> data_free_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index_pages_;  // first, count
    std::vector<std::uint32_t> index_roots_;
    std::vector<std::uint32_t> freed_;  // pages of the small file no longer used
};

void Generator::LoadRows() {
    const bool jet3 = file_.jet3();
    for (std::size_t i = 0; i < def_->columns.size(); ++i)
        if (IsLongValueType(def_->columns[i].type)) lv_cols_.push_back(i);
    lv_pages_.resize(lv_cols_.size());
    TableReader reader(file_, *def_);
    reader.ForEachRow([&](const RowRef& r) {
        if (o_.narrow && r.bytes.size() > kNarrowRowBytes) return true;
        CrackedRow cr = CrackRow(*def_, r.bytes, jet3);
        SourceRow s;
        s.bytes.assign(r.bytes.begin(), r.bytes.end());
        for (std::size_t ci : lv_cols_) {
            const FieldRef& f = cr.fields[ci];
            std::optional<LongValueHeader> h;
            if (!f.null && f.size >= kLongValueHeaderSize) {
                LongValueHeader lh = ParseLongValueHeader(r.bytes.subspan(f.begin, f.size));
                if (lh.kind != LongValueHeader::Kind::Inline) h = lh;
            }
            if (h && o_.narrow) return true;
            if (h && o_.small_long_values && h->length > kSmallLongValueBytes) return true;
            s.long_values.push_back(h);
            s.long_value_at.push_back(f.begin);
        }
        if (o_.small_long_values &&
            std::none_of(s.long_values.begin(), s.long_values.end(),
                         [](const auto& h) { return h.has_value(); }))
            return true;
        for (const Counter& c : counters_) {
            const FieldRef& f = cr.fields[c.column];
            if (f.null || f.size != 4)
                throw std::runtime_error("column '" + def_->columns[c.column].name +
                                         "' of a unique index holds a null");
            s.counters.push_back(static_cast<std::int32_t>(U32(r.bytes, f.begin)));
        }
        ordinal_[r.slot.Packed()] = static_cast<std::uint32_t>(rows_.size());
        rows_.push_back(std::move(s));
        return true;
    });
    if (rows_.empty()) throw std::runtime_error("the table has no rows to repeat");
    for (std::size_t k = 0; k < counters_.size(); ++k) {
        Counter& c = counters_[k];
        c.min = c.max = rows_.front().counters[k];
        for (const SourceRow& s : rows_) {
            c.min = std::min(c.min, s.counters[k]);
            c.max = std::max(c.max, s.counters[k]);
        }
        c.stride = c.max - c.min + 1;
    }
}

void Generator::FindCounters() {
    for (std::size_t i = 0; i < def_->real_indexes.size(); ++i) {
        const RealIndex& ix = def_->real_indexes[i];
        bool primary = false;
        for (const LogicalIndex& li : def_->logical_indexes)
            primary |= li.real_index == i && li.type == kPrimaryKey;
        const Column* col =
            ix.columns.size() == 1 ? def_->FindColumn(ix.columns[0].column) : nullptr;
        const bool counter = col && col->type == kColLong && ix.columns[0].order == 1;
        // A unique index of other columns (a project's name, say) repeats its keys
        // in the copies of the rows: made for volume, the file's other unique keys
        // are not kept unique. Its primary key must be.
        if (!primary && !(counter && (ix.flags & kIndexUnique))) continue;
        if (!counter)
            throw std::runtime_error(
                "the table's primary key is not one ascending Long Integer column");
        std::size_t pos = static_cast<std::size_t>(col - def_->columns.data());
        bool known = false;
        for (const Counter& c : counters_) known |= c.column == pos;
        if (!known) counters_.push_back({pos});
    }
}

std::uint64_t Generator::RowsWanted() {
    if (o_.rows) return o_.rows;
    // Bytes one repeat of the rows adds: rows and slots, long values, index entries.
    const double ps = layout_.page_size;
    const double data_room = ps - layout_.DataHeaderSize(),
                 index_room = ps - layout_.index.first_entry;
    double data = 0, lv = 0, index = 0;
    for (const SourceRow& s : rows_) {
        data += s.bytes.size() + 2;
        for (const auto& h : s.long_values)
            if (h) lv += h->length + 6.0;
    }
    for (const RealIndex& ix : def_->real_indexes) {
        IndexWalk w = WalkIndex(file_, ix.root, def_->page);
        for (const IndexEntry& e : w.leaf_entries)
            if (ordinal_.count(e.row.Packed())) index += e.key_size + 4;
    }
    double per_row = (data / data_room + lv / data_room + index / index_room * 1.1) * ps /
                     static_cast<double>(rows_.size());
    double room = static_cast<double>(o_.bytes) - static_cast<double>(file_.page_count()) * ps;
    return room <= per_row ? rows_.size() : static_cast<std::uint64_t>(room / per_row);
}

void Generator::WriteRows() {
    const std::size_t copies = (n_ + rows_.size() - 1) / rows_.size();
    for (const Counter& c : counters_)
        if (c.max + static_cast<std::int64_t>(copies - 1) * c.stride >
            std::numeric_limits<std::int32_t>::max())
            throw std::runtime_error("too many rows for the values of column '" +
                                     def_->columns[c.column].name + "'");
    auto next = [this] { return TakeRun(1); };
    // Rows to mark deleted once their page is finished, by page.
    std::map<std::uint32_t, std::vector<std::uint8_t>> deleted;
    RowPageWriter data(layout_, def_->page, next,
                       [&](std::uint32_t p, std::vector<std::uint8_t> b) {
                           auto it = deleted.find(p);
                           if (it != deleted.end()) {
                               for (std::uint8_t r : it->second) {
                                   std::size_t at = layout_.data.row_table + kRowSlotSize * r;
                                   PutU16(b, at, U16(b, at) | kDeletedSlot);
                               }
                               deleted.erase(it);
                           }
                           Write(p, b);
                       });
    const ReadLimits limits;
    auto sink = [this](std::uint32_t p, std::vector<std::uint8_t> b) { Write(p, b); };
    addr_.assign(n_, 0);
    // Long values of one repeat at a time, packed as the compactor packs them.
    std::vector<std::vector<RowAddr>> lv_addr(lv_cols_.size());
    for (std::uint64_t i = 0; i < n_; ++i) {
        const std::uint64_t copy = i / rows_.size();
        const std::size_t o = i % rows_.size();
        if (o == 0) {
            const std::size_t end = std::min<std::uint64_t>(rows_.size(), n_ - i);
            for (std::size_t k = 0; k < lv_cols_.size(); ++k) {
                LongValuePacker packer(layout_);
                for (std::size_t r = 0; r < end; ++r)
                    if (rows_[r].long_values[k])
                        packer.AddValue(file_, *rows_[r].long_values[k], limits);
                const std::uint32_t count = packer.Pack();
                const std::uint32_t first = TakeRun(count);
                packer.WritePages(file_, first, sink);
                for (std::uint32_t p = first; p < first + count; ++p) lv_pages_[k].push_back(p);
                lv_addr[k].assign(end, RowAddr{});
                for (std::size_t r = 0; r < end; ++r)
                    if (rows_[r].long_values[k]) lv_addr[k][r] = packer.NextAddress(first);
            }
        }
        const SourceRow& s = rows_[o];
        std::vector<std::uint8_t> row = s.bytes;
        CrackedRow cr;
        for (std::size_t k = 0; k < counters_.size(); ++k) {
            if (k == 0) cr = CrackRow(*def_, s.bytes, file_.jet3());
            std::int64_t v = s.counters[k] + static_cast<std::int64_t>(copy) * counters_[k].stride;
            PutU32(row, cr.fields[counters_[k].column].begin, static_cast<std::uint32_t>(v));
        }
        for (std::size_t k = 0; k < lv_cols_.size(); ++k) {
            if (!s.long_values[k]) continue;
            const RowAddr& a = lv_addr[k][o];
            PutRowPointer(row, s.long_value_at[k] + kLongValuePointerAt, a.page, a.row);
        }
        RowAddr a = data.Place(row);
        if (IsDeleted(i, o_.deleted_per_mille)) {
            deleted[a.page].push_back(a.row);
        } else {
            addr_[i] = a.Packed();
            ++live_;
        }
    }
    data.Flush();
    data_pages_ = data.pages();
    data_free_ = data.free_space();
}

void Generator::WriteIndexes() {
    const std::uint64_t copies = (n_ + rows_.size() - 1) / rows_.size();
    for (const RealIndex& ix : def_->real_indexes) {
        IndexWalk w = WalkIndex(file_, ix.root, def_->page);
        if (!w.problems.empty())
            throw std::runtime_error("an index is damaged: " + w.problems[0].text);
        std::optional<std::size_t> counter;
        for (std::size_t k = 0; k < counters_.size(); ++k)
            if (ix.columns.size() == 1 &&
                def_->columns[counters_[k].column].number == ix.columns[0].column)
                counter = k;
        std::uint32_t first = next_;
        IndexTreeBuilder tree(
            layout_, def_->page, first,
            [this](std::uint32_t p, std::vector<std::uint8_t> b) { Write(p, b); });
        std::vector<std::uint8_t> entry;
        auto add = [&](Bytes key, std::uint64_t i) {
            if (i >= n_ || addr_[i] == 0) return;
            entry.assign(key.begin(), key.end());
            entry.resize(key.size() + 4);
            RowAddr a = Where(i);
            PutBE24(entry, key.size(), a.page);
            entry[key.size() + 3] = a.row;
            tree.Add(entry);
        };
        // The rows of the small file each entry stands for, in entry order.
        std::vector<std::pair<std::size_t, std::uint32_t>> used;  // entry, ordinal
        for (std::size_t e = 0; e < w.leaf_entries.size(); ++e) {
            auto it = ordinal_.find(w.leaf_entries[e].row.Packed());
            if (it != ordinal_.end()) used.emplace_back(e, it->second);
        }
        if (counter) {
            for (auto [e, o] : used) {
                const IndexEntry& ie = w.leaf_entries[e];
                auto want = LongKey(static_cast<std::int32_t>(rows_[o].counters[*counter]));
                if (ie.key_size != want.size() ||
                    !std::equal(want.begin(), want.end(), ie.bytes.begin()))
                    throw std::runtime_error(
                        "the keys of a unique index are not plain Long Integer keys");
            }
            // Each repeat's keys lie above the previous repeat's.
            const std::int64_t stride = counters_[*counter].stride;
            for (std::uint64_t c = 0; c < copies; ++c)
                for (auto [e, o] : used) {
                    std::int64_t v =
                        rows_[o].counters[*counter] + static_cast<std::int64_t>(c) * stride;
                    add(LongKey(static_cast<std::int32_t>(v)), c * rows_.size() + o);
                }
        } else {
            // Equal keys: every repeat's rows, in row order.
            for (std::size_t g = 0; g < used.size();) {
                const IndexEntry& head = w.leaf_entries[used[g].first];
                Bytes key(head.bytes.data(), head.key_size);
                std::size_t end = g + 1;
                while (end < used.size()) {
                    const IndexEntry& ie = w.leaf_entries[used[end].first];
                    if (ie.key_size != key.size() ||
                        !std::equal(key.begin(), key.end(), ie.bytes.begin()))
                        break;
                    ++end;
                }
                for (std::uint64_t c = 0; c < copies; ++c)
                    for (std::size_t k = g; k < end; ++k)
                        add(key, c * rows_.size() + used[k].second);
                g = end;
            }
        }
        IndexTreeBuilder::Tree t = tree.Finish();
        TakeRun(t.page_count);
        index_pages_.emplace_back(t.first_page, t.page_count);
        index_roots_.push_back(t.root);
        for (std::uint32_t p : w.pages) freed_.push_back(p);
    }
}

std::vector<std::uint8_t> Generator::MapRow(const std::vector<PageRange>& ranges) {
    UsageMapBuilder b(layout_, layout_.map.inline_bitmap_bytes);
    for (const PageRange& r : ranges) b.AddRange(r.first, r.end);
    if (b.FitsInline()) return b.InlineRow();
    std::uint32_t count = static_cast<std::uint32_t>(b.BitmapPagesNeeded());
    std::uint32_t first = TakeRun(count);
    std::vector<std::uint32_t> numbers;
    auto pages = b.BitmapPages();
    for (std::uint32_t i = 0; i < count; ++i) {
        numbers.push_back(first + i);
        Write(first + i, pages[i]);
    }
    return b.ReferenceRow(numbers);
}

void Generator::WriteMaps() {
    auto ranges_of = [](const std::vector<std::uint32_t>& pages) {
        std::vector<PageRange> r;
        for (std::uint32_t p : pages) {
            if (!r.empty() && r.back().end == p)
                ++r.back().end;
            else
                r.push_back({p, p + 1});
        }
        return r;
    };
    auto last_if_free = [](const std::vector<std::uint32_t>& pages,
                           const std::vector<std::size_t>& free) {
        std::vector<PageRange> r;
        if (!pages.empty() && free.back() > 0) r.push_back({pages.back(), pages.back() + 1});
        return r;
    };
    // New rows of the table's maps, by where the rows are; old map contents freed.
    std::map<std::uint32_t, std::map<std::uint8_t, std::vector<std::uint8_t>>> rows;
    auto replace = [&](RowAddr where, const std::vector<PageRange>& ranges) {
        if (where.null()) return;
        UsageMap old = ReadUsageMap(file_, where, file_.page_count());
        for (std::uint32_t p : old.pages) freed_.push_back(p);
        for (std::uint32_t p : old.bitmap_pages)
            if (p) freed_.push_back(p);
        rows[where.page][where.row] = MapRow(ranges);
    };
    replace(def_->owned_map, ranges_of(data_pages_));
    replace(def_->free_map, last_if_free(data_pages_, data_free_));
    for (const LongValueColumn& lv : def_->long_value_columns) {
        std::vector<std::uint32_t> pages;
        for (std::size_t k = 0; k < lv_cols_.size(); ++k)
            if (def_->columns[lv_cols_[k]].number == lv.column) pages = lv_pages_[k];
        replace(lv.owned_map, ranges_of(pages));
        replace(lv.free_map, pages.empty()
                                 ? std::vector<PageRange>{}
                                 : std::vector<PageRange>{{pages.back(), pages.back() + 1}});
    }
    for (std::size_t i = 0; i < def_->real_indexes.size(); ++i)
        replace(def_->real_indexes[i].map,
                {{index_pages_[i].first, index_pages_[i].first + index_pages_[i].second}});
    // Rewrite each map page with its rows in their places.
    for (const auto& [page, changed] : rows) {
        if (page < 2)
            throw std::runtime_error("a usage map of the table shares page " +
                                     std::to_string(page));
        Page pg = file_.Read(page);
        DataPageInfo info = ReadDataPage(pg.bytes(), file_.jet3());
        DataPageBuilder b(layout_, info.owner);
        for (std::size_t r = 0; r < info.slots.size(); ++r) {
            if (!info.slots[r].live())
                throw std::runtime_error("a usage-map page holds a deleted row");
            auto it = changed.find(static_cast<std::uint8_t>(r));
            Bytes bytes = it != changed.end()
                              ? Bytes(it->second)
                              : RowBytes(pg.bytes(), file_.jet3(), static_cast<unsigned>(r));
            if (!b.Fits(bytes.size()) || b.Add(bytes) != r)
                throw std::runtime_error("a usage-map page cannot be rebuilt");
        }
        Write(page, b.Finish());
    }
}

void Generator::WriteDefinition() {
    TdefRewriter tr(file_, *def_);
    tr.PutU32At(def_->row_count_at, static_cast<std::uint32_t>(live_));
    const std::uint64_t copies = (n_ + rows_.size() - 1) / rows_.size();
    for (std::size_t i = 0; i < def_->real_indexes.size(); ++i) {
        const RealIndex& ix = def_->real_indexes[i];
        tr.PutU32At(ix.root_at, index_roots_[i]);
        // A unique index other than a counter's holds each key once a repeat: no
        // longer unique (the check finds a key held twice in a unique index).
        bool counter = false;
        for (const Counter& c : counters_)
            counter |= ix.columns.size() == 1 && def_->columns[c.column].number == ix.columns[0].column;
        if (copies > 1 && !counter && (ix.flags & kIndexUnique))
            tr.PutByteAt(ix.flags_at, static_cast<std::uint8_t>(ix.flags & ~kIndexUnique));
    }
    std::int64_t autonumber = def_->autonumber;
    for (const Counter& c : counters_)
        autonumber =
            std::max(autonumber, c.max + static_cast<std::int64_t>(copies - 1) * c.stride + 1);
    tr.PutU32At(TdefLayout::For(file_.jet3()).autonumber, static_cast<std::uint32_t>(autonumber));
    auto pages = tr.Finish(def_->pages);
    for (std::size_t i = 0; i < pages.size(); ++i) Write(def_->pages[i], pages[i]);
}

GenerateResult Generator::Run() {
    GenerateResult res;
    const CatalogEntry* entry = base_.FindTable(o_.table);
    if (!entry) throw std::runtime_error("no table '" + o_.table + "'");
    def_ = &base_.Definition(entry->tdef_page());
    FindCounters();
    LoadRows();
    n_ = RowsWanted();
    if (n_ > (std::uint64_t{1} << 31)) throw std::runtime_error("too many rows");
    // The small file as it is; what this table had there is overwritten or freed.
    for (std::uint32_t p = 0; p < file_.page_count(); ++p) Write(p, file_.Read(p).bytes());
    WriteRows();
    WriteIndexes();
    WriteMaps();
    WriteDefinition();
    UsageMap global = ReadUsageMap(file_, RowAddr{kGlobalMapPage, 0}, file_.page_count());
    for (std::uint32_t p : global.pages) freed_.push_back(p);
    for (std::uint32_t p : global.bitmap_pages)
        if (p) freed_.push_back(p);
    std::sort(freed_.begin(), freed_.end());
    freed_.erase(std::unique(freed_.begin(), freed_.end()), freed_.end());
    freed_.erase(std::remove_if(freed_.begin(), freed_.end(),
                                [&](std::uint32_t p) { return p < 2 || p >= file_.page_count(); }),
                 freed_.end());
    std::vector<std::uint8_t> zero(layout_.page_size, 0);
    for (std::uint32_t p : freed_) Write(p, zero);
    next_ = WriteGlobalMap(
        layout_, next_, freed_, [this](std::uint32_t n) { return TakeRun(n); },
        [this](std::uint32_t p, std::vector<std::uint8_t> b) { Write(p, b); });
    res.ok = true;
    res.rows_written = n_;
    res.rows_live = live_;
    res.pages = next_;
    return res;
}

}  // namespace

GenerateResult GenerateDatabase(const GenerateOptions& o) {
    GenerateResult res;
    std::error_code ec;
    if (std::filesystem::exists(o.output, ec)) {
        res.reason = "'" + o.output.string() + "' exists already";
        return res;
    }
    // The small file is compacted first, so that every page of it is accounted for.
    std::filesystem::path base_path = o.output;
    base_path += ".base";
    std::filesystem::remove(base_path, ec);
    struct Remove {
        std::filesystem::path p;
        ~Remove() {
            std::error_code e;
            std::filesystem::remove(p, e);
        }
    } remove_base{base_path};
    CompactResult c = Compact(o.source, base_path);
    if (!c) {
        res.reason = "the source cannot be compacted: " + c.reason;
        return res;
    }
    Status st;
    auto base = Database::Open(base_path, &st);
    if (!base) {
        res.reason = st.reason;
        return res;
    }
    OutputFile out;
    std::string err;
    if (!out.Create(o.output, base->header().page_size, &err)) {
        res.reason = err;
        return res;
    }
    try {
        Generator g(o, *base, out);
        res = g.Run();
    } catch (const std::exception& e) {
        res.ok = false;
        res.reason = e.what();
        return res;
    }
    if (!out.Commit(&err)) {
        res.ok = false;
        res.reason = err;
    }
    return res;
}

}  // namespace jet
