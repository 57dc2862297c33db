#include "jet/compact/entry_sorter.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <stdexcept>

namespace jet {
namespace {

// Runs merged at once: as many as the budget gives read buffers of kMergeBufferBytes
// (reads of that size cost little more per byte than larger ones), 256 at most and
// 16 at least. At the repair's shares of the default budget (about 21 MB for each of
// three indexes) one merge serves some 250 runs of 470,000 13-byte records each,
// more than the indexes of a 2 GB file hold; a second merge level would write and
// read every record once more.
constexpr std::size_t kMergeBufferBytes = std::size_t{64} << 10;
constexpr std::size_t kMinFanIn = 16;
constexpr std::size_t kMaxFanIn = 256;
// The smallest read buffer of a run being merged, and write buffer of a run being
// written: a budget too small for anything (tests use one byte) still sorts, through
// many short runs, in reads and writes of a sensible size.
constexpr std::size_t kMinBufferBytes = 4096;
// The write buffer of a batch going to disk, beside the budget the batch fills: large
// enough that the writes cost little, small against any real budget.
constexpr std::size_t kMaxSpillBufferBytes = std::size_t{1} << 20;
// A record's head on disk: how many bytes it shares with the record before, how many
// follow, and its tag, as 7-bit groups (5 + 5 + 10 bytes at most).
constexpr std::size_t kMaxHeaderBytes = 20;
// The most a batch reserves at once. Reserved memory costs nothing until it is
// touched, but Windows counts it against the system's commit limit, and a budget may
// be given as all there is.
constexpr std::size_t kMaxReserveBytes = std::size_t{1} << 30;

// -1, 0 or 1 as `a` sorts before, with or after `b` (bytes alone).
int Compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n) {
        const int c = std::memcmp(a.data(), b.data(), n);
        if (c) return c < 0 ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Up to `n` (at most 8) bytes as a big-endian number, padded with zeros to 8 bytes.
// Runs once or twice per record sorted and per record merged: eight bytes at hand
// make one load and a byte swap.
inline std::uint64_t PackBigEndian(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    if (n >= 8) {
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::little) {
#if defined(__GNUC__) || defined(__clang__)
            v = __builtin_bswap64(v);
#else
            v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
#endif
        }
        return v;
    }
    for (std::size_t i = 0; i < 8; ++i) v = v << 8 | (i < n ? p[i] : 0);
    return v;
}

// How many bytes `a` and `b` begin with alike. Eight at a time: it runs once per
// record added and once per record written to disk.
std::size_t SharedLength(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
        }
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

std::uint8_t* PutVarint(std::uint8_t* p, std::uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<std::uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<std::uint8_t>(v);
    return p;
}

inline const std::uint8_t* GetVarint(const std::uint8_t* p, const std::uint8_t* end, std::uint64_t* v) {
    // Most are one byte: the shared and the new bytes' counts of index entries.
    if (p < end && *p < 0x80) {
        *v = *p;
        return p + 1;
    }
    *v = 0;
    for (unsigned shift = 0; shift < 64 && p < end; shift += 7) {
        const std::uint8_t b = *p++;
        *v |= std::uint64_t{b & 0x7Fu} << shift;
        if (b < 0x80) return p;
    }
    throw std::runtime_error("a temporary file of a sort holds a broken record");
}

// Below this many items a range is left to std::sort: counting 256 buckets would
// cost more than the comparisons it saves (64 measured faster than 32 or 256 for
// the entries of a date index, 2000 dates among 20 million rows).
constexpr std::size_t kRadixMinItems = 64;

// Items ahead of a bucket's next place that are fetched before they are needed. The
// places the swaps go to follow from the items they carry, one after another, so
// without this each swap waited for its line.
constexpr std::size_t kPrefetchAhead = 8;

template <class T>
void Prefetch(const T* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p, 1);
#else
    (void)p;
#endif
}

// Byte `k` (0-15) of an item's prefix.
template <class Item>
unsigned PrefixByte(const Item& x, unsigned k) {
    return static_cast<unsigned>((k < 8 ? x.hi : x.lo) >> (56 - 8 * (k % 8))) & 0xFF;
}

