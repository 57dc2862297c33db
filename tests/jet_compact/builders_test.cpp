// Pages the compactor builds, read back through the reader: data pages, index
// trees, usage maps, and the numbering rules of the layout.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <random>

#include "jet/compact/data_page_builder.h"
#include "jet/compact/background_index_walk.h"
#include "jet/compact/external_sorter.h"
#include "jet/compact/index_rewriter.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/compact/layout_planner.h"
#include "jet/compact/long_value_packer.h"
#include "jet/compact/put_bytes.h"
#include "jet/compact/usage_map_builder.h"
#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/usage_map.h"
#include "support.h"

namespace compacttest {
namespace {

// An in-memory file: the header page of a real sample, then pages set by tests.
class Image {
  public:
    explicit Image(jet::Format f)
        : layout_(jet::PageLayout::For(f)),
          bytes_(ReadAll(CorpusDir() /
                         (f == jet::Format::Jet3 ? "jet3/testV1997.mdb" : "jet4/testV2000.mdb"))) {
        bytes_.resize(layout_.page_size * 2);  // header and page 1
    }
    const jet::PageLayout& layout() const { return layout_; }
    void Set(std::uint32_t page, const std::vector<std::uint8_t>& p) {
        ASSERT_EQ(p.size(), layout_.page_size);
        std::size_t at = std::size_t{page} * layout_.page_size;
        if (bytes_.size() < at + p.size()) bytes_.resize(at + p.size());
        std::copy(p.begin(), p.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    std::unique_ptr<jet::PageFile> Open() const { return jet::PageFile::FromMemory(bytes_); }

  private:
    jet::PageLayout layout_;
    std::vector<std::uint8_t> bytes_;
};

class Builders : public ::testing::TestWithParam<jet::Format> {};

TEST_P(Builders, DataPageHoldsRowsUntilFullWithTheRightFreeSpace) {
    Image img(GetParam());
    const auto& l = img.layout();
    jet::DataPageBuilder b(l, 0x1234);
    std::vector<std::vector<std::uint8_t>> rows;
    std::mt19937 rng(7);
    while (true) {
        std::vector<std::uint8_t> row(1 + rng() % 200);
        for (auto& c : row) c = static_cast<std::uint8_t>(rng());
        if (!b.Fits(row.size())) break;
        EXPECT_EQ(b.Add(row), rows.size());
        rows.push_back(row);
    }
    EXPECT_LT(b.free_space(), 202u + 2);  // full means the next row would not fit
    img.Set(2, b.Finish());
    EXPECT_TRUE(b.empty());
    auto file = img.Open();
    jet::Page p = file->Read(2);
    jet::DataPageInfo info = jet::ReadDataPage(p.bytes(), l.jet3);
    ASSERT_TRUE(info.slots_valid) << info.first_problem;
    EXPECT_EQ(info.owner, 0x1234u);
    ASSERT_EQ(info.slots.size(), rows.size());
    EXPECT_EQ(info.free_space, jet::ComputedFreeSpace(info, l.page_size, l.jet3));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(info.slots[i].live());
        jet::Bytes got = jet::RowBytes(p.bytes(), l.jet3, static_cast<unsigned>(i));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), rows[i].begin(), rows[i].end())) << i;
    }
}

TEST_P(Builders, DataPageNeverHoldsMoreRowsThanAByteCanNumber) {
    Image img(GetParam());
    jet::DataPageBuilder b(img.layout(), 1);
    std::vector<std::uint8_t> tiny{1};
    std::size_t n = 0;
    while (b.Fits(tiny.size())) b.Add(tiny), ++n;
    EXPECT_LE(n, 255u);
    EXPECT_GT(n, 100u);
}

// A value's 12-byte header as a row stores it.
std::vector<std::uint8_t> LongValueField(std::uint32_t length, bool single, jet::RowAddr first) {
    std::vector<std::uint8_t> f(jet::kLongValueHeaderSize, 0);
    jet::PutU32(f, jet::kLongValueLengthAt, length | (single ? jet::kLongValueSingle : 0));
    jet::PutU32(f, jet::kLongValuePointerAt, first.Packed());
    return f;
}

