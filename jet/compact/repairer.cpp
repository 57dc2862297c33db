#include "jet/compact/repairer.h"

#include <algorithm>
#include <bit>
#include <exception>
#include <thread>
#include <atomic>
#include <cctype>
#include <limits>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "jet/compact/entry_sorter.h"
#include "jet/compact/id_map.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/compact/key_sums.h"
#include "jet/compact/leaf_patch.h"
#include "jet/compact/map_rows.h"
#include "jet/compact/output_file.h"
#include "jet/compact/overlay_pages.h"
#include "jet/compact/page_layout.h"
#include "jet/compact/put_bytes.h"
#include "jet/compact/spill_file.h"
#include "jet/compact/tdef_rewriter.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/index_key.h"
#include "jet/resident_buffer.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// The side file of the pages the repair changes or adds, beside the destination,
// removed on every exit. A run that is killed leaves it: it is named after an
// (empty) temporary output that the repair holds, as a compaction holds its own, so
// that the next compaction or repair in the directory tells it from a live run's
// side file and removes it.
struct SideFile {
    std::filesystem::path path;
    ~SideFile() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove(path, ec);
    }
};

// Pages of the source kept cached while salvaging (see Repair).
constexpr std::size_t kSourceCachePages = 2048;

// The parent of the top containers; it has no catalog row of its own.
constexpr std::int32_t kTopContainerId = 0x0F000000;

