#include "jet/table.h"

#include <algorithm>
#include <cassert>
#include <unordered_set>

#include "jet/data_page.h"

namespace jet {

TableReader::TableReader(PageFile& file, const TableDef& table, ReadLimits limits)
    : file_(file), table_(table), limits_(limits) {}

void TableReader::Plan(const std::vector<std::uint32_t>& pages) {
    if (file_.loaded()) return;  // every page is in memory already
    if (plan_long_values_ && !have_lv_pages_) {
        have_lv_pages_ = true;
        for (const LongValueColumn& lv : table_.long_value_columns) {
            if (lv.owned_map.null()) continue;
            try {
                const UsageMap m = ReadUsageMap(file_, lv.owned_map, file_.page_count());
                lv_pages_.insert(lv_pages_.end(), m.pages.begin(), m.pages.end());
            } catch (const FormatError&) {
                // Only a hint: the values are found from the rows all the same, and
                // a bad map is for the checker to report.
            }
        }
    }
    file_.PlanReads(pages, plan_long_values_ ? lv_pages_ : std::vector<std::uint32_t>());
}

const std::vector<std::uint32_t>& TableReader::DataPages() {
    if (have_pages_) return pages_;
    UsageMap m = ReadUsageMap(file_, table_.owned_map, file_.page_count());
    Plan(m.pages);
    for (std::uint32_t p : m.pages)
        if (IsDataPage(file_.Read(p))) pages_.push_back(p);
    have_pages_ = true;
    return pages_;
}

RowRef TableReader::Resolve(RowAddr slot) {
    RowRef r;
    r.slot = slot;
    RowAddr at = slot;
    for (unsigned hop = 0;; ++hop) {
        if (hop > limits_.max_overflow_hops)
            ThrowFormat("overflow rows from " + slot.ToString() + " loop");
        if (!file_.Contains(at.page))
            ThrowFormat("row " + at.ToString() + " lies past the end of the file");
        Page pg = file_.Read(at.page);
        if (pg.type() != kPageData) ThrowFormat("row " + at.ToString() + " is not on a data page");
        auto pb = pg.bytes();
        auto lay = DataPageLayout::For(file_.jet3());
        if (at.row >= U16(pb, lay.row_count))
            ThrowFormat("row " + at.ToString() + " does not exist");
        std::uint16_t raw = U16(pb, lay.row_table + kRowSlotSize * at.row);
        Bytes bytes = RowBytes(pb, file_.jet3(), at.row);
        // The first hop must be a live or overflow slot; a target may carry the deleted flag.
        if (hop == 0 && (raw & kRowDeleted)) ThrowFormat("row " + at.ToString() + " is deleted");
        if ((raw & kRowOverflow) && !(raw & kRowDeleted)) {
            if (bytes.size() < kOverflowTargetAt + kRowPointerSize)
                ThrowFormat("overflow row " + at.ToString() + " is too short");
            at = UnpackRowPtr(U32(bytes, kOverflowTargetAt));
            r.overflow = true;
            continue;
        }
        if (PageOwner(pb) != table_.page)
            ThrowFormat("row " + at.ToString() + " lies on a page of another table");
        r.addr = at;
        r.page = std::move(pg);
        r.bytes = bytes;
        return r;
    }
}

bool TableReader::IsDataPage(const Page& page) const {
    return page.type() == kPageData && PageOwner(page.bytes()) == table_.page;
}

void TableReader::ForEachRow(const std::function<bool(const RowRef&)>& visit) {
    if (have_pages_) Plan(pages_);  // others may have planned meanwhile
    for (std::uint32_t p : DataPages())
        if (!VisitRows(p, file_.Read(p), visit)) return;
}

void TableReader::ForEachRowIn(std::uint32_t first, std::uint32_t end,
                               const std::function<bool(const RowRef&)>& visit) {
    std::vector<std::uint32_t> listed;
    if (!have_pages_) listed = ReadUsageMap(file_, table_.owned_map, file_.page_count()).pages;
    const std::vector<std::uint32_t>& pages = have_pages_ ? pages_ : listed;
    // Both lists ascend (a map lists its pages in order).
    const auto from = std::lower_bound(pages.begin(), pages.end(), first);
    Plan(std::vector<std::uint32_t>(from, std::lower_bound(from, pages.end(), end)));
    for (auto it = from; it != pages.end() && *it < end; ++it) {
        Page pg = file_.Read(*it);
        if (!have_pages_ && !IsDataPage(pg)) continue;
        if (!VisitRows(*it, pg, visit)) return;
    }
}

void TableReader::ForEachRow(const std::function<bool(const RowRef&)>& visit,
                             const PageSeen& seen) {
    if (have_pages_) {
        ForEachRow(visit);
        return;
    }
    UsageMap m = ReadUsageMap(file_, table_.owned_map, file_.page_count());
    Plan(m.pages);
    std::vector<std::uint32_t> pages;
    for (std::uint32_t p : m.pages) {
        Page pg = file_.Read(p);
        if (seen) seen(p, pg);
        if (!IsDataPage(pg)) continue;
        pages.push_back(p);
        if (!VisitRows(p, pg, visit)) return;  // the list is incomplete: not kept
    }
    pages_ = std::move(pages);
    have_pages_ = true;
}

bool TableReader::VisitRows(std::uint32_t p, const Page& pg,
                            const std::function<bool(const RowRef&)>& visit) {
    auto pb = pg.bytes();
    auto lay = DataPageLayout::For(file_.jet3());
    std::uint32_t count = U16(pb, lay.row_count);
    if (lay.row_table + kRowSlotSize * count > pb.size())
        ThrowFormat("page " + std::to_string(p) + " has a bad row count");
    // The rows of this page share one reference to it (no count taken per row).
    RowRef here;
    here.page = pg;
    // Each row ends where the row before it in the table begins (the first at the
    // page's end); the table is walked once, not again for each row.
    const std::uint32_t table_end = static_cast<std::uint32_t>(lay.row_table + kRowSlotSize * count);
    std::uint32_t end = static_cast<std::uint32_t>(pb.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t raw = U16(pb, lay.row_table + kRowSlotSize * i);
        const std::uint32_t begin = raw & kRowOffsetMask;
        const std::uint32_t row_end = end;
        end = begin;
        if (raw & kRowDeleted) continue;
        RowAddr slot{p, static_cast<std::uint8_t>(i)};
        if (i > 0xFF) ThrowFormat("page " + std::to_string(p) + " has more than 256 rows");
        if (raw & kRowOverflow) {
            if (!visit(Resolve(slot))) return false;
            continue;
        }
        if (begin < table_end || begin > row_end || row_end > pb.size())
            ThrowFormat("row " + std::to_string(i) + " has an invalid offset " +
                        std::to_string(begin));
        here.slot = here.addr = slot;
        here.bytes = pb.subspan(begin, row_end - begin);
        if (!visit(here)) return false;
    }
    return true;
}

Bytes LvalRowBytes(PageFile& file, RowAddr addr, Page& holder) {
    if (!file.Contains(addr.page))
        ThrowFormat("long value at " + addr.ToString() + " lies past the end of the file");
    holder = file.Read(addr.page);
    auto pb = holder.bytes();
    if (holder.type() != kPageData || PageOwner(pb) != kLvalOwner)
        ThrowFormat("long value at " + addr.ToString() + " is not on a long-value page");
    auto lay = DataPageLayout::For(file.jet3());
    if (addr.row >= U16(pb, lay.row_count))
        ThrowFormat("long value row " + addr.ToString() + " does not exist");
    if (U16(pb, lay.row_table + kRowSlotSize * addr.row) & kRowDeleted)
        ThrowFormat("long value row " + addr.ToString() + " is deleted");
    return RowBytes(pb, file.jet3(), addr.row);
}

LongValueRows::LongValueRows(PageFile& file, const LongValueHeader& h, const ReadLimits& limits)
    : file_(file), h_(h), limits_(limits), next_(h.first) {
    assert(h.kind != LongValueHeader::Kind::Inline);
    if (h.length > limits.max_long_value) ThrowFormat("long value is larger than allowed");
}

bool LongValueRows::Next(RowAddr* at, Bytes* row, Bytes* data) {
    if (h_.kind == LongValueHeader::Kind::Single) {
        if (single_done_) return false;
        single_done_ = true;
        Bytes b = LvalRowBytes(file_, h_.first, holder_);
        if (b.size() < h_.length)
            ThrowFormat("long value at " + h_.first.ToString() +
                        " is shorter than its header says");
        *at = h_.first;
        *row = b;
        *data = b.first(h_.length);
        return true;
    }
    // A chain: every row starts with the address of the next one.
    if (have_ >= h_.length) return false;
    if (next_.null()) ThrowFormat("long-value chain ends early");
    if (!seen_.insert(next_.Packed()).second)
        ThrowFormat("long-value chain loops at " + next_.ToString());
    if (seen_.size() > limits_.max_chain_rows) ThrowFormat("long-value chain is too long");
    Bytes b = LvalRowBytes(file_, next_, holder_);
    if (b.size() < kChainDataAt)
        ThrowFormat("long-value chain row " + next_.ToString() + " is too short");
    const std::size_t take = std::min<std::size_t>(b.size() - kChainDataAt, h_.length - have_);
    *at = next_;
    *row = b;
    *data = b.subspan(kChainDataAt, take);
    have_ += take;
    next_ = UnpackRowPtr(U32(b, kChainNextAt));
    return true;
}

LongValue TableReader::ReadLongValue(Bytes field) {
    LongValueHeader h = ParseLongValueHeader(field);
    LongValue v;
    if (h.kind == LongValueHeader::Kind::Inline) {
        if (h.length > limits_.max_long_value) ThrowFormat("long value is larger than allowed");
        if (h.length > field.size() - kLongValueHeaderSize)
            ThrowFormat("inline long value is longer than its column");
        auto d = field.subspan(kLongValueHeaderSize, h.length);
        v.data.assign(d.begin(), d.end());
        return v;
    }
    LongValueRows rows(file_, h, limits_);  // refuses a value larger than the limits
    v.data.reserve(std::min<std::size_t>(h.length, 1u << 20));
    RowAddr at;
    Bytes row, data;
    while (rows.Next(&at, &row, &data)) {
        v.rows.push_back(at);
        v.data.insert(v.data.end(), data.begin(), data.end());
    }
    return v;
}

}  // namespace jet
