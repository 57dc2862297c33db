#include "jet/compact/index_rewriter.h"

#include <algorithm>
#include <vector>

#include "jet/compact/put_bytes.h"
#include "jet/index.h"

namespace jet {

void CopyIndexEntries(PageFile& source, std::uint32_t root, std::uint32_t source_tdef,
                      const RowMap& rows, const IdMap* ids, IndexTreeBuilder& tree) {
    const std::string which = "an index of table page " + std::to_string(source_tdef);
    // Entries of Id indexes (system tables, small) are kept to be sorted: Ids keep
    // their order when they move, so this is a safeguard.
    std::vector<std::vector<std::uint8_t>> kept;
    std::vector<std::uint8_t> entry, last;
    auto mapped = [&](const IndexEntry& e) {
        std::optional<RowAddr> to = rows.Find(e.row);
        if (!to)
            ThrowFormat(which + " points at row " + e.row.ToString() + ", which holds no live row");
        entry.assign(e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(e.key_size));
        if (ids) MapLeadingIdKey(entry, *ids);
        entry.resize(e.key_size + kIndexRowPointerSize);
        PutBE24(entry, e.key_size, to->page);
        entry[e.key_size + kIndexEntryRowAt] = to->row;
    };
    IndexWalk walk = WalkIndex(source, root, source_tdef, [&](const IndexEntry& e, std::uint32_t) {
        mapped(e);
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
    });
    if (!walk.problems.empty()) ThrowFormat(which + " is damaged: " + walk.problems.front().text);
    if (!ids) return;
    std::sort(kept.begin(), kept.end());
    if (std::adjacent_find(kept.begin(), kept.end()) != kept.end())
        ThrowFormat(which + " lists the same row twice");
    for (const auto& e : kept) tree.Add(e);
}

}  // namespace jet
