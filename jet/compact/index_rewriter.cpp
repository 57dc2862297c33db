#include "jet/compact/index_rewriter.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "jet/compact/put_bytes.h"
#include "jet/index.h"

namespace jet {
namespace {

[[noreturn]] void ThrowNoLiveRow(const std::string& which, RowAddr row) {
    ThrowFormat(which + " points at row " + row.ToString() + ", which holds no live row");
}

}  // namespace

void CopyIndexEntries(PageFile& source, std::uint32_t root, std::uint32_t source_tdef,
                      const RowMap& rows, const IdMap* ids, IndexTreeBuilder& tree,
                      BackgroundIndexWalk* background,
                      const std::function<void(std::size_t entries)>& progress,
                      const DroppedEntryFn* drop_missing) {
    // Told in steps: often enough for a display, rarely enough to cost nothing.
    constexpr std::size_t kProgressStep = 4096;
    std::size_t untold = 0;
    const std::string which = "an index of table page " + std::to_string(source_tdef);
    // Entries of Id indexes (system tables, small) are kept to be sorted: Ids keep
    // their order when they move, so this is a safeguard.
    std::vector<std::vector<std::uint8_t>> kept;
    std::vector<std::uint8_t> entry;
    // `to`: the entry's new row address.
    auto add = [&](Bytes key, RowAddr to) {
        if (progress && ++untold == kProgressStep) {
            progress(untold);
            untold = 0;
        }
        if (!ids) {
            // New row pointers grow with the old ones, so the order holds; equal
            // entries would mean two entries for one row.
            if (!tree.AddLeaf(key, to))
                ThrowFormat(which + " lists the same row twice or is out of order");
            return;
        }
        entry.resize(key.size() + kIndexRowPointerSize);
        std::copy(key.begin(), key.end(), entry.begin());
        MapLeadingIdKey(std::span(entry).first(key.size()), *ids);
        PutBE24(entry, key.size(), to.page);
        entry[key.size() + kIndexEntryRowAt] = to.row;
        kept.push_back(entry);
    };
    // An entry whose row is not among the rows: refused, or left out.
    auto missing = [&](RowAddr row, Bytes key) {
        if (!drop_missing) ThrowNoLiveRow(which, row);
        if (*drop_missing) (*drop_missing)(row, key);
    };
    IndexWalk walk;
    if (background) {
        // A fault ends this (a bad entry throws): the worker then stops and idles, and
        // what it planned is dropped. A walk taken to its end leaves the walks planned
        // after it running.
        struct StopOnFault {
            BackgroundIndexWalk& w;
            bool done = false;
            ~StopOnFault() {
                if (!done) w.Abandon();
            }
        } stop_on_fault{*background};
        // The walk was planned ahead (a table's indexes are read while its rows are
        // repacked), or starts now. The worker looks the new row addresses up as well
        // once it has the map, or leaves that here.
        if (!background->planned())
            background->Start(root, source_tdef, &rows, drop_missing != nullptr);
        else if (background->next_root() != root)
            throw std::logic_error("index walks taken out of the order they were planned in");
        EntryBatch batch;
        while (background->Next(batch)) {
            batch.MapRows(rows);
            std::size_t m = 0;  // in batch.missing
            for (std::size_t i = 0; i < batch.size(); ++i) {
                if (m < batch.missing.size() && batch.missing[m] == i) {
                    ++m;
                    missing(batch.rows[i], batch.key(i));
                    continue;
                }
                add(batch.key(i), batch.rows[i]);
            }
        }
        walk = background->result();
        stop_on_fault.done = true;
    } else {
        walk = WalkIndex(source, root, source_tdef, [&](const IndexEntry& e, std::uint32_t) {
            const Bytes key = Bytes(e.bytes).first(e.key_size);
            if (std::optional<RowAddr> to = rows.Find(e.row))
                add(key, *to);
            else
                missing(e.row, key);
        });
    }
    if (!walk.problems.empty()) ThrowFormat(which + " is damaged: " + walk.problems.front().text);
    if (ids) {
        std::sort(kept.begin(), kept.end());
        if (std::adjacent_find(kept.begin(), kept.end()) != kept.end())
            ThrowFormat(which + " lists the same row twice");
        for (const auto& e : kept) tree.Add(e);
    }
    if (untold) progress(untold);
}

}  // namespace jet
