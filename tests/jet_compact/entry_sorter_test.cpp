// The sort of byte strings with tags: the order std::sort gives, whatever the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "jet/compact/entry_sorter.h"
#include "support.h"

namespace compacttest {
namespace {

struct Rec {
    std::vector<std::uint8_t> bytes;
    std::uint64_t tag = 0;
    bool operator<(const Rec& o) const { return std::tie(bytes, tag) < std::tie(o.bytes, o.tag); }
    bool operator==(const Rec& o) const = default;
};

// Records that meet every branch of the comparison: empty ones, short ones that are
// prefixes of others or differ only in trailing zeros, ones longer than the 16 bytes
// compared at once and alike in those, a few longer than a merge's read buffer, equal
// bytes under other tags. Each begins with `common`.
std::vector<Rec> Records(std::size_t n, std::uint32_t seed, std::vector<std::uint8_t> common = {}) {
    std::mt19937_64 rng(seed);
    std::vector<Rec> v;
    for (std::size_t i = 0; i < n; ++i) {
        Rec r{common, rng() % 4 ? rng() % 1000 : rng()};
        const auto kind = rng() % 8;
        if (kind == 0 && !v.empty()) {
            r.bytes = v[rng() % v.size()].bytes;
        } else if (kind == 1) {
            r.bytes.resize(r.bytes.size() + rng() % 4,
                           static_cast<std::uint8_t>(rng() % 2 ? 0 : 0xFF));
        } else if (kind == 2) {
            r.bytes.insert(r.bytes.end(), 14, 0x41);
            for (auto more = rng() % (rng() % 2 ? 5 : 20); more; --more)
                r.bytes.push_back(static_cast<std::uint8_t>(rng() % 2));
        } else {
            const std::size_t len = i % 997 == 5 ? 5000 + rng() % 5000 : 9 + rng() % 12;
            for (std::size_t k = 0; k < len; ++k)
                r.bytes.push_back(static_cast<std::uint8_t>(rng() % (k < 3 ? 3 : 256)));
        }
        v.push_back(std::move(r));
    }
    return v;
}

std::vector<Rec> Drain(jet::EntrySorter& s, std::size_t limit = SIZE_MAX) {
    std::vector<Rec> got;
    std::span<const std::uint8_t> b;
    std::uint64_t tag = 0;
    while (got.size() < limit && s.Next(&b, &tag)) got.push_back({{b.begin(), b.end()}, tag});
    return got;
}

// In memory, in a few runs, and in so many runs (one record each at a one-byte
// budget) that they are merged in rounds; read again from the start after a partial
// read. The spill file exists only while the sorter needs it.
TEST(EntrySorter, SameOrderAsStdSortAtAnyBudget) {
    Scratch s;
    std::vector<std::vector<Rec>> inputs = {
        {}, Records(1, 1), Records(3000, 2), Records(2000, 3, std::vector<std::uint8_t>(20, 0x7F))};
    std::vector<Rec> ordered = Records(3000, 4);
    std::sort(ordered.begin(), ordered.end());
    inputs.push_back(ordered);  // added in order
    std::swap(ordered[100], ordered[2900]);
    inputs.push_back(ordered);  // in order but for one pair
    std::sort(ordered.begin(), ordered.end(), [](const Rec& a, const Rec& b) {
        return a.bytes != b.bytes ? a.bytes < b.bytes : a.tag > b.tag;
    });
    inputs.push_back(ordered);  // in order but for the tags of equal bytes
    // Blocks in order, each shuffled: sorted batches that may continue the run before
    // (a block of ties whose tags go down must not).
    std::mt19937_64 rng(5);
    for (int tags_down = 0; tags_down < 2; ++tags_down) {
        std::vector<Rec> blocks = tags_down ? ordered : inputs[4];
        for (std::size_t at = 0, len = 0; at < blocks.size(); at += len) {
            len = std::min<std::size_t>(1 + rng() % 150, blocks.size() - at);
            const auto block = blocks.begin() + static_cast<std::ptrdiff_t>(at);
            std::shuffle(block, block + static_cast<std::ptrdiff_t>(len), rng);
        }
        inputs.push_back(blocks);
    }
    // Index entries: a few keys of many rows each, a key's entries alike but for the
    // row's four bytes at the end.
    std::vector<Rec> entries;
    for (std::size_t i = 0; i < 3000; ++i) {
        Rec r{{}, rng() % 1000};
        const std::uint64_t key = rng() % 16;
        r.bytes.assign(key, static_cast<std::uint8_t>(0x40 + key));
        for (int k = 0; k < 4; ++k) r.bytes.push_back(static_cast<std::uint8_t>(rng() % (k == 0 ? 2 : 256)));
        entries.push_back(std::move(r));
    }
    inputs.push_back(entries);
    for (std::size_t budget : {std::size_t{1} << 24, std::size_t{20000}, std::size_t{1}}) {
        for (std::size_t in = 0; in < inputs.size(); ++in) {
            const std::vector<Rec>& input = inputs[in];
            std::vector<Rec> expect = input;
            std::sort(expect.begin(), expect.end());
            const std::string what =
                "budget " + std::to_string(budget) + " input " + std::to_string(in);
            jet::SpillSettings settings;
            settings.memory_bytes = budget;
            settings.name_base = s.dir() / ".out.mdb.compact-x";
            {
                jet::EntrySorter sorter(settings);
                for (const Rec& r : input) sorter.Add(r.bytes, r.tag);
                sorter.Finish();
                EXPECT_EQ(sorter.size(), input.size()) << what;
                EXPECT_EQ(sorter.spilled(), budget < (1u << 24) && input.size() > 1) << what;
                EXPECT_EQ(s.Listing().size(), sorter.spilled() ? 1u : 0u) << what;
                ASSERT_EQ(Drain(sorter), expect) << what;
                sorter.Rewind();
                ASSERT_EQ(Drain(sorter, input.size() / 2),
                          std::vector(expect.begin(), expect.begin() + input.size() / 2))
                    << what;
                sorter.Rewind();
                ASSERT_EQ(Drain(sorter), expect) << what << " read again";
                sorter.Reset();
                EXPECT_TRUE(s.Listing().empty()) << "Reset leaves the spill file";
                for (const Rec& r : input)
                    sorter.Add(r.bytes, r.tag);  // reused, then dropped unread
            }
            EXPECT_TRUE(s.Listing().empty()) << "a spill file outlived its sorter";
        }
    }
}

}  // namespace
}  // namespace compacttest