TEST_P(Builders, LongValuesPackFirstFitDecreasingAndReadBackWhole) {
    Image img(GetParam());
    const auto& l = img.layout();
    const std::size_t room = l.page_size - l.DataHeaderSize();
    // Two large and two small single rows, large first: next-fit needs three pages
    // (the second small row no longer fits beside the second large one), while
    // first-fit-decreasing puts one small row beside each large one.
    const std::size_t big = room / 2 + 40, small = room / 2 - 60;
    std::vector<std::vector<std::uint8_t>> values;
    for (std::size_t n : {big, big, small, small}) {
        values.emplace_back(n);
        for (auto& c : values.back()) c = static_cast<std::uint8_t>(values.size() * 31 + n);
    }
    // Source pages 2-5 each hold one of them; page 6 a chain of three rows.
    std::vector<std::vector<std::uint8_t>> fields;
    for (std::uint32_t i = 0; i < 4; ++i) {
        jet::DataPageBuilder b(l, jet::kLvalOwner);
        b.Add(values[i]);
        img.Set(2 + i, b.Finish());
        fields.push_back(
            LongValueField(static_cast<std::uint32_t>(values[i].size()), true, {2 + i, 0}));
    }
    std::vector<std::uint8_t> chain_data;
    {
        jet::DataPageBuilder b(l, jet::kLvalOwner);
        std::vector<std::vector<std::uint8_t>> parts{std::vector<std::uint8_t>(300, 7),
                                                     std::vector<std::uint8_t>(500, 8),
                                                     std::vector<std::uint8_t>(90, 9)};
        for (std::size_t k = 0; k < parts.size(); ++k) {
            std::vector<std::uint8_t> row(jet::kChainDataAt);
            std::uint32_t next = k + 1 < parts.size()
                                     ? jet::RowAddr{6, static_cast<std::uint8_t>(k + 1)}.Packed()
                                     : 0;
            jet::PutU32(row, jet::kChainNextAt, next);
            row.insert(row.end(), parts[k].begin(), parts[k].end());
            b.Add(row);
            chain_data.insert(chain_data.end(), parts[k].begin(), parts[k].end());
        }
        img.Set(6, b.Finish());
    }
    auto source = img.Open();
    const jet::ReadLimits limits;

    jet::LongValuePacker singles(l);
    for (const auto& f : fields) singles.AddValue(*source, jet::ParseLongValueHeader(f), limits);
    EXPECT_EQ(singles.Pack(), 2u);

    jet::LongValuePacker mixed(l);
    std::vector<std::size_t> handles;
    for (const auto& f : fields)
        handles.push_back(mixed.AddValue(*source, jet::ParseLongValueHeader(f), limits));
    auto chain_field = LongValueField(static_cast<std::uint32_t>(chain_data.size()), false, {6, 0});
    handles.push_back(mixed.AddValue(*source, jet::ParseLongValueHeader(chain_field), limits));
    const std::uint32_t pages = mixed.Pack(), first = 10;
    EXPECT_EQ(pages, 3u);  // the chain's rows share the third page
    std::vector<std::uint32_t> written;
    mixed.WritePages(*source, first, [&](std::uint32_t page, std::vector<std::uint8_t> bytes) {
        written.push_back(page);
        img.Set(page, bytes);
    });
    ASSERT_EQ(written.size(), pages);
    EXPECT_EQ(written.front(), first);
    EXPECT_EQ(mixed.free_space().size(), pages);

    auto out = img.Open();
    jet::TableDef none;
    jet::TableReader reader(*out, none);
    values.push_back(chain_data);
    fields.push_back(chain_field);
    for (std::size_t v = 0; v < values.size(); ++v) {
        auto f = fields[v];
        ASSERT_EQ(handles[v], v);
        jet::RowAddr at = mixed.NextAddress(first);
        jet::PutU32(f, jet::kLongValuePointerAt, at.Packed());
        EXPECT_GE(at.page, first);
        EXPECT_EQ(reader.ReadLongValue(f).data, values[v]) << v;
    }

    // A row that no longer reads as planned (shorter now) is refused when written.
    jet::DataPageBuilder shorter(l, jet::kLvalOwner);
    shorter.Add(std::span(values[1]).first(values[1].size() - 1));
    img.Set(3, shorter.Finish());
    try {
        singles.WritePages(*img.Open(), first, [](std::uint32_t, std::vector<std::uint8_t>) {});
        ADD_FAILURE() << "a changed long-value row was copied";
    } catch (const jet::FormatError& e) {
        EXPECT_NE(std::string(e.what()).find("long-value row 3:0 changed while it was copied"),
                  std::string::npos) << e.what();
    }
}

