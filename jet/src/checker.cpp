#include "jet/checker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <exception>
#include <memory>
#include <optional>
#include <unordered_set>

#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/row.h"
#include "index_key_check.h"
#include "jet/prefetch.h"
#include "jet/table.h"
#include "jet/usage_map.h"


namespace jet {

const char* PageRoleName(PageRole r) {
    switch (r) {
        case PageRole::Unreachable:
            return "unreachable";
        case PageRole::Header:
            return "header";
        case PageRole::GlobalMap:
            return "global usage map";
        case PageRole::TableDef:
            return "table definition";
        case PageRole::Data:
            return "data";
        case PageRole::LongValue:
            return "long values";
        case PageRole::UsageMapRows:
            return "usage maps";
        case PageRole::UsageBitmap:
            return "usage bitmap";
        case PageRole::IndexNode:
            return "index node";
        case PageRole::IndexLeaf:
            return "index leaf";
    }
    return "?";
}

namespace {

// Where each page of an ascending page list stands in it, by page number: one
// array read per lookup, where a binary search over a large table's pages cost a
// sixth of a whole check. 4 bytes per page between the first and the last page of
// the list, so at most 2 MB for the largest Jet file. A list without gaps (a
// compacted table's pages) needs no array: a page's position is its distance from
// the first.
class PagePositions {
  public:
    explicit PagePositions(const std::vector<std::uint32_t>& pages) : count_(pages.size()) {
        if (pages.empty()) return;
        first_ = pages.front();
        span_ = std::size_t{pages.back()} - first_ + 1;
        if (span_ == pages.size()) return;
        at_.assign(span_, kNone);
        for (std::size_t i = 0; i < pages.size(); ++i)
            at_[pages[i] - first_] = static_cast<std::uint32_t>(i);
    }
    // Where the position of `page` is kept, or null when there is nothing to read
    // (for a cache hint ahead of Of).
    const std::uint32_t* EntryOf(std::uint32_t page) const {
        if (at_.empty() || page < first_ || page - first_ >= span_) return nullptr;
        return &at_[page - first_];
    }
    // Position of `page` in the list, or -1.
    std::ptrdiff_t Of(std::uint32_t page) const {
        if (page < first_ || page - first_ >= span_) return -1;
        if (at_.empty()) return static_cast<std::ptrdiff_t>(page - first_);
        std::uint32_t i = at_[page - first_];
        return i == kNone ? -1 : static_cast<std::ptrdiff_t>(i);
    }
    std::size_t count() const { return count_; }
    // Whether positions are kept in an array (the list has gaps): EntryOf is null
    // for every page otherwise.
    bool kept() const { return !at_.empty(); }

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    std::size_t count_ = 0;
    std::uint32_t first_ = 0;
    std::size_t span_ = 0;           // page numbers from the first to the last
    std::vector<std::uint32_t> at_;  // by page less first_; empty when the list has no gaps
};

// Row slots (page, row) on a known list of pages, one bit per possible slot: 32 bytes
// a page whatever the row count, where a hash set of slots would cost some 40 bytes
// a row. The bits are allocated by the first Insert, so a set that stays empty
// (overflow rows are rare) costs nothing.
class SlotSet {
  public:
    explicit SlotSet(const PagePositions& pages) : pages_(pages) {}
    // False when `a` is not on the pages or was there already.
    bool Insert(RowAddr a) { return InsertAt(Index(a)); }
    bool Contains(RowAddr a) const { return ContainsAt(Index(a)); }
    // The same by a slot's place among the pages (Index), for a caller that asks
    // two sets on the same pages about one slot: one page lookup, not two.
    // REQUIRES: `at` comes from Index of a set on the same pages
    bool InsertAt(std::ptrdiff_t at) {
        if (at < 0) return false;
        if (bits_.empty()) bits_.assign(pages_.count() * 4, 0);
        const auto i = static_cast<std::size_t>(at);
        std::uint64_t& w = bits_[i / 64];
        std::uint64_t bit = std::uint64_t{1} << (i % 64);
        if (w & bit) return false;
        w |= bit;
        return true;
    }
    // Takes the slot out: false when it was not in the set.
    bool EraseAt(std::ptrdiff_t at) {
        if (at < 0 || bits_.empty()) return false;
        const auto i = static_cast<std::size_t>(at);
        std::uint64_t& w = bits_[i / 64];
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        if (!(w & bit)) return false;
        w &= ~bit;
        return true;
    }
    // The word that holds the slot's bit, or null (for a cache hint ahead of
    // InsertAt / ContainsAt).
    const std::uint64_t* WordOf(std::ptrdiff_t at) const {
        return at < 0 || bits_.empty() ? nullptr : &bits_[static_cast<std::size_t>(at) / 64];
    }
    bool ContainsAt(std::ptrdiff_t at) const {
        const auto i = static_cast<std::size_t>(at);
        return at >= 0 && !bits_.empty() && (bits_[i / 64] >> (i % 64)) & 1;
    }
    // The slot's place among the pages, or -1 when it is on none of them.
    std::ptrdiff_t Index(RowAddr a) const {
        std::ptrdiff_t at = pages_.Of(a.page);
        return at < 0 ? -1 : at * static_cast<std::ptrdiff_t>(kMaxRowsPerPage) + a.row;
    }
    std::uint64_t Count() const {
        std::uint64_t n = 0;
        for (std::uint64_t w : bits_) n += std::popcount(w);
        return n;
    }
    // Slots in both sets. REQUIRES: both sets are on the same pages
    std::uint64_t CountCommon(const SlotSet& other) const {
        assert(&pages_ == &other.pages_);
        std::uint64_t n = 0;
        if (bits_.empty() || other.bits_.empty()) return 0;
        for (std::size_t w = 0; w < bits_.size(); ++w) n += std::popcount(bits_[w] & other.bits_[w]);
        return n;
    }

