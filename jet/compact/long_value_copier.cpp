#include "jet/compact/long_value_copier.h"

#include <cassert>
#include <unordered_set>
#include <vector>

#include "jet/compact/put_bytes.h"

namespace jet {

RowAddr CopyLongValue(PageFile& file, const LongValueHeader& header, RowPageWriter& out,
                      const ReadLimits& limits, std::uint32_t upcoming_page) {
    assert(header.kind != LongValueHeader::Kind::Inline);
    if (header.length > limits.max_long_value) ThrowFormat("long value is larger than allowed");
    if (header.kind == LongValueHeader::Kind::Single) {
        Page holder;
        Bytes b = LvalRowBytes(file, header.first, holder);
        if (b.size() < header.length)
            ThrowFormat("long value at " + header.first.ToString() +
                        " is shorter than its header says");
        return out.Place(b);
    }
    // A chain: every row starts with the address of the next one.
    std::vector<std::vector<std::uint8_t>> rows;
    std::unordered_set<std::uint32_t> seen;
    std::size_t have = 0;
    RowAddr at = header.first;
    while (have < header.length || rows.empty()) {
        if (at.null()) ThrowFormat("long-value chain ends early");
        if (!seen.insert(at.Packed()).second)
            ThrowFormat("long-value chain loops at " + at.ToString());
        if (seen.size() > limits.max_chain_rows) ThrowFormat("long-value chain is too long");
        Page holder;
        Bytes b = LvalRowBytes(file, at, holder);
        if (b.size() < kChainDataAt)
            ThrowFormat("long-value chain row " + at.ToString() + " is too short");
        have += b.size() - kChainDataAt;
        rows.emplace_back(b.begin(), b.end());
        at = UnpackRowPtr(U32(b, kChainNextAt));
    }
    std::vector<std::size_t> lengths;
    for (const auto& r : rows) lengths.push_back(r.size());
    std::vector<RowAddr> places = out.Plan(lengths, upcoming_page);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        RowAddr next = i + 1 < rows.size() ? places[i + 1] : RowAddr{};
        PutU32(rows[i], kChainNextAt, i + 1 < rows.size() ? next.Packed() : 0);
        RowAddr got = out.Place(rows[i]);
        assert(got == places[i]);
        (void)got;
    }
    return places.front();
}

}  // namespace jet