// A column larger than a packing group: values added early stay on pages before
// values added much later (a reader going through the rows walks the pages forward),
// every value reads back whole, and the groups still pack tighter than next-fit.
TEST(LongValuePacker, LargeColumnPacksInGroupsInRowOrder) {
    Image img(jet::Format::Jet3);  // small pages keep the image small
    const auto& l = img.layout();
    const std::size_t room = l.page_size - l.DataHeaderSize();
    const std::size_t group_bytes = std::size_t{jet::LongValuePacker::kGroupPages} * room;
    std::mt19937 rng(11);
    std::vector<std::vector<std::uint8_t>> values, fields;
    std::size_t total = 0, next_fit = 0, next_fit_free = 0;
    std::uint32_t page = 2;
    jet::DataPageBuilder b(l, jet::kLvalOwner);
    while (total < group_bytes * 3 / 2) {
        std::vector<std::uint8_t> v(room / 5 + rng() % (room / 6));
        for (auto& c : v) c = static_cast<std::uint8_t>(rng());
        if (!b.Fits(v.size())) img.Set(page++, b.Finish());
        const jet::RowAddr at{page, b.Add(v)};
        fields.push_back(LongValueField(static_cast<std::uint32_t>(v.size()), true, at));
        total += v.size() + jet::kRowSlotSize;
        if (v.size() + jet::kRowSlotSize > next_fit_free) ++next_fit, next_fit_free = room;
        next_fit_free -= v.size() + jet::kRowSlotSize;
        values.push_back(std::move(v));
    }
    img.Set(page++, b.Finish());
    auto source = img.Open();
    jet::LongValuePacker packer(l);
    for (const auto& f : fields) packer.AddValue(*source, jet::ParseLongValueHeader(f), {});
    const std::uint32_t pages = packer.Pack(), first = page;
    EXPECT_LT(pages, next_fit);
    packer.WritePages(*source, first, [&](std::uint32_t p, std::vector<std::uint8_t> bytes) {
        img.Set(p, bytes);
    });
    auto out = img.Open();
    jet::TableDef none;
    jet::TableReader reader(*out, none);
    std::vector<std::uint32_t> at;
    for (std::size_t v = 0; v < values.size(); ++v) {
        jet::RowAddr a = packer.NextAddress(first);
        at.push_back(a.page);
        jet::PutU32(fields[v], jet::kLongValuePointerAt, a.Packed());
        ASSERT_EQ(reader.ReadLongValue(fields[v]).data, values[v]) << v;
    }
    // The first quarter of the values against the last quarter.
    const std::size_t quarter = values.size() / 4;
    EXPECT_LT(*std::max_element(at.begin(), at.begin() + quarter),
              *std::min_element(at.end() - quarter, at.end()));
}

// The external sort gives what a stable in-memory sort gives, whatever its budget:
// in memory, in a few runs, and in so many runs that they are merged in rounds. Its
// spill files exist only while it needs them.
TEST(ExternalSorter, SameOrderAtAnyBudgetAndNoFileLeft) {
    struct Rec {
        std::uint32_t key = 0, added = 0;
        bool operator<(const Rec& o) const { return key < o.key; }  // ties: added order
    };
    std::mt19937 rng(7);
    std::vector<Rec> input;
    for (std::uint32_t i = 0; i < 5000; ++i) input.push_back({static_cast<std::uint32_t>(rng() % 300), i});
    std::vector<Rec> expect = input;
    std::stable_sort(expect.begin(), expect.end());
    Scratch s;
    for (std::size_t budget : {std::size_t{1} << 20, std::size_t{8000}, std::size_t{1}}) {
        jet::SpillSettings settings;
        settings.memory_bytes = budget;
        settings.name_base = s.dir() / ".out.mdb.compact-x";
        {
            jet::ExternalSorter<Rec> sorter(settings);
            for (const Rec& r : input) sorter.Add(r);
            sorter.Finish();
            EXPECT_EQ(sorter.spilled(), budget < input.size() * sizeof(Rec)) << budget;
            EXPECT_EQ(s.Listing().size(), sorter.spilled() ? 1u : 0u) << budget;
            std::vector<Rec> got;
            for (Rec r; sorter.Next(&r);) got.push_back(r);
            ASSERT_EQ(got.size(), expect.size()) << budget;
            for (std::size_t i = 0; i < got.size(); ++i)
                ASSERT_EQ(got[i].added, expect[i].added) << "budget " << budget << " at " << i;
            sorter.Reset();
            EXPECT_TRUE(s.Listing().empty()) << "Reset leaves the spill file";
            for (const Rec& r : input) sorter.Add(r);  // reused, then dropped unread
        }
        EXPECT_TRUE(s.Listing().empty()) << "a spill file outlived its sorter";
    }
}

