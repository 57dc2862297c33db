#include "jet/compact/index_rewriter.h"

#include <algorithm>

#include "jet/compact/put_bytes.h"
#include "jet/index.h"

namespace jet {

std::vector<std::vector<std::uint8_t>> MappedIndexEntries(PageFile& source, std::uint32_t root,
                                                          std::uint32_t source_tdef,
                                                          const RowMap& rows, const IdMap* ids) {
    IndexWalk walk = WalkIndex(source, root, source_tdef);
    if (!walk.problems.empty())
        ThrowFormat("an index of table page " + std::to_string(source_tdef) +
                    " is damaged: " + walk.problems.front().text);
    std::vector<std::vector<std::uint8_t>> out;
    out.reserve(walk.leaf_entries.size());
    for (const IndexEntry& e : walk.leaf_entries) {
        const RowAddr* to = rows.Find(e.row);
        if (!to)
            ThrowFormat("an index of table page " + std::to_string(source_tdef) +
                        " points at row " + e.row.ToString() + ", which holds no live row");
        std::vector<std::uint8_t> b(e.bytes.begin(),
                                    e.bytes.begin() + static_cast<std::ptrdiff_t>(e.key_size));
        if (ids) MapLeadingIdKey(b, *ids);
        b.resize(e.key_size + kIndexRowPointerSize);
        PutBE24(b, e.key_size, to->page);
        b[e.key_size + kIndexEntryRowAt] = to->row;
        out.push_back(std::move(b));
    }
    // Row pointers grow with the old ones and Ids keep their order, so this is a
    // safeguard; equal entries would mean two entries for one row.
    if (!std::is_sorted(out.begin(), out.end())) std::sort(out.begin(), out.end());
    if (std::adjacent_find(out.begin(), out.end()) != out.end())
        ThrowFormat("an index of table page " + std::to_string(source_tdef) +
                    " lists the same row twice");
    return out;
}

}  // namespace jet