// Sorts items whose prefixes agree before byte `k`: places them by that byte (in
// place, one bucket after another), then each bucket by the next byte, and ranges
// too short for that, or alike in the whole prefix, by `less`. 20 million random
// 13-byte records: 1.2 s instead of 3.0 s through std::sort alone.
template <class Item, class Less>
void RadixSort(Item* begin, Item* end, unsigned k, const Less& less) {
    const std::size_t n = static_cast<std::size_t>(end - begin);
    if (n < kRadixMinItems || k == 16) {
        std::sort(begin, end, less);
        return;
    }
    std::size_t count[256] = {};
    for (const Item* p = begin; p != end; ++p) ++count[PrefixByte(*p, k)];
    if (count[PrefixByte(*begin, k)] == n) {
        // All alike in this byte, as the entries of one key are in all but the row's:
        // the first byte in which any differ, in one pass instead of one a byte.
        std::uint64_t hi = 0, lo = 0;
        for (const Item* p = begin; p != end; ++p) {
            hi |= p->hi ^ begin->hi;
            lo |= p->lo ^ begin->lo;
        }
        const unsigned differ = hi ? static_cast<unsigned>(std::countl_zero(hi)) / 8
                                   : lo ? 8 + static_cast<unsigned>(std::countl_zero(lo)) / 8 : 16;
        return RadixSort(begin, end, differ, less);
    }
    std::size_t next[256], stop[256];
    for (std::size_t b = 0, at = 0; b < 256; ++b) {
        next[b] = at;
        at += count[b];
        stop[b] = at;
    }
    for (unsigned b = 0; b < 256; ++b) {
        while (next[b] < stop[b]) {
            Item x = begin[next[b]];
            // Carries x to its bucket, taking the item there along, until one belongs here.
            for (unsigned d = PrefixByte(x, k); d != b; d = PrefixByte(x, k)) {
                // Each bucket fills from its start on: the lines it fills next are
                // fetched while this chain of swaps goes on elsewhere.
                Prefetch(begin + std::min(next[d] + kPrefetchAhead, n - 1));
                std::swap(x, begin[next[d]++]);
            }
            begin[next[b]++] = x;
        }
    }
    for (std::size_t b = 0, at = 0; b < 256; at += count[b++])
        if (count[b] > 1) RadixSort(begin + at, begin + at + count[b], k + 1, less);
}

}  // namespace

// Writes records, in order, as one run at the end of the spill file: each as the
// bytes it shares with the one before (a count), the rest, and its tag. A run stays
// open while later records follow the last one written (input added in order, or
// batches that each begin after the one before ends), so that they read back as one.
class EntrySorter::RunWriter {
  public:
    RunWriter(SpillFile& file, std::size_t buffer_bytes)
        : file_(file), start_(file.size()), buffer_(std::max(buffer_bytes, kMinBufferBytes)) {}

    void Add(std::span<const std::uint8_t> bytes, std::uint64_t tag) {
        Put(bytes, tag, SharedLength(previous_, bytes));
    }

    // Adds the record if it sorts at or after the last one written; false (nothing
    // written) if it sorts before.
    bool AddIfFollows(std::span<const std::uint8_t> bytes, std::uint64_t tag) {
        const std::size_t shared = SharedLength(previous_, bytes);
        if (!Follows(bytes, tag, shared)) return false;
        Put(bytes, tag, shared);
        return true;
    }

    bool Follows(std::span<const std::uint8_t> bytes, std::uint64_t tag) const {
        return Follows(bytes, tag, SharedLength(previous_, bytes));
    }

    Run Finish() {
        Flush();
        return {start_, file_.size() - start_};
    }

  private:
    // `shared`: the bytes `bytes` begins with alike with the last record.
    bool Follows(std::span<const std::uint8_t> bytes, std::uint64_t tag, std::size_t shared) const {
        if (empty_) return true;
        if (shared < bytes.size() && shared < previous_.size()) return previous_[shared] < bytes[shared];
        if (previous_.size() != bytes.size()) return previous_.size() < bytes.size();
        return tag_ <= tag;
    }