  private:
    const PagePositions& pages_;
    std::vector<std::uint64_t> bits_;
};

// Checks a row's structure as a whole crack (RowCracker over every column) does,
// and finds its memo / OLE fields, placing only theirs. The fixed columns' places are
// checked at once against a bound on where the furthest could end; only a row too
// short for that bound is cracked whole, which then finds (and names) the column
// that lies past it. On narrow rows the whole crack was a fifth of a check.
class RowStructure {
  public:
    RowStructure(const TableDef& t, bool jet3, std::span<const std::size_t> long_value_columns)
        : whole_(t, jet3), long_values_(t, jet3, long_value_columns) {
        const std::size_t head = RowLayout::For(jet3).count_size;
        for (const Column& c : t.columns)
            if (c.fixed() && c.type != kColBool)
                fixed_end_ =
                    std::max(fixed_end_,
                             head + c.fixed_offset + std::max<std::size_t>(c.length, kWidestFixed));
    }
    // Throws FormatError where the whole crack does, with its text; fills the memo /
    // OLE columns' fields of `into`, the others stay null.
    // REQUIRES: `into` is used with this object alone
    void Crack(Bytes row, CrackedRow& into) {
        long_values_.Crack(row, into);  // everything but the fixed columns' places
        const std::size_t mask_size = (std::size_t{into.stored_columns} + 7) / 8;
        if (fixed_end_ > row.size() - mask_size) whole_.Crack(row, whole_row_);
    }

  private:
    // Bytes of the widest fixed type (numeric): a column's own length may say less.
    static constexpr std::size_t kWidestFixed = 17;
    RowCracker whole_, long_values_;
    std::size_t fixed_end_ = 0;  // no fixed column of a row ends past it
    CrackedRow whole_row_;       // the whole crack's, kept apart from the caller's
};

// A table's data pages and its live rows, which its index trees are checked against.
// Made by the table's pass and only read afterwards, by each of its index checks.
struct TableSlots {
    TableSlots(const std::vector<std::uint32_t>& pages, const TableDef& t, const Header& h,
               bool jet3, bool keys)
        : positions(pages), keys(t, jet3, h.sort_order, keys) {}
    PagePositions positions;
    SlotSet live{positions};
    TableKeys keys;  // what its indexes' keys should sum to
};

// The problem an index page's free-space field shows against the bytes its entries
// use (IndexPage::used_bytes), if any.
std::optional<std::string> IndexFreeSpaceProblem(const PageFile& f, std::uint32_t p,
                                                 std::uint16_t recorded, std::uint32_t used,
                                                 const std::string& who) {
    auto lay = IndexPageLayout::For(f.jet3());
    std::uint32_t want = f.page_size() - static_cast<std::uint32_t>(lay.first_entry) - used;
    if (want == recorded) return std::nullopt;
    return "index page " + std::to_string(p) + (who.empty() ? "" : " of " + who) + " records " +
           std::to_string(recorded) + " free bytes but its entries leave " + std::to_string(want);
}

// The problem a page's free-space field shows against its contents, if any: data
// and usage-map pages against their rows, index pages against their entries.
// Structure errors are reported where the page is read for its contents.
std::optional<std::string> FreeSpaceProblem(PageFile& f, IndexPage& scratch, std::uint32_t p,
                                            PageRole role, const std::string& who) {
    try {
        Page pg = f.Read(p);
        if (role == PageRole::Data || role == PageRole::LongValue ||
            role == PageRole::UsageMapRows) {
            DataPageInfo info = ReadDataPage(pg.bytes(), f.jet3());
            if (!info.slots_valid) return std::nullopt;  // reported as a bad row offset
            std::uint32_t want = ComputedFreeSpace(info, f.page_size(), f.jet3());
            if (want != info.free_space)
                return "page " + std::to_string(p) + (who.empty() ? "" : " of " + who) +
                       " records " + std::to_string(info.free_space) +
                       " free bytes but its rows leave " + std::to_string(want);
        } else if (role == PageRole::IndexLeaf || role == PageRole::IndexNode) {
            ReadIndexPage(f, p, scratch);
            return IndexFreeSpaceProblem(f, p, scratch.free_space, scratch.used_bytes, who);
        }
    } catch (const FormatError&) {
    }
    return std::nullopt;
}

// Where a check's findings go: problems, and pages given a role.
class Findings {
  public:
    virtual void Add(std::uint32_t page, std::string text) = 0;
    // Gives a page its role; a page claimed for two different purposes is a problem.
    virtual void Mark(std::uint32_t page, PageRole role, const std::string& who) = 0;
    // The same for a page whose free-space field its caller has checked already:
    // `free_space` is the problem found, if any.
    virtual void MarkChecked(std::uint32_t page, PageRole role, const std::string& who,
                             std::optional<std::string> free_space) = 0;

  protected:
    ~Findings() = default;
};

// Findings kept in the order found, applied to the report afterwards by whoever owns
// it: an index tree can then be checked on another thread. A marked page's
// free-space field is checked as it is noted, through the file being read, so that
// applying reads nothing (the report applies that finding only where it gives the
// page its role, as when it marks the page itself). A few dozen bytes per page noted.
class FindingsLog final : public Findings {
  public:
    struct Event {
        std::uint32_t page = 0;
        bool mark = false;
        PageRole role = PageRole::Unreachable;
        std::string text;  // the problem, or who the marked page belongs to
        std::optional<std::string> free_space;  // a marked page's free-space problem
    };
    explicit FindingsLog(PageFile& f) : f_(f) {}
    void Add(std::uint32_t page, std::string text) override {
        events_.push_back({page, false, PageRole::Unreachable, std::move(text), std::nullopt});
    }
    void Mark(std::uint32_t page, PageRole role, const std::string& who) override {
        MarkChecked(page, role, who, FreeSpaceProblem(f_, scratch_, page, role, who));
    }
    void MarkChecked(std::uint32_t page, PageRole role, const std::string& who,
                     std::optional<std::string> free_space) override {
        events_.push_back({page, true, role, who, std::move(free_space)});
    }
    const std::vector<Event>& events() const { return events_; }

