#include "jet/compact/index_rewriter.h"

#include <algorithm>
#include <vector>

#include "jet/compact/put_bytes.h"
#include "jet/index.h"

namespace jet {

void CopyIndexEntries(PageFile& source, std::uint32_t root, std::uint32_t source_tdef,
                      const RowMap& rows, const IdMap* ids, IndexTreeBuilder& tree,
                      BackgroundIndexWalk* background) {
    const std::string which = "an index of table page " + std::to_string(source_tdef);
    // Entries of Id indexes (system tables, small) are kept to be sorted: Ids keep
    // their order when they move, so this is a safeguard.
    std::vector<std::vector<std::uint8_t>> kept;
    std::vector<std::uint8_t> entry, last;
    auto add = [&](Bytes key, RowAddr row) {
        std::optional<RowAddr> to = rows.Find(row);
        if (!to)
            ThrowFormat(which + " points at row " + row.ToString() + ", which holds no live row");
        // The buffer keeps its capacity from entry to entry (it swaps with `last`).
        entry.resize(key.size() + kIndexRowPointerSize);
        std::copy(key.begin(), key.end(), entry.begin());
        if (ids) MapLeadingIdKey(std::span(entry).first(key.size()), *ids);
        PutBE24(entry, key.size(), to->page);
        entry[key.size() + kIndexEntryRowAt] = to->row;
        if (ids) {
            kept.push_back(entry);
            return;
        }
        // New row pointers grow with the old ones, so the order holds; equal entries
        // would mean two entries for one row.
        if (!last.empty() &&
            !std::lexicographical_compare(last.begin(), last.end(), entry.begin(), entry.end()))
            ThrowFormat(which + " lists the same row twice or is out of order");
        tree.Add(entry);
        last.swap(entry);
    };
    IndexWalk walk;
    if (background) {
        // Whatever ends this (a bad entry throws), the worker stops and idles.
        struct Idle {
            BackgroundIndexWalk& w;
            ~Idle() { w.Abandon(); }
        } idle{*background};
        background->Start(root, source_tdef);
        EntryBatch batch;
        while (background->Next(batch))
            for (std::size_t i = 0; i < batch.size(); ++i) add(batch.key(i), batch.rows[i]);
        walk = background->result();
    } else {
        walk = WalkIndex(source, root, source_tdef, [&](const IndexEntry& e, std::uint32_t) {
            add(Bytes(e.bytes).first(e.key_size), e.row);
        });
    }
    if (!walk.problems.empty()) ThrowFormat(which + " is damaged: " + walk.problems.front().text);
    if (!ids) return;
    std::sort(kept.begin(), kept.end());
    if (std::adjacent_find(kept.begin(), kept.end()) != kept.end())
        ThrowFormat(which + " lists the same row twice");
    for (const auto& e : kept) tree.Add(e);
}

}  // namespace jet