bool EqualsNoCase(const std::string& a, const char* b) {
    const std::string bs(b);
    return a.size() == bs.size() &&
           std::equal(a.begin(), a.end(), bs.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::uint32_t PackedSlot(RowAddr a) {
    return a.Packed();
}

// The arrays of one entry per row take their memory from the system and give it back
// when freed (ResidentAllocator): from the heap, the 100 MB of a 2.4 million-row table
// stayed with the process, under the compaction that follows.
template <class T>
using RowArray = std::vector<T, ResidentAllocator<T>>;

// The slots of the rows kept, in salvage order, 4 bytes a row: ascending (pages in
// order, each page's slots in order) but for the rows whose home slot was lost, which
// come last.
class KeptSlots {
  public:
    void push_back(RowAddr slot) {
        if (size_ % kChunk == 0) {
            chunks_.emplace_back();
            chunks_.back().reserve(kChunk);
        }
        chunks_.back().push_back(PackedSlot(slot));
        ++size_;
    }
    std::size_t size() const { return size_; }
    RowAddr operator[](std::size_t k) const { return UnpackRowPtr(Packed(k)); }

    // Makes Ordinal ready; called once all are in.
    void Index() {
        ascending_ = size_ ? 1 : 0;
        while (ascending_ < size_ && Packed(ascending_ - 1) < Packed(ascending_)) ++ascending_;
        for (std::size_t k = ascending_; k < size_; ++k)
            rest_.emplace_back(Packed(k), static_cast<std::uint32_t>(k));
        std::sort(rest_.begin(), rest_.end());
        pages_.clear();
        if (!ascending_) return;
        first_page_ = Packed(0) >> 8;
        pages_.assign((Packed(ascending_ - 1) >> 8) - first_page_ + 1, PageRows{});
        for (std::size_t k = 0; k < ascending_; ++k) {
            PageRows& pr = pages_[(Packed(k) >> 8) - first_page_];
            const std::uint32_t row = Packed(k) & 0xff;
            pr.rows[row / 64] |= std::uint64_t{1} << (row % 64);
        }
        std::uint32_t before = 0;
        for (PageRows& pr : pages_) {
            pr.before = before;
            for (std::uint64_t word : pr.rows) before += static_cast<std::uint32_t>(std::popcount(word));
        }
    }

    // Gives up what Index made.
    void DropIndex() {
        pages_ = RowArray<PageRows>();
        rest_ = {};
        first_page_ = 0;
    }

    // The place of the row at `slot`, or -1. REQUIRES: Index() was called since the
    // last DropIndex()
    std::int64_t Ordinal(RowAddr slot) const {
        if (slot.page >= first_page_ && slot.page - first_page_ < pages_.size()) {
            const PageRows& pr = pages_[slot.page - first_page_];
            const std::uint32_t word = slot.row / 64, bit = slot.row % 64;
            if (pr.rows[word] >> bit & 1) {
                std::uint32_t place = pr.before;
                for (std::uint32_t w = 0; w < word; ++w) place += static_cast<std::uint32_t>(std::popcount(pr.rows[w]));
                return place + static_cast<std::uint32_t>(std::popcount(pr.rows[word] & ((std::uint64_t{1} << bit) - 1)));
            }
        }
        const std::uint32_t p = PackedSlot(slot);
        const auto it = std::lower_bound(rest_.begin(), rest_.end(), std::make_pair(p, std::uint32_t{0}));
        if (it == rest_.end() || it->first != p) return -1;
        return it->second;
    }

  private:
    // In chunks of a fixed size: one array grown by doubling held the old and the new
    // array at once, the peak of a repair of 20 million rows (190 MB, 64 of them the
    // old array).
    static constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::uint32_t Packed(std::size_t k) const { return chunks_[k / kChunk][k % kChunk]; }
    std::vector<RowArray<std::uint32_t>> chunks_;
    std::size_t size_ = 0;
    std::size_t ascending_ = 0;  // places [0, ascending_) ascend
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rest_;  // the others: packed, place
    // The rows of each page of the ascending part, from its first page: a bit per slot
    // and how many rows come before the page, so that a row's place is counted, not
    // searched for (the search, a page's rows at a time, was a tenth of the repair of a
    // sound 2.4 million-row table: an index's entries look rows up at random). 40 bytes
    // per page of the span: 20 MB for a 2 GB file.
    struct PageRows {
        std::uint64_t rows[4] = {};
        std::uint32_t before = 0;
    };
    std::uint32_t first_page_ = 0;
    RowArray<PageRows> pages_;
};

// The weight of index `i`'s entries in sums of several indexes' entries (odd: each
// index's sum counts in full, and two indexes' differences cancel with a chance of
// 2^-63).
std::uint64_t IndexWeight(std::size_t i) {
    return KeySum::Mix(i, 0x2545f4914f6cdd1dull) | 1;
}

// The rows that the entries the compaction leaves out name, for the tables whose
// indexes' only fault was found, without a walk after the salvage, to be entries for
// rows not kept: reported as such a walk reports them (Repairer::RebuildIndexes).
class LostRowNames {
  public:
    // Table `report` of the result (definition page `tdef`): a row an index lists on
    // a page its map (`listed`) lists, that was not kept, cannot be read.
    void Expect(std::size_t report, std::uint32_t tdef, UsageMap listed) {
        tables_[tdef] = Table{report, std::move(listed), {}};
    }
    bool empty() const { return tables_.empty(); }
    // CompactOptions::entry_dropped.
    void Dropped(const SourceIndex& index, RowAddr row) {
        auto it = tables_.find(index.table);
        if (it != tables_.end() && it->second.listed.Contains(row.page)) it->second.rows.insert(row);
    }
    // Each row named, in address order, to its table's losses but those reported.
    void Report(std::vector<TableRepair>& tables) const {
        for (const auto& [tdef, t] : tables_) {
            std::vector<SalvageLoss>& losses = tables[t.report].losses;
            std::unordered_set<std::uint32_t> known;
            for (const SalvageLoss& l : losses)
                if (l.kind == SalvageLoss::Kind::Row) known.insert(PackedSlot(l.at));
            for (RowAddr a : t.rows) {
                if (known.count(PackedSlot(a))) continue;
                SalvageLoss l;
                l.kind = SalvageLoss::Kind::Row;
                l.at = a;
                l.reason = kIndexedRowLost;
                losses.push_back(std::move(l));
            }
        }
    }
    static constexpr const char* kIndexedRowLost = "an index lists a row here, but it cannot be read";

  private:
    struct Table {
        std::size_t report = 0;
        UsageMap listed;
        std::set<RowAddr> rows;
    };
    std::map<std::uint32_t, Table> tables_;
};

// Slots named by an index's entries, a bit each, over a span of pages (32 bytes a
// page): which kept rows an index walked past a lost page lacks.
class SlotBits {
  public:
    void Reset(std::uint32_t first_page, std::uint32_t pages) {
        first_ = first_page;
        bits_.assign(std::size_t{pages} * 4, 0);
    }
    void Clear() { bits_ = RowArray<std::uint64_t>(); }
    bool empty() const { return bits_.empty(); }
    // False when `a` lies outside the span.
    bool Set(RowAddr a) {
        const std::size_t at = Bit(a);
        if (at >= bits_.size() * 64) return false;
        bits_[at / 64] |= std::uint64_t{1} << (at % 64);
        return true;
    }
    bool Has(RowAddr a) const {
        const std::size_t at = Bit(a);
        return at < bits_.size() * 64 && (bits_[at / 64] >> (at % 64) & 1);
    }

  private:
    std::size_t Bit(RowAddr a) const {
        // Wraps to far past the end below the span.
        return (std::size_t{a.page} - first_) * 256 + a.row;
    }
    std::uint32_t first_ = 0;
    RowArray<std::uint64_t> bits_;
};

// What the walk beside the salvage found of one index, besides its sum.
struct BesideWalk {
    bool clean = false;     // the walk was complete, without problems
    bool in_order = false;  // its entries ascend, and hold no key twice where they must not
    SlotBits slots;         // when not clean: the slots its entries name (none past the span)
    // When not clean: its unreadable leaves, if they are all its damage (LeafGap::Find).
    std::optional<std::vector<LeafGap>> gaps;
};

// One table as the repair carries it over.
struct TableWork {
    const CatalogEntry* entry = nullptr;
    const TableDef* def = nullptr;
    TableRepair report;
    KeptSlots kept;
    // Rows kept through a slot elsewhere (an overflow row's bytes): packed addresses.
    std::unordered_set<std::uint32_t> moved_addrs;
    // The place in `kept` of the row at `slot`, or -1.
    std::int64_t Ordinal(RowAddr slot) const { return kept.Ordinal(slot); }
    bool Kept(RowAddr slot) const { return Ordinal(slot) >= 0; }
    std::unordered_set<std::uint32_t> dropped;  // slots given up after reading (packed)
    std::unordered_set<std::uint64_t> lost_values;  // slot << 16 | field
    std::vector<std::uint32_t> pages;  // data pages read
    // Per page of `pages`: every live slot of it gave a row that was kept at that slot,
    // and nothing else stands in its row table (SalvageReader::live_slots): its row
    // table stays as it is unless a row of it is dropped later.
    std::vector<bool> settled;
    bool new_map = false;
    std::size_t map_handle = 0;
    std::vector<std::pair<std::size_t, std::uint32_t>> new_roots;  // real index, root
    // Per real index: its keys' encoder (none where they cannot be made, `why` says
    // why), and the sum of the entries the kept rows make, taken as they are salvaged.
    std::vector<std::optional<IndexKeyEncoder>> enc;
    std::vector<std::string> why;
    std::vector<KeySum> row_sums;
    // The same by the rows' slots (the addresses index entries hold), and whether a
    // walk of every index while the rows were salvaged found them all sound: each
    // clean, no key given twice where it must not be, its entries summing to these.
    std::vector<KeySum> slot_sums;
    bool walked_sound = false;
    // What that walk summed, and whether its indexes' only fault is entries for rows
    // not kept: its entries that name pages with kept rows sum to `slot_sums`.
    std::vector<KeySum> walked;
    bool only_lost_rows_listed = false;
    // Per index, the rest of what that walk found; and whether each index was read
    // whole (clean, in order) or walked past a lost page with every entry it read in
    // order, at least one of them so: such an index may be completed with the entries
    // of the rows it lacks (RebuildIndexes, which checks the sums).
    std::vector<BesideWalk> beside;
    bool completable = false;
    // For a table whose indexes may be completed: the sum, over every index, of the
    // entries that walk found naming pages with kept rows (nullopt when the kept rows'
    // sums cannot be relied on). Where the indexes name rows not kept as well, those
    // and the entries made must be exactly the kept rows' own (every other entry names
    // a row not kept, which the compaction leaves out), as OnlyLostRowsListed checks
    // for a table whose walks were all clean.
    std::optional<std::uint64_t> listed_on_kept_pages;
    // The keys of the rows kept whose home slot was lost, KeySum::Mix(index, key hash),
    // with how many rows have each: the entries that name their lost home slots.
    std::unordered_map<std::uint64_t, std::uint32_t> orphan_keys;
};

// The entries of an index made anew, each with its row's place in the table's kept
// rows. They lie one after the other in one array (a vector each took some 60 bytes
// besides its own: 300 MB for a table of 2.4 million rows with three indexes).
struct Made {
    RowArray<std::uint8_t> bytes;  // each entry: its key, then its row pointer
    RowArray<std::uint64_t> at{0};  // where each entry starts, and one past the last
    RowArray<std::uint32_t> rows;   // places in `kept`
    std::vector<bool> null_in_key;
    std::size_t size() const { return rows.size(); }
    std::span<const std::uint8_t> entry(std::size_t k) const {
        return std::span(bytes.data() + at[k], at[k + 1] - at[k]);
    }
    std::span<const std::uint8_t> key(std::size_t k) const {
        return entry(k).first(entry(k).size() - kIndexRowPointerSize);
    }
    void Add(std::span<const std::uint8_t> entry, std::uint32_t row, bool nulls) {
        bytes.insert(bytes.end(), entry.begin(), entry.end());
        at.push_back(bytes.size());
        rows.push_back(row);
        null_in_key.push_back(nulls);
    }
};

// Whether `order` (places in `m`) is in the order SortEntries gives.
bool EntriesInOrder(const Made& m, const RowArray<std::uint32_t>& order, bool keys_only) {
    for (std::size_t k = 1; k < order.size(); ++k) {
        const auto a = keys_only ? m.key(order[k - 1]) : m.entry(order[k - 1]);
        const auto b = keys_only ? m.key(order[k]) : m.entry(order[k]);
        const auto c = std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
        if (c > 0 || (c == 0 && m.rows[order[k - 1]] > m.rows[order[k]])) return false;
    }
    return true;
}

// Sorts `order` (places in `m`) by their entries' bytes, or their keys' alone, ties by
// row. Through the first 12 bytes of each, big-endian and padded with zeros, beside its
// place: most comparisons look at no entry (sorted through their places alone, the
// entries' bytes were compared at random, a quarter of a repair that made three
// indexes of 2.4 million rows anew).
void SortEntries(const Made& m, RowArray<std::uint32_t>& order, bool keys_only) {
    // Often in order already: the entries of an index of the rows' autonumbers come
    // in the rows' order (a look through them takes a tenth of their sort), and so do
    // those of a unique index, sorted by key first, when sorted again by entry.
    if (EntriesInOrder(m, order, keys_only)) return;
    // 16 bytes: the prefix in three words keeps the item 4-byte aligned.
    struct Item {
        std::uint32_t prefix[3], place;
        bool operator<(const Item& o) const {
            if (prefix[0] != o.prefix[0]) return prefix[0] < o.prefix[0];
            return prefix[1] != o.prefix[1] ? prefix[1] < o.prefix[1] : prefix[2] < o.prefix[2];
        }
        bool same_prefix(const Item& o) const {
            return prefix[0] == o.prefix[0] && prefix[1] == o.prefix[1] && prefix[2] == o.prefix[2];
        }
    };
    // The bytes every entry begins with are left out of the prefix and the comparison.
    // The entries of a date index (13 bytes) share their first three: 8 bytes of prefix
    // from the start left ties in one comparison in twelve, each reading both entries
    // at random, and the sort of 2.2 million took 0.76 s; 12 bytes after the shared
    // ones, 0.25 s (8 MB more at the peak).
    std::size_t skip = 0;
    if (!order.empty()) {
        const auto first = keys_only ? m.key(order[0]) : m.entry(order[0]);
        skip = first.size();
        for (std::size_t i = 1; i < order.size() && skip; ++i) {
            const auto b = keys_only ? m.key(order[i]) : m.entry(order[i]);
            skip = std::min(skip, b.size());
            skip = static_cast<std::size_t>(std::mismatch(first.begin(), first.begin() + skip, b.begin()).first - first.begin());
        }
    }
    auto bytes = [&](std::uint32_t k) { return (keys_only ? m.key(k) : m.entry(k)).subspan(skip); };
    RowArray<Item> items(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto b = bytes(order[i]);
        Item& item = items[i];
        for (std::size_t w = 0; w < 3; ++w) {
            std::uint32_t word = 0;
            for (std::size_t j = 4 * w; j < 4 * w + 4; ++j) word = word << 8 | (j < b.size() ? b[j] : 0);
            item.prefix[w] = word;
        }
        item.place = order[i];
    }
    std::sort(items.begin(), items.end(), [&](const Item& x, const Item& y) {
        if (!x.same_prefix(y)) return x < y;
        const auto c = std::lexicographical_compare_three_way(
            bytes(x.place).begin(), bytes(x.place).end(), bytes(y.place).begin(), bytes(y.place).end());
        if (c != 0) return c < 0;
        return m.rows[x.place] < m.rows[y.place];
    });
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = items[i].place;
}

class Repairer {
  public:
    // `spill`: the memory the entries of indexes made anew may take, and where they
    // spill past it.
    // `source`: the path `db` was opened from, for a second handle on it.
    // `names`: null, or where the tables whose indexes need no walk after the salvage
    // (only entries for rows not kept are wrong in them) are noted, for the rows the
    // compaction's dropped entries name to be reported; null: every such index is
    // walked again after the salvage, and those rows found so.
    Repairer(Database& db, const std::filesystem::path& source, OverlayPages& copy, const SpillSettings& spill,
             LostRowNames* names)
        : db_(db), src_(db.file()), source_(source), copy_(copy),
          layout_(PageLayout::For(db.header().format)), maps_(layout_), spill_(spill), names_(names) {}

    // Throws FormatError for a source that cannot be repaired at all.
    void Run(RepairResult& result);
    // The indexes whose entries of rows not kept the compaction is to leave out
    // (CompactOptions::drop_entries_of_missing_rows).
    const std::set<SourceIndex>& drops() const { return drops_; }

  private:
    void PlanTables(RepairResult& result);
    // The data pages of every table, found by their owner fields (OwnedPages::Scan).
    OwnedPages ScanOwners();
    void SalvageRows(TableWork& w, const OwnedPages& owned);
    void RebuildIndexes(TableWork& w);
    // Walks every index of `d` through `file` (a handle of its own), summing its
    // entries by the slots they name (KeySum); false when a walk is not clean, holds a
    // key twice where it must not, or cannot be summed. Runs beside the salvage.
    // `by_page`: per page the entries that name a row of it, summed over every index
    // (each index's weighted, IndexWeight). Every index is walked, past pages that
    // cannot be read; `beside` gets what each walk found. An index whose entries do
    // not ascend is not clean (the walk says so).
    bool WalkIndexesBySlot(PageFile& file, const TableDef& d, std::vector<KeySum>& sums,
                           RowArray<std::uint64_t>& by_page, std::vector<BesideWalk>& beside);
    // Whether the entries the walk beside the salvage summed by page (`by_page`)
    // that name pages with rows kept are exactly the kept rows' entries (so that
    // any other entry names a row not kept).
    bool OnlyLostRowsListed(const TableWork& w, const RowArray<std::uint64_t>& by_page) const;
    // Its parts: the sum the kept rows' entries make over every index (IndexWeight),
    // nullopt when that cannot be relied on; and the sum of the entries summed by page
    // (`by_page`) that name pages with rows kept.
    std::optional<std::uint64_t> KeptEntriesSum(const TableWork& w) const;
    std::uint64_t ListedOnKeptPages(const TableWork& w, const RowArray<std::uint64_t>& by_page) const;
    // Whether every index of the table was read whole or may be completed, and its
    // keys can be made (TableWork::completable).
    bool Completable(const TableWork& w) const;
    // True when real index `index` leaves the row at `slot` out: it ignores nulls and
    // the row's index columns are all null. Asked only about rows that a cleanly read
    // index lists no entry for.
    bool LeftOutByIndex(PageFile& file, const TableDef& d, std::size_t index, RowAddr slot);
    // Whether the kept row at `slot` leaves index `index`'s columns empty: all of them
    // (`all`) or any (then a unique index may hold its key more than once).
    // Both read through `file`: the source, or a handle of its own on it.
    bool NullInKey(PageFile& file, const TableDef& d, std::size_t index, RowAddr slot, bool all);
    // The rows of table `d` that the compaction's dropped entries name are to be
    // reported as lost (LostRowNames).
    void ExpectLostRowsNamed(const TableDef& d);
    void NormalizePages(TableWork& w);
    void Lose(TableWork& w, RowAddr slot, std::string reason);

    Database& db_;
    PageFile& src_;
    std::filesystem::path source_;
    OverlayPages& copy_;
    PageLayout layout_;
    MapRows maps_;
    SpillSettings spill_;
    LostRowNames* names_;
    std::vector<TableWork> work_;
    std::size_t report_index_ = 0;  // of the table at hand, in work_ and the result's tables
    std::unordered_set<std::uint32_t> lost_catalog_slots_;
    // Ids of the tables lost: the system rows that name them (permissions) go too.
    std::unordered_set<std::int32_t> lost_ids_;
    std::unordered_set<std::int32_t> known_ids_;  // of every object the catalog names
    std::set<SourceIndex> drops_;  // see drops()
};

void Repairer::Lose(TableWork& w, RowAddr slot, std::string reason) {
    SalvageLoss l;
    l.kind = SalvageLoss::Kind::Row;
    l.at = slot;
    l.reason = std::move(reason);
    w.report.losses.push_back(std::move(l));
    w.dropped.insert(PackedSlot(slot));
}

void Repairer::PlanTables(RepairResult& result) {
    known_ids_.insert(kTopContainerId);
    for (const CatalogEntry& e : db_.catalog()) known_ids_.insert(e.id);
    std::set<std::uint32_t> seen;
    for (const CatalogEntry* e : db_.Tables(true)) {
        std::string why;
        const TableDef* def = nullptr;
        if (!seen.insert(e->tdef_page()).second) {
            why = "its definition page " + std::to_string(e->tdef_page()) +
                  " is another table's as well";
        } else {
            try {
                def = &db_.Definition(e->tdef_page());
            } catch (const FormatError& err) {
                why = std::string("its definition cannot be read: ") + err.what();
            }
        }
        if (!def) {
            if (e->tdef_page() == kCatalogPage) ThrowFormat("the catalog's definition: " + why);
            result.lost_tables.push_back({e->name, why});
            lost_catalog_slots_.insert(PackedSlot(e->row));
            lost_ids_.insert(e->id);
            continue;
        }
        TableWork w;
        w.entry = e;
        w.def = def;
        w.report.name = e->name;
        w.report.definition_rows = def->row_count;
        w.report.indexes = static_cast<std::uint32_t>(def->real_indexes.size());
        work_.push_back(std::move(w));
    }
    std::sort(work_.begin(), work_.end(), [](const TableWork& a, const TableWork& b) {
        return a.def->page < b.def->page;
    });
}

void Repairer::SalvageRows(TableWork& w, const OwnedPages& owned) {
    const TableDef& d = *w.def;
    SalvageOptions so;
    so.unlisted_pages = true;
    SalvageReader reader(src_, d, &owned, so);
    const bool catalog = d.page == kCatalogPage;
    auto mask_bit = [&](const SalvagedRow& r, const Column& c) {
        // The null mask ends the row: a set bit is a value present.
        const std::size_t count = src_.jet3() ? r.bytes[0] : U16(r.bytes, 0);
        const std::size_t mask = (count + 7) / 8;
        std::vector<std::uint8_t>& page = copy_.Page(r.addr.page);
        page[r.offset + r.bytes.size() - mask + c.number / 8] &=
            static_cast<std::uint8_t>(~(1u << (c.number % 8)));
    };
    // Permissions of an object no catalog row names (its row could not be read) go
    // too: the compaction keeps such an Id as it is, and an index of Ids in order
    // would no longer be in order once the Ids around it are renumbered.
    const bool aces = EqualsNoCase(w.entry->name, "MSysACEs");
    std::vector<std::size_t> id_columns;
    for (std::size_t i = 0; i < d.columns.size(); ++i)
        if (!catalog && d.columns[i].type == kColLong && IsIdColumn(w.entry->name, d.columns[i].name))
            id_columns.push_back(i);
    // Each kept row's index keys, summed per index while the row is at hand: a second
    // pass over the rows to check the indexes cost as much as this one. (Made on a
    // thread of their own, the keys cost 1.5 s more CPU on narrow-20m and no less time:
    // the second core is busy with the walk beside the salvage.)
    const std::size_t n = d.real_indexes.size();
    w.enc.resize(n);
    w.why.resize(n);
    w.row_sums.assign(n, KeySum());
    w.slot_sums.assign(n, KeySum());
    bool any_enc = false;
    for (std::size_t i = 0; i < n; ++i) {
        w.enc[i] = IndexKeyEncoder::Make(d, i, src_.jet3(), db_.header().sort_order, &w.why[i]);
        any_enc = any_enc || w.enc[i].has_value();
    }
    TableReader long_values(src_, d);
    CrackedRow nulled;
    std::vector<KeyValue> values;
    std::vector<std::vector<std::uint8_t>> scratch;
    std::vector<std::uint8_t> key;
    auto sum_keys = [&](const SalvagedRow& r, bool values_lost) {
        const CrackedRow* cracked = r.cracked;
        if (values_lost) {
            nulled = *r.cracked;
            for (std::size_t f = 0; f < d.columns.size(); ++f)
                if (w.lost_values.count(std::uint64_t{PackedSlot(r.slot)} << 16 | f)) nulled.fields[f].null = true;
            cracked = &nulled;
        }
        const std::uint64_t place = w.kept.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (!w.enc[i] || !w.row_sums[i].readable) continue;
            try {
                w.enc[i]->ValuesOf(r.bytes, *cracked, long_values, values, scratch);
                if (!w.enc[i]->HasEntry(values)) continue;
                w.enc[i]->Encode(values, key);
                w.row_sums[i].Add(place, HashKey(key));
                w.slot_sums[i].Add(PackedSlot(r.slot), HashKey(key));
                if (r.orphan) ++w.orphan_keys[KeySum::Mix(i, HashKey(key))];
            } catch (const FormatError&) {
                w.row_sums[i].readable = false;
            }
        }
    };
    // Rows kept at their own slots, per page, in page order.
    std::vector<std::pair<std::uint32_t, std::uint16_t>> kept_per_page;
    reader.ForEachRow([&](const SalvagedRow& r) {
        if (catalog && lost_catalog_slots_.count(PackedSlot(r.slot))) {
            w.dropped.insert(PackedSlot(r.slot));  // its table is reported lost
            return true;
        }
        for (std::size_t i : id_columns) {
            const FieldRef& f = r.cracked->fields[i];
            if (f.null || f.size != 4) continue;
            const auto id = static_cast<std::int32_t>(U32(r.bytes, f.begin));
            if (lost_ids_.count(id) || (aces && !known_ids_.count(id))) {
                w.dropped.insert(PackedSlot(r.slot));  // goes with the lost table
                return true;
            }
        }
        bool values_lost = false;
        for (std::size_t i = 0; i < d.columns.size(); ++i) {
            const FieldRef& f = r.cracked->fields[i];
            if (f.null || !IsLongValueType(d.columns[i].type)) continue;
            std::string why;
            if (reader.LongValueReadable(r.bytes.subspan(f.begin, f.size), &why)) continue;
            values_lost = true;
            // A value that cannot be read whole is left null; its row is kept.
            mask_bit(r, d.columns[i]);
            w.lost_values.insert(std::uint64_t{PackedSlot(r.slot)} << 16 | i);
            SalvageLoss l;
            l.kind = SalvageLoss::Kind::Value;
            l.at = r.slot;
            l.column = d.columns[i].name;
            l.reason = why;
            w.report.losses.push_back(std::move(l));
        }
        if (r.unlisted) w.new_map = true;
        if (any_enc) sum_keys(r, values_lost);
        w.kept.push_back(r.slot);
        if (!r.orphan) {
            if (kept_per_page.empty() || kept_per_page.back().first != r.slot.page)
                kept_per_page.emplace_back(r.slot.page, 0);
            ++kept_per_page.back().second;
        }
        if (r.addr != r.slot) w.moved_addrs.insert(PackedSlot(r.addr));
        return true;
    });
    for (const SalvageLoss& l : reader.losses()) {
        // An unreadable map: every page found by its owner field goes into a new one.
        if (l.kind == SalvageLoss::Kind::Page && l.at.page == d.owned_map.page) w.new_map = true;
        w.report.losses.push_back(l);
    }
    w.pages = reader.pages();
    w.settled.assign(w.pages.size(), false);
    for (std::size_t k = 0, j = 0; k < w.pages.size(); ++k) {
        while (j < kept_per_page.size() && kept_per_page[j].first < w.pages[k]) ++j;
        const std::uint16_t kept_here =
            j < kept_per_page.size() && kept_per_page[j].first == w.pages[k] ? kept_per_page[j].second : 0;
        w.settled[k] = reader.live_slots()[k] == kept_here;  // never kIrregularPage
    }
}

// Makes `key` an index entry for the row at `slot`: the key, then the row's page
// (3 bytes, big-endian) and row.
void AppendRowPointer(std::vector<std::uint8_t>& key, RowAddr slot) {
    key.push_back(static_cast<std::uint8_t>(slot.page >> 16));
    key.push_back(static_cast<std::uint8_t>(slot.page >> 8));
    key.push_back(static_cast<std::uint8_t>(slot.page));
    key.push_back(slot.row);
}

// The row at `slot` as the salvage read it: through its overflow pointer, or at its
// own address when its home slot was lost.
Bytes KeptRowBytes(TableReader& reader, PageFile& src, RowAddr slot, Page& holder) {
    try {
        RowRef r = reader.Resolve(slot);
        holder = r.page;
        return r.bytes;
    } catch (const FormatError&) {
        holder = src.Read(slot.page);
        return RowBytes(holder.bytes(), src.jet3(), slot.row);
    }
}

bool Repairer::LeftOutByIndex(PageFile& file, const TableDef& d, std::size_t index, RowAddr slot) {
    return (d.real_indexes[index].flags & kIndexIgnoreNulls) && NullInKey(file, d, index, slot, true);
}

bool Repairer::NullInKey(PageFile& file, const TableDef& d, std::size_t index, RowAddr slot, bool all) {
    TableReader reader(file, d);
    Page holder;
    const Bytes bytes = KeptRowBytes(reader, file, slot, holder);
    const CrackedRow cr = CrackRow(d, bytes, src_.jet3());
    for (const IndexColumn& c : d.real_indexes[index].columns)
        for (std::size_t f = 0; f < d.columns.size(); ++f) {
            if (d.columns[f].number != c.column) continue;
            // A yes/no column is never null.
            const bool null = d.columns[f].type != kColBool && cr.fields[f].null;
            if (null != all) return null;
        }
    return all;
}

bool Repairer::WalkIndexesBySlot(PageFile& file, const TableDef& d, std::vector<KeySum>& sums,
                                 RowArray<std::uint64_t>& by_page, std::vector<BesideWalk>& beside) {
    sums.assign(d.real_indexes.size(), KeySum());
    by_page.assign(file.page_count(), 0);
    beside.assign(d.real_indexes.size(), BesideWalk());
    bool all = true;
    for (std::size_t i = 0; i < d.real_indexes.size(); ++i) {
        const bool unique = IsUniqueIndex(d, i);
        const std::uint64_t weight = IndexWeight(i);
        std::vector<std::uint8_t> last_key;
        bool twice = false;
        const IndexWalk wk = WalkIndexPastDamage(
            file, d.real_indexes[i].root, d.page,
            LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t) {
                for (const IndexEntry& e : entries) {
                    const std::span<const std::uint8_t> key(e.bytes.data(), e.key_size);
                    const std::uint64_t h = HashKey(key);
                    sums[i].Add(PackedSlot(e.row), h);
                    if (e.row.page < by_page.size()) by_page[e.row.page] += weight * KeySum::Mix(PackedSlot(e.row), h);
                    if (!unique || twice) continue;
                    if (sums[i].count > 1 && std::ranges::equal(key, last_key) &&
                        !NullInKey(file, d, i, e.row, false))
                        twice = true;
                    last_key.assign(key.begin(), key.end());
                }
            }));
        beside[i].clean = wk.complete && wk.problems.empty();
        beside[i].in_order = !twice && wk.in_order;
        if (!beside[i].clean && beside[i].in_order) beside[i].gaps = LeafGap::Find(file, wk);
        all = all && beside[i].clean && beside[i].in_order;
    }
    // An index walked past damage with its entries in order is walked again, noting
    // the slots its entries name, over the span of its table's pages (the whole file
    // when its map cannot be read): an entry outside it names no row of the table but
    // one on a page the map misses, which the index is then not completed for.
    std::uint32_t span_first = 0, span_end = file.page_count();
    try {
        const UsageMap m = ReadUsageMap(file, d.owned_map, file.page_count());
        if (!m.pages.empty()) span_first = m.pages.front(), span_end = std::min(span_end, m.pages.back() + 1);
    } catch (const FormatError&) {
    }
    for (std::size_t i = 0; i < d.real_indexes.size(); ++i) {
        if (beside[i].clean || !beside[i].in_order) continue;
        SlotBits& slots = beside[i].slots;
        slots.Reset(span_first, span_end > span_first ? span_end - span_first : 0);
        WalkIndexPastDamage(file, d.real_indexes[i].root, d.page,
                            LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t) {
                                for (const IndexEntry& e : entries) slots.Set(e.row);
                            }));
    }
    return all;
}