  private:
    PageFile& f_;
    IndexPage scratch_;
    std::vector<Event> events_;
};

constexpr std::uint32_t kNoMapPage = 0;

void MarkMapPages(const UsageMap& m, const std::string& who, Findings& out) {
    if (m.where.page != kGlobalMapPage) out.Mark(m.where.page, PageRole::UsageMapRows, who);
    for (auto bp : m.bitmap_pages)
        if (bp != kNoMapPage && bp < kNoBitmapPage) out.Mark(bp, PageRole::UsageBitmap, who);
}

bool ReadMap(PageFile& f, RowAddr where, const std::string& what, UsageMap& m, Findings& out) {
    if (where.null()) return false;  // no map
    try {
        m = ReadUsageMap(f, where, f.page_count());
        MarkMapPages(m, what, out);
        return true;
    } catch (const FormatError& e) {
        out.Add(where.page, what + ": " + e.what());
        return false;
    }
}

bool IsIndexPageOf(PageFile& f, std::uint32_t p, std::uint32_t tdef) {
    Page pg = f.Read(p);
    return (pg.type() == kPageIndexLeaf || pg.type() == kPageIndexNode) &&
           PageOwner(pg.bytes()) == tdef;
}

// Checks index tree i of table t through `f` against the table's live rows: entries
// that point at dead rows or at a row already indexed, the tree's own structure, its
// pages (marked) against its usage map. Returns the pages of the tree.
std::uint32_t CheckIndex(PageFile& f, const TableDef& t, const std::string& who, std::size_t i,
                         const TableSlots& slots, Findings& out,
                         const LeafPageVisitor* also = nullptr, IndexWalk* walk = nullptr) {
    const RealIndex& ri = t.real_indexes[i];
    std::string iw = who + " index " + std::to_string(i);
    for (const auto& l : t.logical_indexes)
        if (l.real_index == i) {
            iw = who + " index '" + l.name + "'";
            break;
        }
    UsageMap m;
    bool have_map = ReadMap(f, ri.map, iw + " usage map", m, out);
    std::size_t dead = 0, twice = 0;
    const SlotSet& live_slots = slots.live;
    // The live rows no entry has pointed at yet: an entry's row is taken out of this
    // copy of the live set, so a sound entry costs one lookup, not one in the live
    // set and another in a set of rows pointed at. The shared live set is asked only
    // about a row that is no longer here: dead, or pointed at already.
    SlotSet unpointed = live_slots;
    // The entries' rows are looked up a batch at a time: in an index not in row order
    // each lookup misses the cache, and a batch's misses overlap. They are then
    // settled in the order walked, so the findings come as one at a time.
    struct Pending {
        RowAddr row;
        std::uint32_t page, offset;
        std::ptrdiff_t at;
        std::uint64_t hash;  // of the entry's row and key, when its keys are checked
    };
    // The entries that point at live rows, once each, folded as the table's pass
    // folded the rows' keys.
    const IndexKeyEncoder* encoder = slots.keys.encoder(i);
    KeyDigest walked;
    constexpr std::size_t kShown = 5;  // of each kind of fault, then a count
    std::optional<DuplicateKeys> duplicates;
    if (slots.keys.enabled() && IsUniqueIndex(t, i)) duplicates.emplace(f, t, i, kShown);
    constexpr std::size_t kBatch = 64;  // enough misses in flight; a few KB
    std::array<Pending, kBatch> batch;
    std::size_t pending = 0;
    auto settle = [&] {
        // The pages' positions asked for (when they are kept in an array), then
        // (arrived meanwhile) the slots' words.
        if (slots.positions.kept())
            for (std::size_t k = 0; k < pending; ++k)
                if (const std::uint32_t* p = slots.positions.EntryOf(batch[k].row.page))
                    JET_PREFETCH(p);
        for (std::size_t k = 0; k < pending; ++k) {
            batch[k].at = live_slots.Index(batch[k].row);
            if (const std::uint64_t* w = unpointed.WordOf(batch[k].at)) JET_PREFETCH(w);
        }
        for (std::size_t k = 0; k < pending; ++k) {
            const Pending& e = batch[k];
            if (unpointed.EraseAt(e.at)) {
                walked.Add(e.hash);
                continue;
            }
            if (!live_slots.ContainsAt(e.at)) {
                if (++dead <= 5)
                    out.Add(e.page, iw + ": entry at page " + std::to_string(e.page) +
                                        " offset " + std::to_string(e.offset) + " points at row " +
                                        e.row.ToString() + " which is not a live row of the table");
            } else if (++twice <= 5) {
                out.Add(e.page, iw + ": entry at page " + std::to_string(e.page) + " offset " +
                                    std::to_string(e.offset) + " points at row " +
                                    e.row.ToString() + " which another entry already indexes");
            }
        }
        pending = 0;
    };
    // The walk is the caller's as soon as it is done, whatever happens after it.
    IndexWalk own;
    IndexWalk& w = walk ? *walk : own;
    const LeafPageVisitor visit = [&](std::span<const IndexEntry> entries, std::uint32_t page) {
        for (const IndexEntry& e : entries) {
            batch[pending++] = {e.row, page, e.offset, -1,
                                encoder ? EntryHash(e.row.Packed(), e.bytes.data(), e.key_size)
                                        : 0};
            if (pending == kBatch) settle();
        }
        if (duplicates) duplicates->Add(entries, page);
        if (also) (*also)(entries, page);
    };
    w = WalkIndex(f, ri.root, t.page, visit);
    settle();
    if (duplicates)
        for (KeyFault& k : duplicates->Faults(iw)) out.Add(k.page, std::move(k.text));
    if (encoder && w.complete && walked != slots.keys.digest(i)) {
        try {
            auto live = [&](RowAddr a) { return live_slots.Contains(a); };
            for (KeyFault& k : FindKeyFaults(f, t, i, *encoder, live, iw, kShown))
                out.Add(k.page, std::move(k.text));
        } catch (const FormatError& e) {
            out.Add(ri.root, iw + ": its keys could not be compared with the rows: " + e.what());
        }
    }
    for (const auto& pr : w.problems) out.Add(pr.page, iw + ": " + pr.text);
    for (std::size_t k = 0; k < w.pages.size(); ++k) {
        const std::uint32_t p = w.pages[k];
        if (p >= f.page_count()) continue;
        // A page the walk read whole is not read again for its free-space field.
        const WalkedPage& wp = w.walked[k];
        if (wp.read) {
            out.MarkChecked(p, wp.leaf ? PageRole::IndexLeaf : PageRole::IndexNode, iw,
                            IndexFreeSpaceProblem(f, p, wp.free_space, wp.used_bytes, iw));
        } else {
            Page pg = f.Read(p);
            out.Mark(p, pg.type() == kPageIndexLeaf ? PageRole::IndexLeaf : PageRole::IndexNode,
                     iw);
        }
        if (have_map && !m.Contains(p))
            out.Add(p, iw + ": index page " + std::to_string(p) +
                           " is missing from the index's usage map");
    }
    if (have_map && w.complete) {
        std::unordered_set<std::uint32_t> walked(w.pages.begin(), w.pages.end());
        // Pages freed from the tree may stay in the map with type 0; only a live
        // index page of this table that the tree does not reach is lost.
        for (auto p : m.pages)
            if (!walked.count(p) && IsIndexPageOf(f, p, t.page))
                out.Add(p, iw + ": usage map lists page " + std::to_string(p) +
                               " that the index tree does not reach");
    }
    if (dead > 5)
        out.Add(ri.root, iw + ": " + std::to_string(dead - 5) + " more entries point at dead rows");
    return static_cast<std::uint32_t>(w.pages.size());
}

// What a caller's visitor threw, carried past the check's own handling of FormatError.
struct VisitorThrew {
    std::exception_ptr error;
};

class Checker final : public Findings {
  public:
    // defer_indexes: the index trees are only listed (index_jobs()), to be checked by
    // RunIndex and applied by Finish; otherwise each is checked and applied right after
    // its table.
    // index_keys: whether keys are compared with rows (CheckReading::index_keys).
    Checker(Database& db, CheckReport& r, bool defer_indexes = false, bool index_keys = true)
        : db_(db), f_(db.file()), r_(r), defer_indexes_(defer_indexes), index_keys_(index_keys) {}