// Keys with a long shared beginning, as text keys have, so pages use a prefix.
std::vector<std::vector<std::uint8_t>> SortedEntries(std::size_t n) {
    std::vector<std::vector<std::uint8_t>> v;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::uint8_t> e{0x7F, 0x60, 0x61, 0x62, 0x63};
        for (int k = 3; k >= 0; --k) e.push_back(static_cast<std::uint8_t>(i >> (8 * k)));
        e.push_back(0x00);
        e.resize(e.size() + 4);
        jet::PutBE24(e, e.size() - 4, static_cast<std::uint32_t>(100 + i / 50));
        e.back() = static_cast<std::uint8_t>(i % 50);
        v.push_back(e);
    }
    return v;
}

TEST_P(Builders, IndexTreeWalksBackInOrderAcrossLevels) {
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{300}, std::size_t{40000}}) {
        Image img(GetParam());
        auto entries = SortedEntries(n);
        std::uint32_t first = 5;
        jet::IndexTreeBuilder tb(
            img.layout(), 2, first,
            [&](std::uint32_t page, std::vector<std::uint8_t> bytes) { img.Set(page, bytes); });
        for (const auto& e : entries) tb.Add(e);
        auto tree = tb.Finish();
        auto file = img.Open();
        jet::IndexWalk w = jet::WalkIndex(*file, tree.root, 2);
        for (const auto& p : w.problems) ADD_FAILURE() << n << " entries: " << p.text;
        EXPECT_EQ(w.pages.size(), tree.page_count);
        ASSERT_EQ(w.leaf_entries.size(), n);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(w.leaf_entries[i].bytes, entries[i]) << i;
        if (n < 40000) continue;
        // A large index has node pages, and pages share prefixes that stop before
        // the row pointer.
        bool node = false, prefix = false;
        jet::IndexPage reused;  // read into page after page, as walks do
        for (std::uint32_t pg : w.pages) {
            jet::IndexPage p = jet::ReadIndexPage(*file, pg);
            jet::ReadIndexPage(*file, pg, reused);
            ASSERT_EQ(reused.entries.size(), p.entries.size());
            for (std::size_t k = 0; k < p.entries.size(); ++k) {
                EXPECT_EQ(reused.entries[k].bytes, p.entries[k].bytes);
                EXPECT_EQ(reused.entries[k].child, p.entries[k].child);
            }
            node |= !p.leaf();
            prefix |= p.prefix_size > 0;
            for (const auto& e : p.entries) EXPECT_LE(p.prefix_size, e.key_size);
            EXPECT_EQ(p.free_space,
                      img.layout().page_size - img.layout().index.first_entry - p.used_bytes);
        }
        EXPECT_TRUE(node);
        EXPECT_TRUE(prefix);
    }
}