bool Repairer::Completable(const TableWork& w) const {
    if (!w.dropped.empty() || !w.orphan_keys.empty() || w.beside.size() != w.enc.size()) return false;
    bool any = false;
    for (std::size_t i = 0; i < w.enc.size(); ++i) {
        const BesideWalk& b = w.beside[i];
        if (!w.enc[i] || !w.row_sums[i].readable || !b.in_order) return false;
        any = any || !b.clean;
    }
    return any;
}

std::optional<std::uint64_t> Repairer::KeptEntriesSum(const TableWork& w) const {
    // Rows given up after reading, and rows kept whose home slot was lost (entries
    // that name their lost slots name them), are left to the walks after the salvage.
    if (!w.dropped.empty() || !w.orphan_keys.empty()) return std::nullopt;
    std::uint64_t kept = 0;
    for (std::size_t i = 0; i < w.enc.size(); ++i) {
        if (!w.enc[i] || !w.row_sums[i].readable) return std::nullopt;
        kept += IndexWeight(i) * w.slot_sums[i].sum;
    }
    return kept;
}

std::uint64_t Repairer::ListedOnKeptPages(const TableWork& w, const RowArray<std::uint64_t>& by_page) const {
    std::vector<bool> seen(by_page.size(), false);
    std::uint64_t listed = 0;
    for (std::size_t k = 0; k < w.kept.size(); ++k) {
        const std::uint32_t p = w.kept[k].page;
        if (p >= by_page.size() || seen[p]) continue;
        seen[p] = true;
        listed += by_page[p];
    }
    return listed;
}