    // Everything up to the end of the last table.
    void RunTables() {
        const std::uint32_t n = f_.page_count();
        r_.roles.assign(n, PageRole::Unreachable);
        r_.role_table.assign(n, -1);
        for (std::uint32_t p = 0; p < n; ++p) {
            try {
                ++r_.pages_by_type[f_.Read(p).type()];
            } catch (const FormatError& e) {
                Add(p, e.what());
            }
        }
        Mark(0, PageRole::Header, "");
        CheckGlobalMapRow();
        std::unordered_set<std::uint32_t> tdefs;
        for (const auto& e : db_.catalog()) {
            if (!e.is_table()) continue;
            if (!tdefs.insert(e.tdef_page()).second) {
                Add(e.tdef_page(), "table '" + e.name + "' shares its definition page " +
                                       std::to_string(e.tdef_page()) + " with another table");
                continue;
            }
            CheckTable(e);
        }
    }

    std::size_t index_jobs() const { return jobs_.size(); }

    // Checks listed index tree k through `file`; calls for different k may run at once.
    // With `also`, each leaf page's entries are handed to it too and the walk is left
    // in `walk`; what `also` throws passes through, the tree then left unchecked.
    void RunIndex(std::size_t k, PageFile& file, const LeafPageVisitor* also = nullptr,
                  IndexWalk* walk = nullptr) {
        IndexJob& job = jobs_[k];
        job.log = std::make_unique<FindingsLog>(file);
        const LeafPageVisitor guarded = [also](std::span<const IndexEntry> entries,
                                               std::uint32_t page) {
            try {
                (*also)(entries, page);
            } catch (...) {
                throw VisitorThrew{std::current_exception()};
            }
        };
        try {
            job.pages = CheckIndex(file, *job.def, job.who, job.index, *job.slots, *job.log,
                                   also ? &guarded : nullptr, walk);
        } catch (const FormatError& e) {
            job.stopped = e.what();
        } catch (const VisitorThrew& v) {
            std::rethrow_exception(v.error);
        }
        job.slots.reset();  // the last of its table's trees frees the table's slots
    }

    CheckInParts::Tree tree(std::size_t k) const {
        const IndexJob& job = jobs_[k];
        return {job.def->page, job.index, job.def->real_indexes[job.index].root};
    }

    // Applies the index trees' findings in order, then checks what needs every page's
    // role. Throws FormatError where the check stopped.
    void Finish() {
        ApplyIndexes();
        const std::uint32_t n = f_.page_count();
        CheckGlobalMapAgainstRoles();
        FindUnlistedRows();
        for (std::uint32_t p = 1; p < n; ++p)
            if (r_.roles[p] == PageRole::Unreachable) r_.unreachable.push_back(p);
        Estimate();
    }