    void Put(std::span<const std::uint8_t> bytes, std::uint64_t tag, std::size_t shared) {
        const std::size_t rest = bytes.size() - shared;
        if (used_ + kMaxHeaderBytes > buffer_.size()) Flush();
        std::uint8_t* p = buffer_.data() + used_;
        p = PutVarint(p, shared);
        p = PutVarint(p, rest);
        p = PutVarint(p, tag);
        used_ = static_cast<std::size_t>(p - buffer_.data());
        for (std::size_t done = 0; done < rest;) {
            if (used_ == buffer_.size()) Flush();
            const std::size_t n = std::min(rest - done, buffer_.size() - used_);
            std::memcpy(buffer_.data() + used_, bytes.data() + shared + done, n);
            used_ += n;
            done += n;
        }
        previous_.resize(bytes.size());
        std::copy(bytes.begin() + shared, bytes.end(), previous_.begin() + shared);
        tag_ = tag;
        empty_ = false;
    }

    void Flush() {
        if (used_) file_.Append({buffer_.data(), used_});
        used_ = 0;
    }

    SpillFile& file_;
    std::uint64_t start_;                 // where the run begins in the file
    std::vector<std::uint8_t> buffer_;    // bytes not written yet
    std::size_t used_ = 0;                // of buffer_
    std::vector<std::uint8_t> previous_;  // the record written last
    std::uint64_t tag_ = 0;               // and its tag
    bool empty_ = true;                   // nothing written yet
};