bool Repairer::OnlyLostRowsListed(const TableWork& w, const RowArray<std::uint64_t>& by_page) const {
    const std::optional<std::uint64_t> kept = KeptEntriesSum(w);
    return kept && ListedOnKeptPages(w, by_page) == *kept;
}

void Repairer::ExpectLostRowsNamed(const TableDef& d) {
    UsageMap listed;
    try {
        listed = ReadUsageMap(src_, d.owned_map, src_.page_count());
    } catch (const FormatError&) {
    }
    names_->Expect(report_index_, d.page, std::move(listed));
}

void Repairer::RebuildIndexes(TableWork& w) {
    const TableDef& d = *w.def;
    const std::size_t n = d.real_indexes.size();
    if (n == 0) return;
    // Every index was found sound beside the salvage, and no row was given up: nothing
    // to do (the walks below would find the same).
    if (w.walked_sound && w.dropped.empty()) return;
    if (w.only_lost_rows_listed) {
        // The entries that name pages with rows kept are exactly the kept rows' (their
        // sums agree), so every other entry names a row not kept; every walk was clean,
        // ascending, and held no key twice where it must not. A walk of each index
        // after the salvage would find it sound (its sums agree with the rows') or its
        // only fault entries for rows not kept: such an index keeps its tree, and the
        // compaction leaves those entries out as it copies it, and names their rows.
        ExpectLostRowsNamed(d);
        for (std::size_t i = 0; i < n; ++i) {
            if (w.walked[i] == w.slot_sums[i]) continue;
            drops_.insert({d.page, static_cast<std::uint32_t>(i)});
            ++w.report.indexes_rebuilt;
        }
        return;
    }
    TableReader reader(src_, d);
    const RowCracker cracker(d, src_.jet3());
    CrackedRow cracked;
    std::vector<KeyValue> values;
    std::vector<std::vector<std::uint8_t>> scratch;
    std::vector<std::uint8_t> key;
    // The values of index `i` of the kept row at `slot` (lost long values null);
    // false when the index has no entry for it. `nulls`: whether a value is null.
    // In two steps: the row read and split once (`load`), then the key of each index.
    Page holder;
    Bytes bytes;
    auto load = [&](RowAddr slot) {
        bytes = KeptRowBytes(reader, src_, slot, holder);
        cracker.Crack(bytes, cracked);
        if (!w.lost_values.empty())
            for (std::size_t f = 0; f < d.columns.size(); ++f)
                if (w.lost_values.count(std::uint64_t{PackedSlot(slot)} << 16 | f)) cracked.fields[f].null = true;
    };
    auto loaded_key = [&](const IndexKeyEncoder& enc, bool* nulls) {
        enc.ValuesOf(bytes, cracked, reader, values, scratch);
        if (nulls) {
            *nulls = false;
            for (const KeyValue& v : values) *nulls = *nulls || v.null;
        }
        if (!enc.HasEntry(values)) return false;
        enc.Encode(values, key);
        return true;
    };
    // Indexes walked past a lost page beside the salvage, every other index read whole:
    // each such index is completed with the entries of the rows it lacks (those whose
    // slots no entry it read names), made from those rows, instead of made anew from
    // every row. Right when the entries read and those made sum, by slot, to what the
    // kept rows give (then every entry read is a kept row's own, once), or, where rows
    // were lost, when those that name pages with kept rows do, over every index (then
    // every other entry names a row not kept: the compaction leaves those out and names
    // their rows, as for a table whose only fault is such entries); and, for a unique
    // index, no key made is another entry's. What a walk by row after the salvage, and
    // a tree made from every row, would find and make. Else the walks below decide.
    // Only for a few rows: they are read one by one, where a pass reads them in order
    // (a sixteenth of a large table's, or 65,536: read so in a fraction of a second).
    // Where the index's only damage is leaves that cannot be read, those leaves are
    // written anew with the entries made, in place (leaf_patch.h); else a new tree
    // holds the entries read and those made.
    if (w.completable) {
        const std::size_t most_lacking = std::max<std::size_t>(w.kept.size() / 16, 65536);
        std::vector<Made> made(n);
        std::vector<RowArray<std::uint32_t>> order(n);
        std::vector<KeySum> made_sums(n);
        auto complete = [&](std::size_t i) {
            Made& m = made[i];
            const SlotBits& slots = w.beside[i].slots;
            KeySum& made_sum = made_sums[i];
            std::size_t lacking = 0;
            try {
                for (std::uint32_t k = 0; k < w.kept.size(); ++k) {
                    if (slots.Has(w.kept[k])) continue;
                    if (++lacking > most_lacking) return false;
                    load(w.kept[k]);
                    bool nulls = false;
                    if (!loaded_key(*w.enc[i], &nulls)) continue;
                    made_sum.Add(PackedSlot(w.kept[k]), HashKey(key));
                    AppendRowPointer(key, w.kept[k]);
                    m.Add(key, k, nulls);
                }
            } catch (const FormatError&) {
                return false;
            }
            RowArray<std::uint32_t>& o = order[i];
            o.resize(m.size());
            for (std::uint32_t k = 0; k < o.size(); ++k) o[k] = k;
            if (IsUniqueIndex(d, i)) {
                // A key made twice: left to the walks, which find the row that goes.
                SortEntries(m, o, true);
                for (std::size_t k = 1; k < o.size(); ++k)
                    if (std::ranges::equal(m.key(o[k - 1]), m.key(o[k]))) return false;
            }
            SortEntries(m, o, false);
            return true;
        };
        // A key made and also read: left to the walks as well. Its entries bound a
        // filled gap (FillLeafGaps); else each key made is looked for among those read.
        auto made_and_read = [&](std::size_t i) {
            const Made& m = made[i];
            RowArray<std::uint32_t> o = order[i];
            SortEntries(m, o, true);
            bool twice = false;
            WalkIndexPastDamage(src_, d.real_indexes[i].root, d.page,
                                LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t) {
                                    for (const IndexEntry& e : entries) {
                                        const std::span<const std::uint8_t> read(e.bytes.data(), e.key_size);
                                        const auto it = std::lower_bound(
                                            o.begin(), o.end(), read, [&](std::uint32_t a, const auto& b) {
                                                return std::ranges::lexicographical_compare(m.key(a), b);
                                            });
                                        if (it != o.end() && std::ranges::equal(m.key(*it), read)) twice = true;
                                    }
                                }));
            return twice;
        };
        bool all = true;
        for (std::size_t i = 0; i < n && all; ++i)
            if (!w.beside[i].clean) all = complete(i);
        // Every index's entries, read and made, sum to the kept rows' own; or, where
        // they name rows not kept as well, those that name pages with kept rows do, over
        // every index: every other entry names a row not kept.
        auto exact = [&](std::size_t i) {
            KeySum sum = w.walked[i];
            sum.sum += made_sums[i].sum;
            sum.count += made_sums[i].count;
            return sum == w.slot_sums[i];
        };
        bool lost_rows = false;
        for (std::size_t i = 0; i < n && all; ++i) lost_rows = lost_rows || !exact(i);
        if (all && lost_rows) {
            std::uint64_t listed = w.listed_on_kept_pages.value_or(0);
            for (std::size_t i = 0; i < n; ++i) listed += IndexWeight(i) * made_sums[i].sum;
            all = w.listed_on_kept_pages && listed == KeptEntriesSum(w);
        }
        // Each index mended in place where its damage is only unreadable leaves and the
        // entries made fill them exactly; else a tree is made of the entries read and
        // those made.
        std::vector<std::optional<std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>>> filled(n);
        for (std::size_t i = 0; i < n && all; ++i) {
            if (w.beside[i].clean) continue;
            if (w.beside[i].gaps) {
                std::vector<std::span<const std::uint8_t>> entries;
                entries.reserve(order[i].size());
                for (std::uint32_t k : order[i]) entries.push_back(made[i].entry(k));
                filled[i] = FillLeafGaps(layout_, d.page, *w.beside[i].gaps, entries, IsUniqueIndex(d, i));
            }
            if (!filled[i] && IsUniqueIndex(d, i) && made_and_read(i)) all = false;
        }
        if (all) {
            // As for a table whose only fault is entries of rows not kept (above): the
            // compaction leaves those out, and names their rows.
            if (lost_rows) ExpectLostRowsNamed(d);
            for (std::size_t i = 0; i < n; ++i) {
                if (!exact(i)) drops_.insert({d.page, static_cast<std::uint32_t>(i)});
                if (w.beside[i].clean) {
                    if (!exact(i)) ++w.report.indexes_rebuilt;
                    continue;
                }
                ++w.report.indexes_rebuilt;
                if (filled[i]) {
                    for (auto& [page, bytes] : *filled[i]) copy_.Put(page, std::move(bytes));
                    continue;
                }
                // The entries read, in their order, and those made, merged.
                const Made& m = made[i];
                const RowArray<std::uint32_t>& o = order[i];
                const std::uint32_t first = copy_.TakeRun(0);
                IndexTreeBuilder tree(layout_, d.page, first,
                                      [this](std::uint32_t p, std::vector<std::uint8_t> b) { copy_.Put(p, std::move(b)); });
                std::size_t j = 0;
                auto made_before = [&](std::span<const std::uint8_t> e) {
                    for (; j < o.size() && std::ranges::lexicographical_compare(m.entry(o[j]), e); ++j)
                        tree.Add(m.entry(o[j]));
                };
                WalkIndexPastDamage(src_, d.real_indexes[i].root, d.page,
                                    LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t) {
                                        for (const IndexEntry& e : entries) {
                                            const std::span<const std::uint8_t> whole(
                                                e.bytes.data(), e.key_size + kIndexRowPointerSize);
                                            made_before(whole);
                                            tree.Add(whole);
                                        }
                                    }));
                for (; j < o.size(); ++j) tree.Add(m.entry(o[j]));
                const IndexTreeBuilder::Tree t = tree.Finish();
                copy_.TakeRun(t.page_count);
                w.new_roots.emplace_back(i, t.root);
            }
            w.beside.clear();
            return;
        }
    }
    w.beside.clear();

    // Only pointers into the table's own map name a row: a leaf of noise that reads
    // as entries points anywhere.
    UsageMap listed;
    try {
        listed = ReadUsageMap(src_, d.owned_map, src_.page_count());
    } catch (const FormatError&) {
    }

    // Each index walked once, its entries compared with the rows (no entry kept): an
    // index is kept when its entries are exactly those the rows make. First through
    // the sums the salvage took (KeySum): a sound index needs nothing more. An index
    // whose entries sum to something else, or whose rows' keys could not all be made,
    // is walked again beside a hash of each row's key, to find the rows whose entries
    // disagree: a row that a clean leaf lists under other values, and no index under
    // its own, is kept as it reads but reported: its bytes may not be the row's any more.
    const std::vector<std::optional<IndexKeyEncoder>>& enc = w.enc;
    const std::vector<std::string>& why = w.why;
    std::vector<bool> keep(n, true);
    // Rows an index lists that could not be read, each with whether every index that
    // lists it holds the key of a row kept whose home slot was lost: then that row is
    // the one its entries name (an overflow row kept where it lies), not a lost one.
    std::map<RowAddr, bool> named;
    std::vector<bool> agree(w.kept.size(), false);
    std::vector<std::pair<std::uint32_t, RowAddr>> disagree;  // leaf page, row
    // Each kept row's key of index `i` as a hash, made in a pass over the rows in page
    // order (an index's order would read them at random). 32 bits, 4 bytes per row (80
    // MB for 20 million rows; 64 bits took the repair of such a table past its memory
    // budget): only which rows to report as suspect depends on them, at a chance of
    // 2^-32 for each row whose entry disagrees; whether the index is kept was decided
    // by the sums, and the tree made from the rows compares whole keys.
    RowArray<std::uint32_t> hashes;
    // Made anew (below), each index's entries go to a sorter of its own, `by_key` for a
    // unique index (see there).
    std::vector<std::unique_ptr<EntrySorter>> sorters(n);
    std::vector<bool> by_key(n, false);
    std::size_t made_early = 0;  // sorters filled while hashing
    // An index hashed by row is made anew: its entries are sorted in the same pass (a
    // pass of its own over every row cost as much again), unless a row's key cannot be
    // made (then the pass below meets the row again and fails as it did).
    auto hash_rows = [&](std::size_t i) {
        hashes.assign(w.kept.size(), static_cast<std::uint32_t>(kNoEntry));
        auto sorter = std::make_unique<EntrySorter>(spill_.Share(n));
        const bool unique = IsUniqueIndex(d, i);
        bool failed = false;
        for (std::uint32_t k = 0; k < w.kept.size(); ++k) {
            try {
                load(w.kept[k]);
                bool nulls = false;
                if (!loaded_key(*enc[i], &nulls)) continue;
                hashes[k] = ShortHash(HashKey(key));
                if (failed) continue;
                if (unique) {
                    sorter->Add(key, std::uint64_t{k} << 1 | (nulls ? 1 : 0));
                } else {
                    AppendRowPointer(key, w.kept[k]);
                    sorter->Add(key, k);
                }
            } catch (const FormatError&) {
                hashes[k] = static_cast<std::uint32_t>(kUnreadable);
                failed = true;
            }
        }
        if (failed) return;
        sorter->Finish();
        sorters[i] = std::move(sorter);
        by_key[i] = unique;
        ++made_early;
    };
    // One walk of index `i` through `file`, with each row's hash in `hashes` (`by_row`)
    // or through the sums alone. What it finds goes to `out`; nothing else is changed,
    // so that walks of different indexes may run at once, each through a file of its own.
    struct Walked {
        bool keep = true;
        bool by_sums = false;  // the sums agree: every entry does
        // Nothing wrong but entries for rows that are not kept, and the entries come in
        // order: the index is made anew from its own entries, without those.
        bool filterable = false;
        std::vector<bool> pointed;  // rows the index has an entry for
        std::vector<bool> agree;  // rows whose entry agrees, in a walk by row
        std::vector<std::pair<std::uint32_t, RowAddr>> disagree;  // leaf page, row
        std::vector<std::pair<RowAddr, std::uint64_t>> named;  // rows it lists that could not be read
    };
    auto check_index = [&](std::size_t i, bool by_row, PageFile& file, Walked& out) {
        out = Walked();
        bool& keep_i = out.keep;
        // A walk by row follows sums that disagree: the index is not kept, whatever the
        // shorter hashes find.
        if (by_row) keep_i = false, out.agree.assign(w.kept.size(), false);
        bool fault = false;  // anything wrong but entries for rows not kept
        bool ascending = true;
        std::vector<std::uint8_t> last_entry;
        std::vector<bool>& pointed = out.pointed;
        pointed.assign(w.kept.size(), false);
        std::size_t pointed_count = 0;
        KeySum walked;
        // A unique index that holds a key twice (but for keys with a null column) is
        // made anew below, without the later row.
        const bool unique = IsUniqueIndex(d, i);
        std::vector<std::uint8_t> last_key;
        bool have_last = false;
        std::vector<std::pair<RowAddr, std::uint64_t>> lost_here;  // with its key's hash
        std::vector<std::pair<std::uint32_t, RowAddr>> disagree_here;
        const IndexWalk wk = WalkIndex(
            file, d.real_indexes[i].root, d.page,
            LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t page) {
                for (const IndexEntry& e : entries) {
                    const std::int64_t k = w.Ordinal(e.row);
                    if (k < 0) {
                        keep_i = false;
                        if (!w.dropped.count(PackedSlot(e.row)) && listed.Contains(e.row.page))
                            lost_here.emplace_back(e.row, HashKey(std::span(e.bytes.data(), e.key_size)));
                        continue;
                    }
                    if (pointed[k]) keep_i = false, fault = true;
                    if (!pointed[k]) ++pointed_count;
                    pointed[k] = true;
                    const std::span<const std::uint8_t> whole(e.bytes.data(), e.key_size + kIndexRowPointerSize);
                    if (ascending && !fault) {
                        ascending = last_entry.empty() || std::ranges::lexicographical_compare(last_entry, whole);
                        last_entry.assign(whole.begin(), whole.end());
                    }
                    if (unique) {
                        const std::span<const std::uint8_t> key(e.bytes.data(), e.key_size);
                        if (have_last && !fault && std::ranges::equal(key, last_key) &&
                            !NullInKey(file, d, i, w.kept[k], false))
                            keep_i = false, fault = true;
                        last_key.assign(key.begin(), key.end());
                        have_last = true;
                    }
                    if (!enc[i]) continue;
                    const std::uint64_t h = HashKey(std::span(e.bytes.data(), e.key_size));
                    if (!by_row)
                        walked.Add(static_cast<std::uint64_t>(k), h);
                    else if (ShortHash(h) == hashes[k])
                        out.agree[k] = true;
                    else
                        disagree_here.emplace_back(page, e.row), keep_i = false, fault = true;
                }
            }));
        // The sums tell only whether every entry agrees: where they do not, the walk
        // by row tells which.
        if (!by_row && enc[i]) {
            if (!(w.row_sums[i].readable && walked == w.row_sums[i])) return false;
            out.by_sums = true;
        }
        const bool clean = wk.complete && wk.problems.empty();
        if (!clean) keep_i = false, fault = true;
        std::unordered_set<std::uint32_t> bad_pages;
        for (const IndexProblem& p : wk.problems) bad_pages.insert(p.page);
        for (const auto& dp : disagree_here)
            if (!bad_pages.count(dp.first)) out.disagree.push_back(dp);
        if (clean) out.named = std::move(lost_here);
        // Rows without an entry: right only for those the index leaves out. With an
        // encoder the sums (or the hashes) compared them already.
        if (keep_i && pointed_count != w.kept.size() && (by_row || !enc[i]))
            for (std::size_t k = 0; k < w.kept.size() && keep_i; ++k) {
                if (pointed[k]) continue;
                const bool has = by_row ? hashes[k] != static_cast<std::uint32_t>(kNoEntry)
                                        : !LeftOutByIndex(file, d, i, w.kept[k]);
                if (has) keep_i = false, fault = true;
            }
        out.filterable = out.by_sums && !fault && ascending;
        return true;
    };
    std::vector<bool> filterable(n, false);
    auto take = [&](std::size_t i, Walked& r) {
        keep[i] = r.keep;
        filterable[i] = r.filterable;
        if (r.by_sums)
            for (std::size_t k = 0; k < w.kept.size(); ++k)
                if (r.pointed[k]) agree[k] = true;
        for (std::size_t k = 0; k < r.agree.size(); ++k)
            if (r.agree[k]) agree[k] = true;
        disagree.insert(disagree.end(), r.disagree.begin(), r.disagree.end());
        for (const auto& [a, h] : r.named) {
            // Each such row answers for one entry of each index.
            auto it = enc[i] ? w.orphan_keys.find(KeySum::Mix(i, h)) : w.orphan_keys.end();
            const bool found = it != w.orphan_keys.end() && it->second > 0;
            if (found) --it->second;
            auto [at, fresh] = named.emplace(a, found);
            if (!fresh) at->second = at->second && found;
        }
        r = Walked();
    };
    // The walks through the sums, two at a time: the second through a handle of its
    // own on the source (the compaction walks its indexes beside its work the same
    // way). A walk of each of three indexes of 20 million rows took 1.5 s.
    std::vector<Walked> walks(n);
    std::vector<char> summed(n, false);
    {
        std::atomic<std::size_t> next{0};
        auto worker = [&](PageFile& file) {
            for (std::size_t i = next++; i < n; i = next++) summed[i] = check_index(i, false, file, walks[i]);
        };
        std::string err;
        std::unique_ptr<PageFile> second = n > 1 ? PageFile::Open(source_, &err) : nullptr;
        if (second) {
            second->set_cache_capacity(kSourceCachePages);
            std::exception_ptr failed;
            std::thread helper([&] {
                try {
                    worker(*second);
                } catch (...) {
                    failed = std::current_exception();
                }
            });
            try {
                worker(src_);
            } catch (...) {
                next = n;
                helper.join();
                throw;
            }
            helper.join();
            if (failed) std::rethrow_exception(failed);
        } else {
            worker(src_);
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!summed[i]) {
            hash_rows(i);
            check_index(i, true, src_, walks[i]);
            hashes = RowArray<std::uint32_t>();
        }
        take(i, walks[i]);
    }
    // Rows reported lost already (looked up, not searched for: a cut-off file names
    // hundreds of thousands of rows).
    std::unordered_set<std::uint32_t> known;
    for (const SalvageLoss& l : w.report.losses)
        if (l.kind == SalvageLoss::Kind::Row) known.insert(PackedSlot(l.at));
    for (const auto& [a, found] : named) {
        if (found || known.count(PackedSlot(a))) continue;
        SalvageLoss l;
        l.kind = SalvageLoss::Kind::Row;
        l.at = a;
        l.reason = LostRowNames::kIndexedRowLost;
        w.report.losses.push_back(std::move(l));
    }
    std::set<RowAddr> suspects;
    for (const auto& [page, row] : disagree) {
        const std::int64_t k = w.Ordinal(row);
        if (k >= 0 && !agree[k]) suspects.insert(row);
    }
    for (RowAddr row : suspects) {
        SalvageLoss l;
        l.kind = SalvageLoss::Kind::Suspect;
        l.at = row;
        l.reason = "kept as it reads, but its index entries hold other values: the row may be damaged";
        w.report.losses.push_back(std::move(l));
    }
    if (w.dropped.empty() && std::all_of(keep.begin(), keep.end(), [](bool k) { return k; }))
        return;

    // The entries of an index whose keys cannot be made, from the leaves the walk reads
    // cleanly (a row they lack is lost when `report_missing`), each with its row's
    // place in `kept`. Such indexes are rare and small: their entries are kept in memory.
    auto from_leaves = [&](std::size_t i, bool report_missing) {
        Made m;
        std::vector<bool> seen(w.kept.size(), false);
        std::unordered_set<std::uint32_t> bad_pages;
        const IndexWalk wk = WalkIndex(src_, d.real_indexes[i].root, d.page);
        for (const IndexProblem& p : wk.problems) bad_pages.insert(p.page);
        for (std::size_t k = 0; k < wk.leaf_entries.size(); ++k) {
            const IndexEntry& e = wk.leaf_entries[k];
            const std::int64_t o = w.Ordinal(e.row);
            if (bad_pages.count(wk.leaf_pages[k]) || o < 0 || seen[o]) continue;
            seen[o] = true;
            m.Add(std::span(e.bytes.data(), e.key_size + kIndexRowPointerSize), static_cast<std::uint32_t>(o),
                  NullInKey(src_, d, i, w.kept[o], false));
        }
        if (report_missing)
            for (std::size_t k = 0; k < w.kept.size(); ++k)
                if (!seen[k] && !LeftOutByIndex(src_, d, i, w.kept[k]))
                    Lose(w, w.kept[k], "index " + std::to_string(i) +
                                           " has no entry for it and its keys cannot be made: " + why[i]);
        return m;
    };
    auto gone = [&](std::uint32_t k) { return !w.dropped.empty() && w.dropped.count(PackedSlot(w.kept[k])) > 0; };
    // A unique index (or primary key) the rows violate: the later row goes, from every
    // index. Found before any tree is made. `keys` come sorted by key, ties by row;
    // `nulls(j)`: whether the j-th has a null column (such keys may repeat).
    auto drop_repeated_keys = [&](std::size_t i, std::span<const std::uint8_t> key, bool nulls,
                                  std::uint32_t k, std::vector<std::uint8_t>& last, std::int64_t& last_k) {
        if (last_k >= 0 && !nulls && std::ranges::equal(key, last)) {
            const RowAddr later = w.kept[k];
            if (!w.dropped.count(PackedSlot(later)))
                Lose(w, later, "unique index " + std::to_string(i) + " holds its key for row " +
                                   w.kept[static_cast<std::size_t>(last_k)].ToString() + " already");
        }
        last.assign(key.begin(), key.end());
        last_k = k;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i] || enc[i]) continue;
        Made m = from_leaves(i, true);
        if (!IsUniqueIndex(d, i)) continue;
        RowArray<std::uint32_t> order(m.size());
        for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<std::uint32_t>(k);
        SortEntries(m, order, true);
        std::vector<std::uint8_t> last;
        std::int64_t last_k = -1;
        for (std::uint32_t k : order) drop_repeated_keys(i, m.key(k), m.null_in_key[k], m.rows[k], last, last_k);
    }

    // The entries of the indexes made anew from the rows, in one pass over them, each
    // index's into a sorter of its own that spills past its share of the memory (kept
    // in memory, the entries of three indexes of 20 million rows took 900 MB). A
    // unique index's keys are sorted by key, ties by row, to find the keys given twice;
    // the tree needs them by entry (the key, then the row's address), which is nearly
    // always the same order (not for a key that begins another, nor for rows whose home
    // slot was lost, which come last): else they are sorted again.
    auto fill = [&](const std::vector<std::size_t>& which) {
        if (which.empty()) return;
        // The sorters made while hashing keep their share.
        SpillSettings share = spill_.Share(n);
        share.memory_bytes = std::max<std::size_t>(1, share.memory_bytes * (n - made_early) / which.size());
        for (std::size_t i : which) sorters[i] = std::make_unique<EntrySorter>(share);
        for (std::uint32_t k = 0; k < w.kept.size(); ++k) {
            load(w.kept[k]);
            for (std::size_t i : which) {
                bool nulls = false;
                if (!loaded_key(*enc[i], &nulls)) continue;
                if (by_key[i]) {
                    sorters[i]->Add(key, std::uint64_t{k} << 1 | (nulls ? 1 : 0));
                } else {
                    AppendRowPointer(key, w.kept[k]);
                    sorters[i]->Add(key, k);
                }
            }
        }
        for (std::size_t i : which) sorters[i]->Finish();
    };
    auto rebuilt = [&](std::size_t i) { return !(keep[i] && w.dropped.empty()); };
    std::vector<std::size_t> first_pass;
    for (std::size_t i = 0; i < n; ++i) {
        if (!enc[i] || !rebuilt(i) || filterable[i] || sorters[i]) continue;
        by_key[i] = !keep[i] && IsUniqueIndex(d, i);
        first_pass.push_back(i);
    }
    fill(first_pass);
    // Entries of the tree a unique index's keys give: the key, then the row's address.
    std::vector<std::uint8_t> entry;
    auto entry_of = [&](std::span<const std::uint8_t> key, std::uint32_t k) {
        entry.assign(key.begin(), key.end());
        AppendRowPointer(entry, w.kept[k]);
        return std::span<const std::uint8_t>(entry);
    };
    std::vector<bool> in_entry_order(n, true);
    for (std::size_t i = 0; i < n; ++i) {
        if (!by_key[i]) continue;
        std::vector<std::uint8_t> last, last_entry;
        std::int64_t last_k = -1;
        std::span<const std::uint8_t> b;
        std::uint64_t tag = 0;
        while (sorters[i]->Next(&b, &tag)) {
            const auto k = static_cast<std::uint32_t>(tag >> 1);
            drop_repeated_keys(i, b, (tag & 1) != 0, k, last, last_k);
            const auto e = entry_of(b, k);
            if (in_entry_order[i] && !last_entry.empty() &&
                !std::ranges::lexicographical_compare(last_entry, e))
                in_entry_order[i] = false;
            last_entry.assign(e.begin(), e.end());
        }
        if (in_entry_order[i]) {
            sorters[i]->Rewind();
            continue;
        }
        // By entry instead.
        auto again = std::make_unique<EntrySorter>(spill_.Share(n));
        sorters[i]->Rewind();
        while (sorters[i]->Next(&b, &tag)) again->Add(entry_of(b, static_cast<std::uint32_t>(tag >> 1)), tag >> 1);
        again->Finish();
        sorters[i] = std::move(again);
        by_key[i] = false;
    }
    // Indexes kept until a row went for a key given twice are made anew as well.
    std::vector<std::size_t> second_pass;
    for (std::size_t i = 0; i < n; ++i)
        if (enc[i] && rebuilt(i) && !sorters[i] && !filterable[i]) second_pass.push_back(i);
    fill(second_pass);

    // Every index not kept, and every index when rows were given up, made anew
    // without the rows given up.
    for (std::size_t i = 0; i < n; ++i) {
        if (!rebuilt(i)) continue;
        if (filterable[i]) {
            // Its own entries but those of rows not kept, in the order they stand (the
            // entries its rows make, as the walk found, and in the order a sort of them
            // gives): the compaction leaves those out as it copies the tree, to the
            // entries a tree made here would hold, instead of copying such a tree again.
            drops_.insert({d.page, static_cast<std::uint32_t>(i)});
            ++w.report.indexes_rebuilt;
            continue;
        }
        const std::uint32_t first = copy_.TakeRun(0);
        IndexTreeBuilder tree(layout_, d.page, first,
                              [this](std::uint32_t p, std::vector<std::uint8_t> b) { copy_.Put(p, std::move(b)); });
        std::vector<std::uint8_t> last;
        bool have_last = false;
        auto add = [&](std::span<const std::uint8_t> e, std::uint32_t k) {
            // The same entry twice (only a leaf's could be) goes in once.
            if (gone(k) || (have_last && std::ranges::equal(e, last))) return;
            tree.Add(e);
            last.assign(e.begin(), e.end());
            have_last = true;
        };
        if (sorters[i]) {
            std::span<const std::uint8_t> b;
            std::uint64_t tag = 0;
            while (sorters[i]->Next(&b, &tag)) {
                if (by_key[i])
                    add(entry_of(b, static_cast<std::uint32_t>(tag >> 1)), static_cast<std::uint32_t>(tag >> 1));
                else
                    add(b, static_cast<std::uint32_t>(tag));
            }
            sorters[i].reset();
        } else {
            const Made m = from_leaves(i, false);
            RowArray<std::uint32_t> sorted;  // entries kept, by their place in `m`
            for (std::uint32_t k = 0; k < m.size(); ++k)
                if (!gone(m.rows[k])) sorted.push_back(k);
            SortEntries(m, sorted, false);
            for (std::uint32_t k : sorted) add(m.entry(k), m.rows[k]);
        }
        const IndexTreeBuilder::Tree t = tree.Finish();
        copy_.TakeRun(t.page_count);
        w.new_roots.emplace_back(i, t.root);
        ++w.report.indexes_rebuilt;
    }
}