    // The findings of the index trees checked apart, in the order listed.
    void ApplyIndexes() {
        for (IndexJob& job : jobs_)
            if (job.log) Apply(job);
    }

    void Add(std::uint32_t page, std::string text) override {
        if (r_.problems.size() < kMaxProblems) r_.problems.push_back({page, std::move(text)});
    }

    void Mark(std::uint32_t p, PageRole role, const std::string& who) override {
        if (!Assign(p, role, who)) return;
        if (auto problem = FreeSpaceProblem(f_, index_page_, p, role, who))
            Add(p, std::move(*problem));
    }

    void MarkChecked(std::uint32_t p, PageRole role, const std::string& who,
                     std::optional<std::string> free_space) override {
        if (Assign(p, role, who) && free_space) Add(p, std::move(*free_space));
    }

  private:
    // An index tree to check: listed by its table's pass, checked (maybe on another
    // thread) into its own log, applied to the report in the order listed.
    struct IndexJob {
        std::size_t table = 0;  // in r_.tables
        const TableDef* def = nullptr;
        std::string who;
        std::size_t index = 0;
        std::shared_ptr<const TableSlots> slots;
        std::unique_ptr<FindingsLog> log;
        std::uint32_t pages = 0;
        std::optional<std::string> stopped;  // why its check stopped
    };

    void Apply(IndexJob& job) {
        current_table_ = static_cast<std::int32_t>(job.table);
        for (const FindingsLog::Event& e : job.log->events()) {
            if (!e.mark)
                Add(e.page, e.text);
            else if (Assign(e.page, e.role, e.text) && e.free_space)
                Add(e.page, *e.free_space);
        }
        r_.tables[job.table].index_pages += job.pages;
        current_table_ = -1;
        job.log.reset();
        if (job.stopped) ThrowFormat(*job.stopped);
    }

    // Gives a page its role: true when that is new (usage-map row pages may hold many
    // maps, and are given it again each time); a page claimed for two different
    // purposes is a problem.
    bool Assign(std::uint32_t p, PageRole role, const std::string& who) {
        if (p >= r_.roles.size()) return false;
        PageRole& cur = r_.roles[p];
        if (cur == PageRole::Unreachable || (cur == role && role == PageRole::UsageMapRows)) {
            if (cur == PageRole::Unreachable && current_table_ >= 0)
                r_.role_table[p] = current_table_;
            cur = role;
            return true;
        }
        if (cur == role && (role == PageRole::Data || role == PageRole::LongValue)) return false;
        if (cur == PageRole::GlobalMap && role == PageRole::UsageMapRows) return false;
        if (cur != role || claimed_.count(p))
            Add(p, "page " + std::to_string(p) + " is used as " + PageRoleName(role) +
                       (who.empty() ? "" : " of " + who) + " but is already " + PageRoleName(cur));
        return false;
    }

    void CheckGlobalMapRow() {
        if (f_.page_count() < 2) return;
        try {
            Page pg = f_.Read(kGlobalMapPage);
            if (pg.type() != kPageData) {
                Add(kGlobalMapPage, "page 1 (global usage map) is not a data page");
                return;
            }
            r_.roles[kGlobalMapPage] = PageRole::GlobalMap;
            global_ = ReadUsageMap(f_, RowAddr{kGlobalMapPage, 0}, f_.page_count());
            have_global_ = true;
            MarkMapPages(global_, "the global usage map", *this);
        } catch (const FormatError& e) {
            Add(kGlobalMapPage, std::string("global usage map: ") + e.what());
        }
    }

    bool ReadMap(RowAddr where, const std::string& what, UsageMap& out) {
        return jet::ReadMap(f_, where, what, out, *this);
    }

    // What a table's pass gathers as it goes, step by step (CheckTable).
    struct TablePass {
        const TableDef* t = nullptr;
        std::string who;  // "table 'X'"
        TableSummary s;
        UsageMap owned;
        bool have_owned = false;
        // Long-value maps per column.
        std::map<std::uint16_t, UsageMap> lv_maps;
        std::vector<std::pair<std::uint16_t, std::string>> lv_map_names;  // column, who
        std::vector<std::uint32_t> pages;  // its data pages, ascending (as the map lists them)
        std::unordered_set<std::uint32_t> lv_pages;  // pages its rows' long values lie on
    };

    // A table: its definition, its maps, its data pages, its rows and their long
    // values, its row count; then its index trees, checked now or listed for later.
    void CheckTable(const CatalogEntry& e) {
        current_table_ = static_cast<std::int32_t>(r_.tables.size());
        TablePass pass;
        pass.s.name = e.name;
        pass.s.tdef_page = e.tdef_page();
        pass.s.system = e.is_system();
        pass.who = "table '" + e.name + "'";
        try {
            pass.t = &db_.Definition(pass.s.tdef_page);
        } catch (const FormatError& err) {
            Add(pass.s.tdef_page, pass.who + ": definition cannot be read: " + err.what());
            r_.tables.push_back(pass.s);
            current_table_ = -1;
            return;
        }
        const TableDef& t = *pass.t;
        for (auto p : t.pages) Mark(p, PageRole::TableDef, pass.who);
        pass.s.definition_rows = t.row_count;
        pass.s.index_count = static_cast<std::uint32_t>(t.real_indexes.size());
        ReadTableMaps(pass);
        ListDataPages(pass);
        auto slots =
            std::make_shared<TableSlots>(pass.pages, t, f_.header(), f_.jet3(), index_keys_);
        CheckRows(pass, *slots);
        CheckLongValueMaps(pass);
        tdef_names_[t.page] = pass.who;
        // Access does not keep the counts of its own system tables (MSysACEs,
        // MSysQueries) up to date, so only user tables are held to theirs.
        if (!pass.s.system && pass.s.live_rows != t.row_count)
            Add(t.page, pass.who + ": the definition says " + std::to_string(t.row_count) +
                            " rows but " + std::to_string(pass.s.live_rows) +
                            " live rows were found");

        const auto table = static_cast<std::size_t>(current_table_);
        r_.tables.push_back(std::move(pass.s));
        current_table_ = -1;
        for (std::size_t i = 0; i < t.real_indexes.size(); ++i) {
            jobs_.push_back({table, &t, pass.who, i, slots, nullptr, 0, std::nullopt});
            if (defer_indexes_) continue;
            RunIndex(jobs_.size() - 1, f_);
            Apply(jobs_.back());
        }
    }