TEST_P(Builders, IndexCopyMapsRowsAndRefusesEntriesOfNoLiveRow) {
    // A source index of 5,000 entries (rows 100:0 .. 199:49), every row moving to
    // (1000 + i / 200, i % 200); the same copy with the walk on a worker or not. An
    // entry of a deleted row in the worker's first batch of entries (handed to the
    // waiting consumer to look up) and in its last (looked up by the worker).
    Image img(GetParam());
    const auto entries = SortedEntries(5000);
    jet::IndexTreeBuilder source(img.layout(), 2, 5, [&](std::uint32_t page, std::vector<std::uint8_t> b) {
        img.Set(page, b);
    });
    for (const auto& e : entries) source.Add(e);
    const std::uint32_t root = source.Finish().root;
    auto new_addr = [](std::size_t i) {
        return jet::RowAddr{static_cast<std::uint32_t>(1000 + i / 200), static_cast<std::uint8_t>(i % 200)};
    };
    for (bool background : {false, true}) {
        for (std::size_t missing : {std::size_t{5000}, std::size_t{2500}, std::size_t{4500}}) {  // 5000: none
            SCOPED_TRACE(std::to_string(background) + " " + std::to_string(missing));
            jet::RowMap rows;
            for (std::size_t i = 0; i < entries.size(); ++i)
                if (i != missing)
                    rows.Add({static_cast<std::uint32_t>(100 + i / 50), static_cast<std::uint8_t>(i % 50)},
                             new_addr(i));
            auto file = img.Open(), walk_file = img.Open();
            std::optional<jet::BackgroundIndexWalk> walker;
            if (background) walker.emplace(*walk_file);
            Image out(GetParam());
            jet::IndexTreeBuilder tree(out.layout(), 2, 5, [&](std::uint32_t page, std::vector<std::uint8_t> b) {
                out.Set(page, b);
            });
            if (missing < entries.size()) {
                try {
                    jet::CopyIndexEntries(*file, root, 2, rows, nullptr, tree, walker ? &*walker : nullptr);
                    ADD_FAILURE() << "an entry of a deleted row was copied";
                } catch (const jet::FormatError& e) {
                    const std::string row = std::to_string(100 + missing / 50) + ":0";
                    EXPECT_NE(std::string(e.what()).find("points at row " + row + ", which holds no live row"),
                              std::string::npos) << e.what();
                }
                continue;
            }
            jet::CopyIndexEntries(*file, root, 2, rows, nullptr, tree, walker ? &*walker : nullptr);
            const std::uint32_t new_root = tree.Finish().root;
            jet::IndexWalk w = jet::WalkIndex(*out.Open(), new_root, 2);
            EXPECT_TRUE(w.problems.empty());
            ASSERT_EQ(w.leaf_entries.size(), entries.size());
            for (std::size_t i = 0; i < entries.size(); ++i) {
                ASSERT_EQ(w.leaf_entries[i].row, new_addr(i)) << i;
                ASSERT_TRUE(std::equal(entries[i].begin(), entries[i].end() - 4, w.leaf_entries[i].bytes.begin()));
            }
        }
    }
}

TEST_P(Builders, IndexWalksPlannedAheadAreTakenInOrder) {
    // Two trees planned on the worker before the rows' map exists (as a table's indexes
    // are while its rows are repacked), the map given afterwards, then copied in turn;
    // the same with a row missing from the map: the first copy refuses it and drops
    // the plan, and the worker serves a new walk after that.
    Image img(GetParam());
    const auto a = SortedEntries(5000);
    auto b = SortedEntries(3000);
    for (auto& e : b) e[1] = 0x70;  // other keys, the same rows
    std::uint32_t roots[2] = {};
    std::uint32_t first = 5;
    for (int t = 0; t < 2; ++t) {
        jet::IndexTreeBuilder tree(img.layout(), 2, first, [&](std::uint32_t page, std::vector<std::uint8_t> v) {
            img.Set(page, v);
        });
        for (const auto& e : t == 0 ? a : b) tree.Add(e);
        const auto made = tree.Finish();
        roots[t] = made.root;
        first += made.page_count;
    }
    auto new_addr = [](std::size_t i) {
        return jet::RowAddr{static_cast<std::uint32_t>(1000 + i / 200), static_cast<std::uint8_t>(i % 200)};
    };
    auto map_without = [&](std::size_t missing) {
        jet::RowMap rows;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (i != missing)
                rows.Add({static_cast<std::uint32_t>(100 + i / 50), static_cast<std::uint8_t>(i % 50)}, new_addr(i));
        return rows;
    };
    auto check_copy = [&](const Image& out, std::uint32_t root, std::size_t n) {
        const jet::IndexWalk w = jet::WalkIndex(*out.Open(), root, 2);
        EXPECT_TRUE(w.problems.empty());
        ASSERT_EQ(w.leaf_entries.size(), n);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(w.leaf_entries[i].row, new_addr(i)) << i;
    };
    for (std::size_t missing : {a.size(), std::size_t{1234}}) {
        SCOPED_TRACE(missing);
        auto file = img.Open(), walk_file = img.Open();
        jet::BackgroundIndexWalk walker(*walk_file);
        const jet::RowMap rows = map_without(missing);
        Image out(GetParam());
        std::uint32_t out_first = 2;
        auto copy = [&](std::uint32_t root, const jet::RowMap& map) {
            jet::IndexTreeBuilder tree(out.layout(), 2, out_first, [&](std::uint32_t page, std::vector<std::uint8_t> v) {
                out.Set(page, v);
            });
            jet::CopyIndexEntries(*file, root, 2, map, nullptr, tree, &walker);
            const auto made = tree.Finish();
            out_first += made.page_count;
            return made.root;
        };
        walker.Plan({roots[0], roots[1]}, 2);
        EXPECT_THROW(copy(roots[1], rows), std::logic_error);  // not the walk planned next
        EXPECT_FALSE(walker.planned());                         // which drops the plan
        walker.Plan({roots[0], roots[1]}, 2);
        walker.UseRows(&rows);
        if (missing < a.size()) {
            EXPECT_THROW(copy(roots[0], rows), jet::FormatError);
            EXPECT_FALSE(walker.planned());
            const jet::RowMap all = map_without(a.size());
            check_copy(out, copy(roots[1], all), b.size());
            continue;
        }
        const std::uint32_t root_a = copy(roots[0], rows);
        EXPECT_TRUE(walker.planned());
        const std::uint32_t root_b = copy(roots[1], rows);
        EXPECT_FALSE(walker.planned());
        check_copy(out, root_a, a.size());
        check_copy(out, root_b, b.size());
    }
}

