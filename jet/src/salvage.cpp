#include "jet/salvage.h"

#include <algorithm>
#include <set>

#include "jet/data_page.h"
#include "jet/format.h"
#include "jet/usage_map.h"

namespace jet {

OwnedPages OwnedPages::Scan(PageFile& file, std::uint32_t only_table) {
    return Scan(file, only_table, 0, file.page_count());
}

void OwnedPages::Append(OwnedPages&& later) {
    for (auto& [owner, pages] : later.pages_) {
        std::vector<std::uint32_t>& mine = pages_[owner];
        mine.insert(mine.end(), pages.begin(), pages.end());
    }
}

OwnedPages OwnedPages::Scan(PageFile& file, std::uint32_t only_table, std::uint32_t first, std::uint32_t end) {
    OwnedPages o;
    UsageMap global;
    bool have_global = false;
    try {
        global = ReadUsageMap(file, RowAddr{kGlobalMapPage, 0}, file.page_count());
        have_global = true;
    } catch (const FormatError&) {
        // Without the global map every page that names a table is taken.
    }
    first = std::max(first, kGlobalMapPage + 1);
    end = std::min(end, file.page_count());
    std::vector<std::uint32_t> all(end > first ? end - first : 0);
    for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = first + i;
    file.PlanReads(std::move(all));
    for (std::uint32_t p = first; p < end; ++p) {
        Page pg = file.Read(p);
        if (pg.type() != kPageData) continue;
        const std::uint32_t owner = PageOwner(pg.bytes());
        if (owner == 0 || owner == kLvalOwner) continue;
        if (only_table && owner != only_table) continue;
        if (have_global && global.Contains(p)) continue;
        o.pages_[owner].push_back(p);
    }
    return o;
}

const std::vector<std::uint32_t>& OwnedPages::Of(std::uint32_t tdef_page) const {
    static const std::vector<std::uint32_t> none;
    auto it = pages_.find(tdef_page);
    return it == pages_.end() ? none : it->second;
}

std::string SalvageLoss::Describe() const {
    switch (kind) {
        case Kind::Row:
            return "row " + at.ToString() + ": " + reason;
        case Kind::Value:
            return "row " + at.ToString() + ", column '" + column + "': " + reason;
        case Kind::Suspect:
            return "row " + at.ToString() + " (kept): " + reason;
        case Kind::Page:
            return "page " + std::to_string(at.page) + ": " + reason;
        case Kind::Unlisted:
            return "page " + std::to_string(at.page) + ": " + std::to_string(count) +
                   (count == 1 ? " row" : " rows") + " " + reason;
    }
    return reason;
}

SalvageReader::SalvageReader(PageFile& file, const TableDef& table, const OwnedPages* owned,
                             SalvageOptions options)
    : file_(file),
      table_(table),
      owned_(owned),
      options_(options),
      reader_(file, table, options.limits),
      cracker_(table, file.jet3()) {}

void SalvageReader::Lose(SalvageLoss::Kind kind, RowAddr at, std::string reason) {
    SalvageLoss l;
    l.kind = kind;
    l.at = at;
    l.reason = std::move(reason);
    losses_.push_back(std::move(l));
}

void SalvageReader::ForEachRow(const std::function<bool(const SalvagedRow&)>& visit) {
    std::vector<std::uint32_t> listed;
    try {
        listed = ReadUsageMap(file_, table_.owned_map, file_.page_count()).pages;
    } catch (const FormatError& e) {
        Lose(SalvageLoss::Kind::Page, RowAddr{table_.owned_map.page, 0},
             std::string("the table's usage map cannot be read: ") + e.what());
    }
    // The pages to read, each once, ascending; a page is unlisted when only its
    // owner field names the table.
    std::vector<std::pair<std::uint32_t, bool>> pages;
    for (std::uint32_t p : listed) {
        if (!file_.Contains(p)) continue;
        Page pg = file_.Read(p);
        if (pg.type() == kPageData && PageOwner(pg.bytes()) == table_.page)
            pages.emplace_back(p, false);
        else if (pg.type() != kPageHeader)
            // A never-written (zero) page in a map is harmless; another kind is not.
            Lose(SalvageLoss::Kind::Page, RowAddr{p, 0},
                 "the usage map lists it, but it is not a data page of the table (type " +
                     std::to_string(pg.type()) + ")");
    }
    if (owned_) {
        std::vector<std::pair<std::uint32_t, bool>> merged;
        const std::vector<std::uint32_t>& named = owned_->Of(table_.page);
        std::size_t i = 0, j = 0;
        while (i < pages.size() || j < named.size()) {
            if (j == named.size() || (i < pages.size() && pages[i].first < named[j])) {
                merged.push_back(pages[i++]);
            } else if (i == pages.size() || named[j] < pages[i].first) {
                merged.emplace_back(named[j++], true);
            } else {
                merged.push_back(pages[i++]);
                ++j;
            }
        }
        pages = std::move(merged);
    }
    std::vector<std::uint32_t> plan;
    for (const auto& [p, unlisted] : pages) plan.push_back(p);
    file_.PlanReads(std::move(plan));
    for (const auto& [p, unlisted] : pages) {
        if (unlisted && !options_.unlisted_pages) {
            Page pg = file_.Read(p);
            DataPageInfo info = ReadDataPage(pg.bytes(), file_.jet3());
            std::uint32_t rows = 0;
            for (const RowSlot& s : info.slots) rows += !s.deleted();
            if (rows) {
                SalvageLoss l;
                l.kind = SalvageLoss::Kind::Unlisted;
                l.at = RowAddr{p, 0};
                l.count = rows;
                l.reason = "on a page that the table's usage map does not list";
                losses_.push_back(std::move(l));
            }
            continue;
        }
        visited_.push_back(p);
        live_slots_.push_back(kIrregularPage);
        if (!VisitPage(p, unlisted, visit)) return;
    }
    // Rows an overflow pointer would have led to, whose pointer was lost.
    for (RowAddr at : orphan_candidates_) {
        if (targets_.count(at.Packed()) || Taken(at)) continue;
        try {
            Page pg = file_.Read(at.page);
            SalvagedRow r;
            r.slot = r.addr = at;
            r.orphan = true;
            r.bytes = RowBytes(pg.bytes(), file_.jet3(), at.row);
            r.offset = static_cast<std::uint32_t>(r.bytes.data() - pg.bytes().data());
            if (!Offer(r, visit)) return;
        } catch (const FormatError& e) {
            Lose(SalvageLoss::Kind::Row, at, e.what());
        }
    }
}

bool SalvageReader::VisitPage(std::uint32_t p, bool unlisted,
                              const std::function<bool(const SalvagedRow&)>& visit) {
    Page pg;
    DataPageInfo info;
    try {
        pg = file_.Read(p);
        info = ReadDataPage(pg.bytes(), file_.jet3());
    } catch (const FormatError& e) {
        Lose(SalvageLoss::Kind::Page, RowAddr{p, 0}, e.what());
        return true;
    }
    if (info.slots.empty() && !info.first_problem.empty()) {
        Lose(SalvageLoss::Kind::Page, RowAddr{p, 0}, info.first_problem);
        return true;
    }
    const auto pb = pg.bytes();
    // A row number is one byte in every pointer: slots past 256 cannot be addressed.
    const std::size_t count = std::min<std::size_t>(info.slots.size(), 256);
    bool irregular = info.slots.size() > count;
    std::uint16_t live = 0;
    if (irregular) Lose(SalvageLoss::Kind::Page, RowAddr{p, 0}, "more than 256 rows; the rest are lost");
    // ReadDataPage clamps a bad slot to an empty extent after the first bad one; each
    // slot is measured here against the one before it instead.
    const auto lay = DataPageLayout::For(file_.jet3());
    const std::uint32_t table_end = static_cast<std::uint32_t>(lay.row_table + kRowSlotSize * count);
    std::uint32_t end = static_cast<std::uint32_t>(pb.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t raw = info.slots[i].raw;
        const std::uint32_t begin = raw & kRowOffsetMask;
        const std::uint32_t row_end = end;
        const bool sane = begin >= table_end && begin <= row_end;
        if (sane) end = begin;
        const RowAddr slot{p, static_cast<std::uint8_t>(i)};
        if ((raw & kRowDeleted) && !(raw & kRowOverflow)) {
            if (sane && begin < row_end) orphan_candidates_.push_back(slot), irregular = true;
            continue;
        }
        if (raw & kRowDeleted) continue;
        if (!sane) irregular = true;
        else ++live;
        if (!sane) {
            Lose(SalvageLoss::Kind::Row, slot,
                 "its offset " + std::to_string(begin) + " lies outside its space " +
                     std::to_string(table_end) + ".." + std::to_string(row_end));
            continue;
        }
        SalvagedRow r;
        r.slot = slot;
        r.unlisted = unlisted;
        if (raw & kRowOverflow) {
            Bytes ptr = pb.subspan(begin, row_end - begin);
            if (ptr.size() >= kOverflowTargetAt + kRowPointerSize)
                targets_.insert(UnpackRowPtr(U32(ptr, kOverflowTargetAt)).Packed());
            try {
                RowRef ref = reader_.Resolve(slot);
                r.addr = ref.addr;
                r.bytes = ref.bytes;
                r.offset = static_cast<std::uint32_t>(ref.bytes.data() - ref.page.bytes().data());
                if (!Offer(r, visit)) return false;
            } catch (const FormatError& e) {
                Lose(SalvageLoss::Kind::Row, slot, e.what());
            }
            continue;
        }
        r.addr = slot;
        r.bytes = pb.subspan(begin, row_end - begin);
        r.offset = begin;
        if (!Offer(r, visit)) return false;
    }
    live_slots_.back() = irregular ? kIrregularPage : live;
    return true;
}

bool SalvageReader::Offer(SalvagedRow& r, const std::function<bool(const SalvagedRow&)>& visit) {
    try {
        cracker_.Crack(r.bytes, cracked_);
    } catch (const FormatError& e) {
        Lose(SalvageLoss::Kind::Row, r.slot, e.what());
        return true;
    }
    if (!Take(r.addr, r.addr == r.slot && !r.orphan)) return true;  // its first slot has it
    r.cracked = &cracked_;
    ++rows_read_;
    return visit(r);
}

bool SalvageReader::Taken(RowAddr at) const {
    if (taken_other_.count(at.Packed())) return true;
    auto it = std::lower_bound(taken_own_.begin(), taken_own_.end(), at.page,
                               [](const TakenPage& t, std::uint32_t p) { return t.page < p; });
    return it != taken_own_.end() && it->page == at.page && (it->rows[at.row / 64] >> (at.row % 64) & 1);
}

bool SalvageReader::Take(RowAddr at, bool own_slot) {
    // Pages are visited in ascending order, each once: a row at its own slot is new
    // unless another slot's overflow pointer led to it before.
    const bool in_order = taken_own_.empty() || taken_own_.back().page <= at.page;
    if (!own_slot || !in_order) return !Taken(at) && taken_other_.insert(at.Packed()).second;
    if (taken_other_.count(at.Packed())) return false;
    if (taken_own_.empty() || taken_own_.back().page != at.page) taken_own_.push_back({at.page, {}});
    taken_own_.back().rows[at.row / 64] |= std::uint64_t{1} << (at.row % 64);
    return true;
}

std::optional<LongValue> SalvageReader::ReadLongValue(Bytes field, std::string* why) {
    try {
        return reader_.ReadLongValue(field);
    } catch (const FormatError& e) {
        if (why) *why = e.what();
        return std::nullopt;
    }
}

bool SalvageReader::LongValueReadable(Bytes field, std::string* why) {
    try {
        const LongValueHeader h = ParseLongValueHeader(field);
        if (h.kind == LongValueHeader::Kind::Inline) return ReadLongValue(field, why).has_value();
        LongValueRows rows(file_, h, options_.limits);
        RowAddr at;
        Bytes row, data;
        while (rows.Next(&at, &row, &data)) {
        }
        return true;
    } catch (const FormatError& e) {
        if (why) *why = e.what();
        return false;
    }
}

}  // namespace jet