    // The table's owned and free-space maps, and its long-value columns' maps.
    void ReadTableMaps(TablePass& pass) {
        const TableDef& t = *pass.t;
        const std::string& who = pass.who;
        UsageMap free_map;
        pass.have_owned = ReadMap(t.owned_map, who + " owned-page map", pass.owned);
        bool have_free = ReadMap(t.free_map, who + " free-space map", free_map);
        if (pass.have_owned && have_free)
            for (auto p : free_map.pages)
                if (!pass.owned.Contains(p))
                    Add(p, who + ": free-space map lists page " + std::to_string(p) +
                               " that the table does not own");
        for (const auto& l : t.long_value_columns) {
            UsageMap m, fm;
            const Column* c = t.FindColumn(l.column);
            std::string cw =
                who + " column " + (c ? "'" + c->name + "'" : std::to_string(l.column));
            if (ReadMap(l.owned_map, cw + " long-value map", m)) {
                pass.lv_map_names.emplace_back(l.column, cw);
                pass.lv_maps[l.column] = std::move(m);
            }
            ReadMap(l.free_map, cw + " long-value free map", fm);
        }
    }

    // The pages the owned map lists that are the table's data pages; any other page
    // it lists is a problem.
    void ListDataPages(TablePass& pass) {
        if (pass.have_owned) {
            for (auto p : pass.owned.pages) {
                Page pg = f_.Read(p);
                if (pg.type() == kPageData && PageOwner(pg.bytes()) == pass.t->page) {
                    assert(pass.pages.empty() || pass.pages.back() < p);
                    pass.pages.push_back(p);
                    Mark(p, PageRole::Data, pass.who);
                } else if (pg.type() != kPageHeader) {
                    // A page of some other structure; never-written pages are harmless.
                    Add(p, pass.who + ": owned-page map lists page " + std::to_string(p) +
                               " which is not one of its " + "data pages (type " +
                               std::to_string(pg.type()) + ", owner " +
                               std::to_string(PageOwner(pg.bytes())) + ")");
                }
            }
        }
        pass.s.data_pages = static_cast<std::uint32_t>(pass.pages.size());
    }

    // Every row of the data pages: slots, overflow rows followed, values cracked and
    // long values read; the live slots and the keys the indexes should hold noted in
    // `slots`.
    void CheckRows(TablePass& pass, TableSlots& slots) {
        const TableDef& t = *pass.t;
        const std::string& who = pass.who;
        TableSummary& s = pass.s;
        TableReader reader(f_, t);
        TableKeys& keys = slots.keys;
        const PagePositions& positions = slots.positions;
        SlotSet& live_slots = slots.live;
        // overflow_homes: slots that live overflow rows lead to (a bit per slot, like
        // the others, so that a table of overflow rows costs no memory per row);
        // kept_bytes: slots flagged deleted alone that hold bytes, which should be
        // overflow_homes all (Access keeps the bytes of the row an overflow pointer
        // leads to and flags it so; a row it deletes carries both flags).
        SlotSet deleted_slots(positions), overflow_homes(positions), kept_bytes(positions);
        lv_columns_.clear();
        for (std::size_t i = 0; i < t.columns.size(); ++i)
            if (IsLongValueType(t.columns[i].type)) lv_columns_.push_back(i);
        RowStructure cracker(t, f_.jet3(), lv_columns_);
        cracked_ = CrackedRow();  // its fields are this table's cracker's alone
        for (auto p : pass.pages) {
            Page pg = f_.Read(p);
            DataPageInfo info = ReadDataPage(pg.bytes(), f_.jet3());
            if (!info.slots_valid) {
                Add(p, who + ": bad row offset on page " + std::to_string(p) + ": " +
                           info.first_problem);
                continue;
            }
            if (info.slots.size() > kMaxRowsPerPage)
                Add(p, who + ": page " + std::to_string(p) + " has more than " +
                           std::to_string(kMaxRowsPerPage) + " rows");
            RowRef in_place;  // the rows in place on this page share its reference
            in_place.page = pg;
            for (std::size_t i = 0; i < info.slots.size() && i < kMaxRowsPerPage; ++i) {
                const RowSlot& sl = info.slots[i];
                RowAddr slot{p, static_cast<std::uint8_t>(i)};
                if (sl.deleted()) {
                    if (deleted_slots.Insert(slot)) ++s.tombstones;
                    if (!sl.overflow() && sl.size() > 0) kept_bytes.Insert(slot);
                    continue;
                }
                // A row in place is read from the page at hand (its slot was checked
                // above); only an overflow row is followed to where its bytes are.
                RowRef resolved;
                if (sl.overflow()) {
                    try {
                        resolved = reader.Resolve(slot);
                    } catch (const FormatError& err) {
                        Add(p, who + ": row " + slot.ToString() + ": " + err.what());
                        continue;
                    }
                } else {
                    in_place.slot = in_place.addr = slot;
                    in_place.bytes = pg.bytes().subspan(sl.begin, sl.size());
                }
                const RowRef& row = sl.overflow() ? resolved : in_place;
                if (row.overflow) {
                    ++s.overflow_rows;
                    overflow_homes.Insert(row.addr);
                    if (positions.Of(row.addr.page) < 0)
                        Add(row.addr.page, who + ": overflow row " + slot.ToString() +
                                               " leads to page " + std::to_string(row.addr.page) +
                                               " that its usage map does not list");
                }
                ++s.live_rows;
                s.row_bytes += row.bytes.size();
                live_slots.Insert(slot);
                if (keys.any()) keys.AddRow(slot, row.bytes, reader);
                CheckRowValues(t, cracker, who, row, reader, pass.lv_maps, pass.lv_pages, s);
            }
        }
        s.long_value_pages = static_cast<std::uint32_t>(pass.lv_pages.size());
        // A deleted slot that a live overflow row still uses is the row's home, not a tombstone.
        s.tombstones -= deleted_slots.CountCommon(overflow_homes);
        if (kept_bytes.Count() > kept_bytes.CountCommon(overflow_homes))
            NameLostHomes(pass, kept_bytes, overflow_homes);
    }