TEST_P(Builders, IndexTreeTakesLeafEntriesOnlyInStrictOrder) {
    Image img(GetParam());
    jet::IndexTreeBuilder tree(img.layout(), 2, 5, [&](std::uint32_t page, std::vector<std::uint8_t> b) {
        img.Set(page, b);
    });
    const std::vector<std::uint8_t> ab{0x7F, 0x41, 0x42}, a{0x7F, 0x41}, b{0x7F, 0x42};
    EXPECT_TRUE(tree.AddLeaf(ab, {100, 1}));
    EXPECT_FALSE(tree.AddLeaf(ab, {100, 1}));  // the same entry again
    EXPECT_FALSE(tree.AddLeaf(ab, {100, 0}));  // an earlier row of the same key
    EXPECT_FALSE(tree.AddLeaf(a, {200, 0}));   // a key that is a prefix of the last
    EXPECT_TRUE(tree.AddLeaf(ab, {100, 2}));
    // Enough entries to fill leaves: the order holds across a leaf's end as well.
    for (std::uint32_t p = 101; p < 3000; ++p) ASSERT_TRUE(tree.AddLeaf(b, {p, 0}));
    EXPECT_FALSE(tree.AddLeaf(b, {2999, 0}));
    EXPECT_FALSE(tree.AddLeaf(ab, {3000, 0}));
    EXPECT_TRUE(tree.AddLeaf(b, {3000, 0}));
    jet::IndexWalk w = jet::WalkIndex(*img.Open(), tree.Finish().root, 2);
    EXPECT_TRUE(w.problems.empty());
    EXPECT_EQ(w.leaf_entries.size(), 2u + 2899u + 1u);
}

TEST_P(Builders, UsageMapsReadBackInlineAndByReference) {
    Image img(GetParam());
    const auto& l = img.layout();
    // Inline: a run that fits the row's bitmap.
    jet::UsageMapBuilder small(l, l.map.inline_bitmap_bytes);
    small.AddRange(40, 45);
    small.AddPage(47);
    ASSERT_TRUE(small.FitsInline());
    // Reference: pages far apart.
    jet::UsageMapBuilder wide(l, l.map.inline_bitmap_bytes);
    const std::uint32_t per = l.PagesPerBitmapPage();
    wide.AddRange(3, 5);
    wide.AddRange(per + 1, per + 3);
    ASSERT_FALSE(wide.FitsInline());
    ASSERT_EQ(wide.BitmapPagesNeeded(), 2u);
    jet::DataPageBuilder rows(l, 0);
    rows.Add(small.InlineRow());
    rows.Add(wide.ReferenceRow({20, 21}));
    img.Set(1, rows.Finish());
    auto bitmaps = wide.BitmapPages();
    img.Set(20, bitmaps[0]);
    img.Set(21, bitmaps[1]);
    auto file = img.Open();
    const std::uint32_t all = 2 * per + 10;
    EXPECT_EQ(jet::ReadUsageMap(*file, {1, 0}, all).pages,
              (std::vector<std::uint32_t>{40, 41, 42, 43, 44, 47}));
    jet::UsageMap m = jet::ReadUsageMap(*file, {1, 1}, all);
    EXPECT_EQ(m.kind, jet::UsageMap::Kind::Reference);
    EXPECT_EQ(m.pages, (std::vector<std::uint32_t>{3, 4, per + 1, per + 2}));
}