// Reads runs back in order: each run's current record sits in its cursor, and a tree
// of losers (a tournament whose inner nodes keep the cursor that lost there) names the
// smallest: the next after it is found in one comparison per level. Each node keeps
// its cursor's first 8 bytes beside it, so that the way up reads the tree alone
// unless those are equal.
class EntrySorter::Merger {
  public:
    Merger(SpillFile& file, std::span<const Run> runs, std::size_t buffer_bytes)
        : file_(file), cursors_(runs.size()), losers_(runs.size()) {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            Cursor& c = cursors_[i];
            c.at = runs[i].at;
            c.end = runs[i].at + runs[i].bytes;
            c.buffer.resize(static_cast<std::size_t>(std::max<std::uint64_t>(
                kMaxHeaderBytes, std::min<std::uint64_t>(buffer_bytes, runs[i].bytes))));
            c.done = !Advance(c);
        }
        if (!cursors_.empty()) winner_ = Play(1);
    }

    bool Next(std::span<const std::uint8_t>* bytes, std::uint64_t* tag) {
        if (cursors_.empty()) return false;
        // The record returned last stays readable until now.
        if (taken_) {
            Cursor& c = cursors_[winner_.cursor];
            if (!c.done) c.done = !Advance(c);
            Replay();
        }
        const Cursor& c = cursors_[winner_.cursor];
        if (c.done) return false;
        *bytes = c.record;
        *tag = c.tag;
        taken_ = true;
        return true;
    }

  private:
    struct Cursor {
        std::uint64_t at = 0, end = 0;     // the run's bytes in the file not yet read
        std::vector<std::uint8_t> buffer;  // read from the file
        std::size_t pos = 0, limit = 0;    // the part of buffer not yet decoded
        std::vector<std::uint8_t> record;  // the current record
        std::uint64_t tag = 0;
        std::uint64_t head = 0;  // its first 8 bytes, packed
        std::uint64_t tail = 0;  // and the 8 after them
        bool done = false;       // no record left
    };

    // A cursor in the tree, with the first 8 bytes of its record (all ones past its
    // end, where ties are settled by the cursor).
    struct Entry {
        std::uint64_t head;
        std::uint32_t cursor;
    };

    Entry EntryOf(std::uint32_t i) const {
        const Cursor& c = cursors_[i];
        return {c.done ? ~std::uint64_t{0} : c.head, i};
    }

    // Moves what is left of the buffer to its start and reads more behind it.
    void Refill(Cursor& c) {
        const std::size_t left = c.limit - c.pos;
        std::memmove(c.buffer.data(), c.buffer.data() + c.pos, left);
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(c.buffer.size() - left, c.end - c.at));
        file_.Read(c.at, {c.buffer.data() + left, n});
        c.at += n;
        c.pos = 0;
        c.limit = left + n;
    }

    // Decodes the cursor's next record; false at the end of its run.
    bool Advance(Cursor& c) {
        if (c.limit - c.pos < kMaxHeaderBytes && c.at < c.end) Refill(c);
        if (c.pos == c.limit) return false;
        const std::uint8_t* p = c.buffer.data() + c.pos;
        const std::uint8_t* end = c.buffer.data() + c.limit;
        std::uint64_t shared = 0, rest = 0;
        p = GetVarint(p, end, &shared);
        p = GetVarint(p, end, &rest);
        p = GetVarint(p, end, &c.tag);
        c.pos = static_cast<std::size_t>(p - c.buffer.data());
        if (shared > c.record.size() || rest > kMaxBytes)
            throw std::runtime_error("a temporary file of a sort holds a broken record");
        const std::size_t size = static_cast<std::size_t>(shared + rest);
        // The record's buffer only grows: resizing it to each record's length would
        // write zeros over the bytes about to be copied.
        if (c.record.capacity() < size) c.record.reserve(std::max(size, 2 * c.record.capacity()));
        c.record.resize(size);
        if (rest <= c.limit - c.pos) {
            // An empty record's buffer may have no storage at all: memcpy wants a
            // pointer even for no bytes.
            if (rest) std::memcpy(c.record.data() + shared, c.buffer.data() + c.pos, static_cast<std::size_t>(rest));
            c.pos += static_cast<std::size_t>(rest);
        } else {
            for (std::size_t done = 0; done < rest;) {
                if (c.pos == c.limit) {
                    if (c.at == c.end)
                        throw std::runtime_error("a temporary file of a sort is cut short");
                    Refill(c);
                }
                const std::size_t n =
                    std::min<std::size_t>(static_cast<std::size_t>(rest) - done, c.limit - c.pos);
                std::memcpy(c.record.data() + shared + done, c.buffer.data() + c.pos, n);
                c.pos += n;
                done += n;
            }
        }
        c.head = PackBigEndian(c.record.data(), c.record.size());
        c.tail = size > 8 ? PackBigEndian(c.record.data() + 8, size - 8) : 0;
        return true;
    }

    // Whether cursor a's record sorts before cursor b's; a run at its end after all,
    // equal records by run, so that the order is the same every time.
    bool Before(std::uint32_t a, std::uint32_t b) const {
        const Cursor& x = cursors_[a];
        const Cursor& y = cursors_[b];
        if (x.done || y.done) return !x.done || (y.done && a < b);
        if (x.head != y.head) return x.head < y.head;
        // The entries of one key differ only after it (a date's in bytes 9-12).
        if (x.tail != y.tail) return x.tail < y.tail;
        if (x.record.size() > 16 || y.record.size() > 16) {
            if (const int c = Compare(x.record, y.record)) return c < 0;
        } else if (x.record.size() != y.record.size()) {
            return x.record.size() < y.record.size();
        }
        if (x.tag != y.tag) return x.tag < y.tag;
        return a < b;
    }

    bool Before(const Entry& a, const Entry& b) const {
        if (a.head != b.head) return a.head < b.head;
        return Before(a.cursor, b.cursor);
    }

    // The tree has inner nodes 1 to k-1 and the runs as leaves k to 2k-1 (k runs).
    // Plays the match at `node` and below; returns its winner.
    Entry Play(std::size_t node) {
        if (node >= cursors_.size()) return EntryOf(static_cast<std::uint32_t>(node - cursors_.size()));
        Entry a = Play(2 * node), b = Play(2 * node + 1);
        if (Before(b, a)) std::swap(a, b);
        losers_[node] = b;
        return a;
    }

    // Plays the winner's new record against the losers on its way up.
    void Replay() {
        Entry w = EntryOf(winner_.cursor);
        for (std::size_t node = (cursors_.size() + w.cursor) / 2; node >= 1; node /= 2) {
            Entry& l = losers_[node];
            // The entries of one key meet with equal heads, and the records decide.
            if (l.head == w.head) {
                if (Before(l.cursor, w.cursor)) std::swap(l, w);
                continue;
            }
            // Else swapped without a jump: which one wins is a coin toss for random
            // records (a jump there cost 40 % of a merge of 43 runs).
            const std::uint64_t mask = 0 - static_cast<std::uint64_t>(l.head < w.head);
            const std::uint64_t heads = (l.head ^ w.head) & mask;
            const std::uint32_t cursors = (l.cursor ^ w.cursor) & static_cast<std::uint32_t>(mask);
            l.head ^= heads;
            w.head ^= heads;
            l.cursor ^= cursors;
            w.cursor ^= cursors;
        }
        winner_ = w;
    }

    SpillFile& file_;
    std::vector<Cursor> cursors_;
    std::vector<Entry> losers_;  // at each inner node (index 0 unused)
    Entry winner_{};             // the cursor with the smallest record
    bool taken_ = false;         // the winner's record was returned
};