void Repairer::NormalizePages(TableWork& w) {
    const auto lay = DataPageLayout::For(src_.jet3());
    // A page is copied only when a slot changes: on a sound file none does. A page
    // the salvage found settled is not even read again, unless a row of it was
    // dropped since (a second pass over a narrow table's pages took 5 % of its repair).
    std::unordered_set<std::uint32_t> dropped_pages;
    for (std::uint32_t packed : w.dropped) dropped_pages.insert(UnpackRowPtr(packed).page);
    std::vector<std::uint16_t> words;
    for (std::size_t k = 0; k < w.pages.size(); ++k) {
        const std::uint32_t p = w.pages[k];
        if (w.settled[k] && !dropped_pages.count(p)) continue;
        Page holder;
        const Bytes b = copy_.Peek(p, holder);
        const std::uint32_t count = U16(b, lay.row_count);
        const std::uint32_t table_end = static_cast<std::uint32_t>(lay.row_table + kRowSlotSize * count);
        if (table_end > b.size()) {
            // No row of it can be read: the page is no longer the table's.
            PutU32(copy_.Page(p), kPageOwnerAt, 0);
            continue;
        }
        words.clear();
        bool changed = false;
        std::uint32_t end = static_cast<std::uint32_t>(b.size());
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = lay.row_table + kRowSlotSize * i;
            std::uint16_t raw = U16(b, at);
            const std::uint32_t begin = raw & kRowOffsetMask;
            const bool sane = begin >= table_end && begin <= end;
            const RowAddr slot{p, static_cast<std::uint8_t>(i)};
            const std::uint32_t packed = PackedSlot(slot);
            const bool kept = w.Kept(slot) && !w.dropped.count(packed);
            if (!sane) {
                // An empty extent where it stood, so that the next row ends right.
                raw = static_cast<std::uint16_t>(kRowDeleted | kRowOverflow | end);
            } else if (i >= 256) {
                raw = static_cast<std::uint16_t>(raw | kRowDeleted | kRowOverflow);
            } else if (kept) {
                // A row whose home slot was lost lives where it lies.
                if (raw & kRowDeleted) raw = static_cast<std::uint16_t>(begin);
            } else if (!(raw & kRowDeleted)) {
                // The bytes of a row kept through another slot are that slot's
                // overflow row (flagged as Access flags one); any other row goes.
                const bool target = w.moved_addrs.count(packed) && !(raw & kRowOverflow);
                raw = static_cast<std::uint16_t>(target ? (kRowDeleted | begin)
                                                        : (raw | kRowDeleted | kRowOverflow));
            }
            if (sane) end = begin;
            changed = changed || raw != U16(b, at);
            words.push_back(raw);
        }
        if (!changed) continue;
        std::vector<std::uint8_t>& pb = copy_.Page(p);
        for (std::uint32_t i = 0; i < count; ++i) PutU16(pb, lay.row_table + kRowSlotSize * i, words[i]);
    }
}