    // The rows of kept_bytes that no overflow row leads to: their home slots were
    // lost, and a reader that goes through home slots (the compaction's) misses them.
    // Only a damaged table pays for going over its pages' slots again.
    void NameLostHomes(const TablePass& pass, const SlotSet& kept_bytes, const SlotSet& homes) {
        for (auto p : pass.pages) {
            for (std::size_t i = 0; i < kMaxRowsPerPage; ++i) {
                RowAddr slot{p, static_cast<std::uint8_t>(i)};
                if (kept_bytes.Contains(slot) && !homes.Contains(slot))
                    Add(p, pass.who + ": row " + slot.ToString() +
                               " is flagged deleted but holds the bytes of an overflow row that "
                               "no row leads to (its home slot was lost)");
            }
        }
    }

    // Every page a long-value map lists must hold long values. The pages the rows'
    // values were read from are known to (reading a value checks its pages), so only
    // the others are read for it: a file's long values are read once.
    void CheckLongValueMaps(TablePass& pass) {
        for (const auto& [column, cw] : pass.lv_map_names) {
            for (auto p : pass.lv_maps[column].pages) {
                if (pass.lv_pages.count(p)) continue;
                Page pg = f_.Read(p);
                if (pg.type() != kPageHeader &&
                    (pg.type() != kPageData || PageOwner(pg.bytes()) != kLvalOwner))
                    Add(p, cw + ": long-value map lists page " + std::to_string(p) +
                               " which is not a long-value page (type " +
                               std::to_string(pg.type()) + ")");
            }
        }
    }

    void CheckRowValues(const TableDef& t, RowStructure& cracker, const std::string& who,
                        const RowRef& row, TableReader& reader,
                        const std::map<std::uint16_t, UsageMap>& lv_maps,
                        std::unordered_set<std::uint32_t>& lv_pages, TableSummary& s) {
        CrackedRow& cr = cracked_;
        try {
            cracker.Crack(row.bytes, cr);
        } catch (const FormatError& err) {
            Add(row.addr.page, who + ": row " + row.addr.ToString() + ": " + err.what());
            return;
        }
        for (std::size_t i : lv_columns_) {
            const Column& c = t.columns[i];
            const FieldRef& fr = cr.fields[i];
            if (fr.null) continue;
            Bytes field = row.bytes.subspan(fr.begin, fr.size);
            try {
                // The value's rows are walked, not copied; they count once all of
                // them read (a broken value adds only its finding).
                lv_rows_.clear();
                const LongValueHeader h = ParseLongValueHeader(field);
                if (h.kind == LongValueHeader::Kind::Inline) {
                    reader.ReadLongValue(field);  // checks its length against the column
                } else {
                    LongValueRows rows(reader.file(), h, reader.limits());
                    RowAddr a;
                    Bytes bytes, data;
                    while (rows.Next(&a, &bytes, &data)) lv_rows_.push_back({a, bytes.size()});
                }
                auto it = lv_maps.find(c.number);
                for (const auto& [a, size] : lv_rows_) {
                    Mark(a.page, PageRole::LongValue, who);
                    if (lv_pages.insert(a.page).second && it != lv_maps.end() &&
                        !it->second.Contains(a.page))
                        Add(a.page, who + " column '" + c.name + "': long-value page " +
                                        std::to_string(a.page) +
                                        " is missing from the column's usage map");
                    s.long_value_bytes += size;
                    ++s.long_value_rows;
                }
            } catch (const FormatError& err) {
                Add(row.addr.page, who + " column '" + c.name + "', row " + row.slot.ToString() +
                                       ": broken long value: " + err.what());
            }
        }
    }

    // A data page that names a table and holds live rows but that no map lists: its
    // rows are invisible to every reader.
    void FindUnlistedRows() {
        for (std::uint32_t p = kGlobalMapPage + 1; p < r_.roles.size(); ++p) {
            if (r_.roles[p] != PageRole::Unreachable) continue;
            // Access leaves the bytes of pages it frees; the global map says which.
            if (have_global_ && global_.Contains(p)) continue;
            Page pg = f_.Read(p);
            if (pg.type() != kPageData) continue;
            auto it = tdef_names_.find(PageOwner(pg.bytes()));
            if (it == tdef_names_.end()) continue;
            DataPageInfo info = ReadDataPage(pg.bytes(), f_.jet3());
            std::size_t live = 0;
            for (const auto& sl : info.slots) live += sl.live();
            if (live)
                Add(p, it->second + ": page " + std::to_string(p) + " holds " +
                           std::to_string(live) +
                           " live rows but the table's usage map does not list it");
        }
    }