EntrySorter::EntrySorter(const SpillSettings& settings) : settings_(settings) {}

EntrySorter::~EntrySorter() = default;

std::span<const std::uint8_t> EntrySorter::Read(const Item& item) {
    if (!packed_ || item.size() > shared_ + kPrefixBytes) return BytesOf(item);
    std::uint8_t* p = scratch_.data() + shared_;
    for (int k = 0; k < 8; ++k) {
        p[k] = static_cast<std::uint8_t>(item.hi >> (56 - 8 * k));
        p[8 + k] = static_cast<std::uint8_t>(item.lo >> (56 - 8 * k));
    }
    return {scratch_.data(), item.size()};
}

void EntrySorter::Add(std::span<const std::uint8_t> bytes, std::uint64_t tag) {
    assert(!finished_ && bytes.size() <= kMaxBytes);
    if (direct_) {
        // Everything so far came in order: straight to the run, unless this one is out
        // of order (then it begins a batch).
        if (open_->AddIfFollows(bytes, tag)) {
            ++count_;
            return;
        }
        direct_ = false;
    }
    const std::size_t cost = sizeof(Item) + bytes.size();
    if (settings_.can_spill() && !items_.empty() &&
        arena_.size() + items_.size() * sizeof(Item) + cost > settings_.memory_bytes)
        SpillBatch();
    if (settings_.can_spill() && arena_.capacity() == 0) {
        // Room for a whole batch at once: the arrays are taken from the system and cost
        // no memory until they are filled, and never grow (which would hold the old
        // array and the new one at once); past kMaxReserveBytes they grow as vectors do.
        const std::size_t bytes = std::min(settings_.memory_bytes, kMaxReserveBytes);
        arena_.reserve(bytes);
        items_.reserve(bytes / sizeof(Item) + 1);
    }
    if (items_.empty()) {
        shared_ = bytes.size();
        in_order_ = true;
    } else {
        shared_ = SharedLength(BytesOf(items_.front()).first(shared_), bytes);
        if (in_order_) {
            const int c = Compare(BytesOf(items_.back()), bytes);
            in_order_ = c < 0 || (c == 0 && items_.back().tag <= tag);
        }
    }
    const std::uint64_t at = arena_.size();
    assert(at < (std::uint64_t{1} << 40));  // what Item::place holds: 1 TB in memory
    arena_.insert(arena_.end(), bytes.begin(), bytes.end());
    items_.push_back({0, 0, at << 24 | bytes.size(), tag});
    ++count_;
}