OwnedPages Repairer::ScanOwners() {
    // Every page is looked at: the second half of the file through a handle of its own
    // on a second thread (the scan was 5 % of the repair of a sound narrow table, with
    // the second core idle).
    std::string open_err;
    std::unique_ptr<PageFile> second = PageFile::Open(source_, &open_err);
    if (!second) return OwnedPages::Scan(src_);
    const std::uint32_t end = src_.page_count(), middle = end / 2;
    OwnedPages later;
    std::exception_ptr failed;
    std::jthread scan([&] {
        try {
            later = OwnedPages::Scan(*second, 0, middle, end);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    OwnedPages owned = OwnedPages::Scan(src_, 0, 0, middle);
    scan.join();
    if (failed) std::rethrow_exception(failed);
    owned.Append(std::move(later));
    return owned;
}

void Repairer::Run(RepairResult& result) {
    PlanTables(result);
    const OwnedPages owned = ScanOwners();
    // A table's indexes are walked on a second thread, through a handle of its own,
    // while its rows are salvaged: a sound file's walks then cost no time of their own
    // (narrow-20m: some 2 s of CPU). Any other outcome is walked again after (below).
    std::string open_err;
    std::unique_ptr<PageFile> beside = PageFile::Open(source_, &open_err);
    if (beside) beside->set_cache_capacity(kSourceCachePages);
    RowArray<std::uint64_t> by_page;
    for (TableWork& w : work_) {
        std::vector<KeySum>& walked = w.walked;
        bool walked_ok = false;
        std::optional<std::jthread> walker;
        if (beside && !w.def->real_indexes.empty())
            walker.emplace([&] {
                try {
                    walked_ok = WalkIndexesBySlot(*beside, *w.def, walked, by_page, w.beside);
                } catch (...) {
                    walked_ok = false;  // walked again after the salvage, which reports it
                    w.beside.clear();
                }
            });
        try {
            SalvageRows(w, owned);
        } catch (...) {
            walker.reset();  // joined
            throw;
        }
        walker.reset();
        w.walked_sound = walked_ok;
        for (std::size_t i = 0; i < w.enc.size() && w.walked_sound; ++i)
            w.walked_sound = w.enc[i] && w.row_sums[i].readable && walked[i] == w.slot_sums[i];
        w.only_lost_rows_listed = names_ && walked_ok && !w.walked_sound && OnlyLostRowsListed(w, by_page);
        w.completable = names_ && !w.walked_sound && !walked_ok && Completable(w);
        if (w.completable && KeptEntriesSum(w)) w.listed_on_kept_pages = ListedOnKeptPages(w, by_page);
        if (!w.completable) w.beside.clear();
    }
    by_page = RowArray<std::uint64_t>();
    // The salvage's page lists and sets came from the heap and are free now; the
    // index work's arrays come from the system (50 MB of narrow-20m's peak).
    ReturnFreeHeapMemory();
    for (TableWork& w : work_) {
        report_index_ = static_cast<std::size_t>(&w - work_.data());
        // One table's lookup at a time: it takes up to 40 bytes per page of the
        // table's span, and tables spread over a large file each span most of it.
        w.kept.Index();
        RebuildIndexes(w);
        NormalizePages(w);
        w.kept.DropIndex();
        ReturnFreeHeapMemory();
        if (w.new_map) {
            w.map_handle = maps_.Reserve();
            w.report.map_rebuilt = true;
        }
    }
    // New usage maps for the tables that need one: rows on pages of their own at the
    // end of the copy.
    if (maps_.size()) {
        std::vector<std::uint32_t> pages;
        for (std::uint32_t i = 0; i < maps_.PagesNeeded(); ++i) pages.push_back(copy_.TakeRun(1));
        maps_.PlacePages(std::move(pages));
        for (TableWork& w : work_) {
            if (!w.new_map) continue;
            for (std::uint32_t p : w.pages) {
                // Read, not taken to change: taking every page of a large table held
                // them all in memory (200 MB for 2.4 million rows).
                Page holder;
                if (PageOwner(copy_.Peek(p, holder)) == w.def->page) maps_.Map(w.map_handle).AddPage(p);
            }
        }
        maps_.Finish([this](std::uint32_t n) { return copy_.TakeRun(n); },
                     [this](std::uint32_t p, std::vector<std::uint8_t> b) { copy_.Put(p, std::move(b)); });
    }
    for (TableWork& w : work_) {
        if (!w.new_map && w.new_roots.empty()) continue;
        TdefRewriter tr(src_, *w.def);
        if (w.new_map) tr.PutRowPointerAt(w.def->owned_map_at, maps_.Address(w.map_handle));
        for (const auto& [i, root] : w.new_roots) tr.PutU32At(w.def->real_indexes[i].root_at, root);
        auto pages = tr.Finish(w.def->pages);
        for (std::size_t k = 0; k < pages.size(); ++k) copy_.Put(w.def->pages[k], std::move(pages[k]));
    }
    for (TableWork& w : work_) {
        w.report.rows_salvaged = w.kept.size() - [&] {
            std::size_t gone = 0;
            if (!w.dropped.empty())
                for (std::size_t k = 0; k < w.kept.size(); ++k) gone += w.dropped.count(PackedSlot(w.kept[k]));
            return gone;
        }();
        result.tables.push_back(std::move(w.report));
    }
}

RepairResult Fail(RepairResult r, std::string reason) {
    r.repaired = false;
    r.reason = std::move(reason);
    return r;
}

}  // namespace

bool RepairResult::lossless() const {
    if (!repaired || !lost_tables.empty() || !catalog_losses.empty()) return false;
    for (const TableRepair& t : tables)
        if (!t.lossless()) return false;
    return true;
}

namespace {

// Repair. `spare_walks`: indexes whose only fault is entries for rows not kept, as the
// sums taken beside the salvage show, are not walked again after it, and the rows
// those entries name are reported as the compaction leaves the entries out; then
// `spared` says whether any was.
RepairResult RepairWith(const std::filesystem::path& source, const std::filesystem::path& destination,
                        const CompactProgressFn& progress, const CompactOptions& options, bool spare_walks,
                        bool* spared) {
    RepairResult result;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec))
        return Fail(result, "the file '" + source.string() + "' does not exist");
    if (std::filesystem::exists(std::filesystem::symlink_status(destination, ec)))
        return Fail(result, "the destination '" + destination.string() + "' already exists");
    Status status;
    std::unique_ptr<Database> db = Database::Open(source, &status);
    if (!db)
        return Fail(result, status.reason.empty() ? "the database cannot be opened" : status.reason);
    if (db->header().format != Format::Jet3 && db->header().format != Format::Jet4)
        return Fail(result, "the file is not a Jet 3 or Jet 4 database");
    result.catalog_losses = db->catalog_losses();
    // As many source pages cached as the compaction keeps (8 MB of Jet 4 pages): the
    // repair's passes go through the file in page order, and the default cache of a
    // reader (64 MB) would only hold pages read once.
    db->file().set_cache_capacity(kSourceCachePages);

    // The pages the repair changes or adds go to a side file, through which the
    // compaction then reads the source. Dead runs' files go first.
    RemoveDeadCompactionFiles(destination.parent_path(), OutputFile::RemoveLeftover);
    OutputFile holder;  // outlives the side file: removed after it
    std::string err;
    if (!holder.Create(destination, db->file().page_size(), &err))
        return Fail(result, "the repair's changed pages cannot be kept beside the destination: " + err);
    SideFile side;
    side.path = holder.temp_path();
    side.path += ".salvage";
    CompactOptions compact = options;
    LostRowNames names;
    try {
        OverlayPages pages(db->file(), side.path);
        if (!pages.is_open())
            return Fail(result, "the repair's changed pages cannot be kept beside the destination: '" +
                                    side.path.string() + "' cannot be created");
        // Half the budget for the entries of indexes made anew: the rows' places and
        // the pages the repair changes take their share beside them.
        SpillSettings spill;
        spill.memory_bytes = static_cast<std::size_t>(
            std::min<std::uint64_t>(options.memory_budget / 2, std::numeric_limits<std::size_t>::max()));
        spill.name_base = holder.temp_path();
        Repairer repairer(*db, source, pages, spill, spare_walks ? &names : nullptr);
        repairer.Run(result);
        compact.drop_entries_of_missing_rows = repairer.drops();
        *spared = !names.empty();
        if (*spared)
            compact.entry_dropped = [&names](const SourceIndex& index, RowAddr row, Bytes) {
                names.Dropped(index, row);
            };
        compact.source_overlay = pages.Finish(&err);
        if (!compact.source_overlay) return Fail(result, err);
    } catch (const FormatError& e) {
        return Fail(result, std::string("the database cannot be repaired: ") + e.what());
    } catch (const std::bad_alloc&) {
        return Fail(result, "the database cannot be repaired: not enough memory");
    } catch (const std::exception& e) {
        return Fail(result, std::string("the database cannot be repaired: ") + e.what());
    }
    result.compaction = Compact(source, destination, progress, compact);
    names.Report(result.tables);
    // Before: the source as it is, not with the pages the repair added.
    result.compaction.pages_before = db->header().page_count;
    result.compaction.bytes_before = db->header().file_size;
    if (!result.compaction)
        return Fail(result, "the salvaged rows could not be written: " + result.compaction.reason);
    // The new file holds what the report says, table by table.
    std::unique_ptr<Database> out = Database::Open(destination, &status);
    std::string mismatch = out ? "" : "the repaired file cannot be opened: " + status.reason;
    for (const TableRepair& t : result.tables) {
        if (!mismatch.empty()) break;
        const CatalogEntry* e = nullptr;
        for (const CatalogEntry* c : out->Tables(true))
            if (c->name == t.name) e = c;
        if (!e || out->Definition(e->tdef_page()).row_count != t.rows_salvaged)
            mismatch = "table '" + t.name + "' of the repaired file does not hold the rows salvaged";
    }
    if (!mismatch.empty()) {
        std::filesystem::remove(destination, ec);
        return Fail(result, mismatch);
    }
    result.repaired = true;
    return result;
}

}  // namespace

RepairResult Repair(const std::filesystem::path& source, const std::filesystem::path& destination,
                    const CompactProgressFn& progress, const CompactOptions& options) {
    bool spared = false;
    RepairResult r = RepairWith(source, destination, progress, options, true, &spared);
    // A compaction that failed may have stopped before it left out every entry whose
    // row it was to name: the report then comes from the walks, as it would without
    // sparing them (no destination was made).
    if (spared && !r.compaction.compacted) {
        bool again = false;
        RepairResult second = RepairWith(source, destination, progress, options, false, &again);
        second.ran_again = true;
        return second;
    }
    return r;
}

}  // namespace jet