    void CheckGlobalMapAgainstRoles() {
        if (!have_global_) return;
        // A set bit marks a free page.
        for (auto p : global_.pages)
            if (p < r_.roles.size() && p > kGlobalMapPage && r_.roles[p] != PageRole::Unreachable)
                Add(p, "the global usage map marks page " + std::to_string(p) + " (" +
                           PageRoleName(r_.roles[p]) + ") as free");
    }

    void Estimate() {
        const std::uint64_t ps = f_.page_size();
        const std::uint64_t usable = ps - DataPageLayout::For(f_.jet3()).header_size();
        std::uint64_t pages = 0;
        for (std::size_t p = 0; p < r_.roles.size(); ++p) {
            switch (r_.roles[p]) {
                case PageRole::Header:
                case PageRole::GlobalMap:
                case PageRole::TableDef:
                case PageRole::UsageMapRows:
                case PageRole::UsageBitmap:
                case PageRole::IndexNode:
                case PageRole::IndexLeaf:
                    ++pages;
                    break;
                default:
                    break;
            }
        }
        for (const auto& t : r_.tables) {
            // Rows repacked densely: each row costs its bytes and a slot.
            std::uint64_t rows = t.row_bytes + kRowSlotSize * t.live_rows;
            std::uint64_t lv = t.long_value_bytes + kRowSlotSize * t.long_value_rows;
            pages += (rows + usable - 1) / usable;
            pages += (lv + usable - 1) / usable;
        }
        pages = std::min<std::uint64_t>(pages, r_.roles.size());
        r_.estimated_size = pages * ps;
    }

    static constexpr std::size_t kMaxProblems = 10000;
    Database& db_;
    PageFile& f_;
    CheckReport& r_;
    UsageMap global_;
    bool have_global_ = false;
    std::unordered_set<std::uint32_t> claimed_;
    std::map<std::uint32_t, std::string> tdef_names_;
    std::int32_t current_table_ = -1;
    const bool defer_indexes_;
    const bool index_keys_;
    std::vector<IndexJob> jobs_;
    std::vector<std::size_t> lv_columns_;  // the memo / OLE columns of the table being checked
    CrackedRow cracked_;  // the row being checked, its buffers kept from row to row
    std::vector<std::pair<RowAddr, std::size_t>> lv_rows_;  // a long value's rows and sizes
    IndexPage index_page_;  // the index page whose free space is being checked, likewise
};

}  // namespace

namespace {

CheckReport CheckOpened(Database& db, bool index_keys) {
    CheckReport r;
    r.header = db.header();
    r.opened = true;
    Checker c(db, r, false, index_keys);
    try {
        c.RunTables();
        c.Finish();
    } catch (const FormatError& e) {
        r.problems.push_back({0, std::string("check stopped: ") + e.what()});
    }
    return r;
}

}  // namespace

CheckReport CheckDatabase(Database& db) {
    return CheckOpened(db, true);
}

namespace {

// Opens a file to check it as `reading` says; null (and why in `r`) when it cannot be.
std::unique_ptr<Database> OpenForCheck(const std::filesystem::path& path,
                                       const CheckReading& reading, CheckReport& r) {
    Status st;
    HeaderResult probe;
    auto db = Database::Open(path, &st, &probe);
    if (!db) {
        r.header = probe.header;
        r.open_error = st.reason;
        return nullptr;
    }
    db->file().set_cache_capacity(reading.cache_pages);
    db->file().set_block_reads(reading.block_reads);
    if (reading.loaded) db->file().set_loaded(reading.loaded_like);
    r.header = db->header();
    r.opened = true;
    return db;
}

}  // namespace

CheckReport CheckFile(const std::filesystem::path& path, const CheckReading& reading) {
    CheckReport r;
    auto db = OpenForCheck(path, reading, r);
    return db ? CheckOpened(*db, reading.index_keys) : r;
}

struct CheckInParts::State {
    CheckReport report;
    std::unique_ptr<Database> db;
    std::unique_ptr<Checker> checker;
    std::optional<std::string> stopped;  // why the table pass stopped
};

CheckInParts::CheckInParts(const std::filesystem::path& path, const CheckReading& reading)
    : state_(std::make_unique<State>()) {
    state_->db = OpenForCheck(path, reading, state_->report);
    if (state_->db)
        state_->checker =
            std::make_unique<Checker>(*state_->db, state_->report, true, reading.index_keys);
}

CheckInParts::~CheckInParts() = default;

PageFile* CheckInParts::file() { return state_->db ? &state_->db->file() : nullptr; }

void CheckInParts::Tables() {
    if (!state_->checker) return;
    try {
        state_->checker->RunTables();
    } catch (const FormatError& e) {
        state_->stopped = e.what();
    }
}

std::size_t CheckInParts::index_count() const {
    return state_->checker ? state_->checker->index_jobs() : 0;
}

void CheckInParts::Index(std::size_t k, PageFile& file) { state_->checker->RunIndex(k, file); }

CheckInParts::Tree CheckInParts::tree(std::size_t k) const { return state_->checker->tree(k); }

void CheckInParts::IndexAlong(std::size_t k, PageFile& file, const LeafPageVisitor& also,
                              IndexWalk& walk) {
    state_->checker->RunIndex(k, file, &also, &walk);
}

CheckReport CheckInParts::Finish() {
    CheckReport& r = state_->report;
    if (state_->checker) {
        try {
            if (state_->stopped) {
                state_->checker->ApplyIndexes();
                ThrowFormat(*state_->stopped);
            }
            state_->checker->Finish();
        } catch (const FormatError& e) {
            r.problems.push_back({0, std::string("check stopped: ") + e.what()});
        }
    }
    return std::move(r);
}

}  // namespace jet