void EntrySorter::SortBatch() {
    if (in_order_) return;
    // The bytes every record begins with are left out of the prefixes and the
    // comparisons: the entries of a date index (13 bytes) share their first three.
    const std::size_t skip = shared_;
    const auto first = BytesOf(items_.front());
    scratch_.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(skip));
    scratch_.resize(skip + kPrefixBytes);
    for (Item& item : items_) {
        const auto b = BytesOf(item).subspan(skip);
        item.hi = PackBigEndian(b.data(), b.size());
        item.lo = b.size() > 8 ? PackBigEndian(b.data() + 8, b.size() - 8) : 0;
    }
    packed_ = true;
    // Equal prefixes: the bytes after them, then the lengths (the prefix pads with
    // zeros), then the tags.
    const std::size_t after = skip + kPrefixBytes;
    auto less = [&](const Item& x, const Item& y) {
        if (x.hi != y.hi) return x.hi < y.hi;
        if (x.lo != y.lo) return x.lo < y.lo;
        if (x.size() > after || y.size() > after) {
            const auto a = BytesOf(x), b = BytesOf(y);
            const int c =
                Compare(a.subspan(std::min(after, a.size())), b.subspan(std::min(after, b.size())));
            if (c) return c < 0;
        }
        if (x.size() != y.size()) return x.size() < y.size();
        return x.tag < y.tag;
    };
    RadixSort(items_.data(), items_.data() + items_.size(), 0, less);
}

void EntrySorter::SpillBatch() {
    SortBatch();
    if (!file_) file_ = std::make_unique<SpillFile>(settings_);
    // A batch that begins at or after the end of the run before continues it: input
    // in order (an autonumber index's entries) is read back without a merge.
    if (open_ && !open_->Follows(Read(items_.front()), items_.front().tag)) CloseRun();
    if (!open_)
        open_ = std::make_unique<RunWriter>(*file_, std::min(kMaxSpillBufferBytes, settings_.memory_bytes / 16));
    for (const Item& item : items_) open_->Add(Read(item), item.tag);
    // Records that go on in order need no batch at all.
    direct_ = in_order_;
    ClearBatch();
}

void EntrySorter::CloseRun() {
    if (open_) runs_.push_back(open_->Finish());
    open_.reset();
    direct_ = false;
}

void EntrySorter::ClearBatch() {
    arena_.clear();
    items_.clear();
    shared_ = 0;
    in_order_ = true;
    packed_ = false;
}

void EntrySorter::Finish() {
    assert(!finished_);
    finished_ = true;
    if (!file_) {
        SortBatch();
        return;
    }
    if (!items_.empty()) SpillBatch();
    CloseRun();
    decltype(arena_)().swap(arena_);
    decltype(items_)().swap(items_);
    const std::size_t fan_in =
        std::clamp(settings_.memory_bytes / kMergeBufferBytes, kMinFanIn, kMaxFanIn);
    while (runs_.size() > fan_in) {
        // The first merges take just enough runs that the last one reads fan_in:
        // records merged before the last merge are written and read once more.
        const std::size_t take = std::min(fan_in, runs_.size() - fan_in + 1);
        Merger m(*file_, std::span<const Run>(runs_.data(), take), BufferBytes(take + 1));
        RunWriter w(*file_, BufferBytes(take + 1));
        std::span<const std::uint8_t> bytes;
        for (std::uint64_t tag; m.Next(&bytes, &tag);) w.Add(bytes, tag);
        runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(take));
        runs_.push_back(w.Finish());
    }
    merger_ = std::make_unique<Merger>(*file_, runs_, BufferBytes(runs_.size()));
}

bool EntrySorter::Next(std::span<const std::uint8_t>* bytes, std::uint64_t* tag) {
    assert(finished_);
    if (merger_) return merger_->Next(bytes, tag);
    if (read_ >= items_.size()) return false;
    const Item& item = items_[read_++];
    *bytes = Read(item);
    *tag = item.tag;
    return true;
}

void EntrySorter::Rewind() {
    assert(finished_);
    read_ = 0;
    if (!file_) return;
    merger_.reset();  // its buffers go before the new ones come
    merger_ = std::make_unique<Merger>(*file_, runs_, BufferBytes(runs_.size()));
}

std::size_t EntrySorter::BufferBytes(std::size_t buffers) const {
    return std::max(kMinBufferBytes, settings_.memory_bytes / buffers);
}

void EntrySorter::Reset() {
    merger_.reset();
    open_.reset();
    direct_ = false;
    file_.reset();
    decltype(arena_)().swap(arena_);
    decltype(items_)().swap(items_);
    runs_.clear();
    shared_ = 0;
    in_order_ = true;
    packed_ = false;
    count_ = 0;
    read_ = 0;
    finished_ = false;
}

}  // namespace jet