TEST_P(Builders, GlobalMapMarksEverythingButUsedPagesFree) {
    Image img(GetParam());
    const auto& l = img.layout();
    jet::UsageMapBuilder used(l, l.map.inline_bitmap_bytes);
    used.AddRange(0, 9);
    used.AddRange(10, 30);  // page 9 is a spare page
    jet::DataPageBuilder rows(l, 0);
    rows.Add(used.InlineFreeRow());
    img.Set(1, rows.Finish());
    auto file = img.Open();
    std::uint32_t bits = static_cast<std::uint32_t>(l.map.inline_bitmap_bytes * 8);
    auto free = jet::ReadUsageMap(*file, {1, 0}, bits).pages;
    std::vector<std::uint32_t> expect{9};
    for (std::uint32_t p = 30; p < bits; ++p) expect.push_back(p);  // past the end: free
    EXPECT_EQ(free, expect);
    // The same rule by reference, for files too big for one row.
    auto pages = used.FreeBitmapPages(1);
    img.Set(3, pages[0]);
    jet::DataPageBuilder rows2(l, 0);
    rows2.Add(used.FreeReferenceRow({3}));
    img.Set(2, rows2.Finish());
    auto file2 = img.Open();
    auto free2 = jet::ReadUsageMap(*file2, {2, 0}, 100).pages;
    EXPECT_EQ(free2.front(), 9u);
    EXPECT_EQ(free2[1], 30u);
    EXPECT_EQ(free2.back(), 99u);
}

INSTANTIATE_TEST_SUITE_P(Jet3AndJet4, Builders,
                         ::testing::Values(jet::Format::Jet3, jet::Format::Jet4),
                         [](const auto& info) {
                             return info.param == jet::Format::Jet3 ? "Jet3" : "Jet4";
                         });

TEST(Layout, DefinitionsSkipAvoidedNumbersWhichOtherPagesTakeFirst) {
    jet::PageAllocator a(2);
    a.Avoid(3);
    a.Avoid(4);
    EXPECT_EQ(a.TakeDefinition(), 2u);
    EXPECT_EQ(a.TakeDefinition(), 5u);
    EXPECT_EQ(a.TakeRun(2), 6u);  // runs stay consecutive and never use skipped numbers
    EXPECT_EQ(a.Take(), 3u);
    EXPECT_EQ(a.Take(), 4u);
    EXPECT_EQ(a.Take(), 8u);
    EXPECT_EQ(a.page_count(), 9u);
}

TEST(Layout, RowMapFindsOnlyLiveRows) {
    jet::RowMap m;
    m.Add({10, 0}, {5, 0});
    m.Add({10, 3}, {5, 1});
    m.Add({12, 1}, {6, 0});
    ASSERT_TRUE(m.Find({10, 3}));
    EXPECT_EQ(*m.Find({10, 3}), (jet::RowAddr{5, 1}));
    EXPECT_FALSE(m.Find({10, 1}));  // a deleted slot
    EXPECT_FALSE(m.Find({10, 4}));  // past the page's last live row
    EXPECT_FALSE(m.Find({11, 0}));  // a page without live rows
    EXPECT_FALSE(m.Find({12, 0}));
    EXPECT_EQ(*m.Find({12, 1}), (jet::RowAddr{6, 0}));
    EXPECT_EQ(m.size(), 3u);

    // Slots past the first 64 of a page, and new rows that move to the next page or
    // skip a slot on the same one.
    m.Add({12, 70}, {6, 1});
    m.Add({12, 200}, {7, 0});
    m.Add({13, 0}, {7, 2});
    EXPECT_EQ(*m.Find({12, 70}), (jet::RowAddr{6, 1}));
    EXPECT_EQ(*m.Find({12, 200}), (jet::RowAddr{7, 0}));
    EXPECT_EQ(*m.Find({13, 0}), (jet::RowAddr{7, 2}));
    EXPECT_FALSE(m.Find({12, 69}));
    EXPECT_FALSE(m.Find({12, 201}));
    EXPECT_FALSE(m.Find({9, 0}));  // before the first page

    // A page with every slot live (all four words), its rows spread over new pages.
    jet::RowMap full;
    auto to = [](unsigned r) {
        return jet::RowAddr{40 + r / 100, static_cast<std::uint8_t>(r % 100)};
    };
    for (unsigned r = 0; r < 256; ++r) full.Add({20, static_cast<std::uint8_t>(r)}, to(r));
    for (unsigned r : {0u, 63u, 64u, 127u, 128u, 199u, 200u, 255u})
        EXPECT_EQ(*full.Find({20, static_cast<std::uint8_t>(r)}), to(r)) << r;
}

TEST(Layout, RowMapFindManyAgreesWithFind) {
    // Pages 100..139 with random gaps: deleted rows, whole pages without live rows,
    // slots past 64; new rows spread over runs that break now and then (most old
    // pages' rows over more than two). Find answers what was added, FindMany as Find,
    // and so does the same map made in three stretches joined with Append.
    jet::RowMap m;
    std::array<jet::RowMap, 3> stretch;
    std::mt19937 rng(7);
    jet::RowAddr to{500, 0};
    std::vector<jet::RowAddr> slots;  // every slot asked about, live or not
    std::map<jet::RowAddr, jet::RowAddr> moved;  // what the map must answer
    for (std::uint32_t page = 99; page <= 141; ++page)
        for (unsigned row = 0; row < 200; ++row) {
            const jet::RowAddr old{page, static_cast<std::uint8_t>(row)};
            slots.push_back(old);
            if (page < 100 || page > 139 || page % 7 == 3 || rng() % 4 == 0) continue;
            m.Add(old, to);
            stretch[page < 112 ? 0 : page < 125 ? 1 : 2].Add(old, to);
            moved[old] = to;
            to = rng() % 50 == 0 ? jet::RowAddr{to.page + 1, 0}
                                 : jet::RowAddr{to.page, static_cast<std::uint8_t>(to.row + 1 + rng() % 2)};
            if (to.row > 250) to = {to.page + 1, 0};
        }
    slots.push_back({1000000, 0});  // far past the end
    std::shuffle(slots.begin(), slots.end(), rng);
    jet::RowMap joined;
    for (jet::RowMap& part : stretch) joined.Append(std::move(part));
    std::vector<jet::RowAddr> live;
    for (jet::RowAddr a : slots) {
        const auto it = moved.find(a);
        const auto want = it == moved.end() ? std::nullopt : std::optional(it->second);
        ASSERT_EQ(m.Find(a), want) << a.ToString();
        ASSERT_EQ(joined.Find(a), want) << a.ToString() << " (joined)";
        if (it != moved.end()) live.push_back(a);
    }
    ASSERT_EQ(live.size(), m.size());
    ASSERT_EQ(joined.size(), m.size());

    // All live: every address found, here in place.
    std::vector<jet::RowAddr> batch = live;
    EXPECT_EQ(m.FindMany(batch, batch), live.size());
    for (std::size_t i = 0; i < live.size(); ++i) ASSERT_EQ(batch[i], *m.Find(live[i])) << i;

    // Mixed: found up to the first that holds no live row, nothing written past it;
    // at the start, in the middle and at the end of a batch.
    std::vector<jet::RowAddr> dead;
    for (jet::RowAddr a : slots)
        if (!m.Find(a)) dead.push_back(a);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{17}, live.size()}) {
        std::vector<jet::RowAddr> ask(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(cut));
        ask.push_back(dead[cut % dead.size()]);
        ask.insert(ask.end(), live.begin(), live.begin() + 40);
        const jet::RowAddr untouched{7, 7};
        std::vector<jet::RowAddr> out(ask.size(), untouched);
        const std::size_t found = m.FindMany(ask, out);
        EXPECT_EQ(found, cut);
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], i < found ? *m.Find(ask[i]) : untouched) << cut << " " << i;
    }
    jet::RowMap empty;
    std::vector<jet::RowAddr> one{{100, 0}};
    EXPECT_EQ(empty.FindMany(one, one), 0u);
}

}  // namespace
}  // namespace compacttest
