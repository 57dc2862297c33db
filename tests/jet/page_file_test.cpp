// Pages read through the file layer (runs, blocks, cache, an overlay) are the file's
// pages, in whatever order they are asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "jet/page_file.h"
#include "jet/resident_buffer.h"
#include "jet/resident_pool.h"
#include "test_util.h"

using namespace jettest;

namespace {

TEST(PageFile, AnyOrderReadsTheFilesPagesWithRunsBlocksAndEviction) {
    // A real header page, then pages that each carry their own number; the count
    // leaves a partial block at the end.
    std::vector<std::uint8_t> image = ReadAll(CorpusDir() / "jet4" / "testV2000.mdb");
    const std::size_t ps = 4096, pages = 3001;
    image.resize(ps * pages);
    for (std::size_t p = 1; p < pages; ++p)
        for (std::size_t i = 0; i < ps; ++i)
            image[p * ps + i] = static_cast<std::uint8_t>((p * 131 + i / 512) % 251);
    TempDir tmp;
    const fs::path f = tmp.path() / "pages.mdb";
    WriteAll(f, image);
    // The same pages seen through an overlay: the last ones, and some of the file's own
    // (wrong in the file itself, the header among them), come from a side file.
    const std::uint32_t base = 2900;
    const std::vector<std::uint32_t> replaced = {0, 31, 32, 33, 700, 2899};
    std::vector<std::uint8_t> own(image.begin(), image.begin() + base * ps);
    std::vector<std::uint8_t> side(image.begin() + base * ps, image.end());
    for (std::uint32_t p : replaced) {
        std::fill_n(own.begin() + p * ps, ps, 0xEE);
        side.insert(side.end(), image.begin() + p * ps, image.begin() + (p + 1) * ps);
    }
    const fs::path own_file = tmp.path() / "own.mdb";
    auto overlay = std::make_shared<jet::PageOverlay>(jet::PageOverlay{
        .side = tmp.path() / "side", .page_size = ps, .base_pages = base, .page_count = pages,
        .replaced = replaced});
    WriteAll(own_file, own);
    WriteAll(overlay->side, side);
    // Sequential stretches, single jumps and jumps about within regions.
    std::mt19937 rng(5);
    std::vector<std::uint32_t> order;
    while (order.size() < 20000) {
        std::uint32_t at = rng() % pages;
        const std::uint32_t len = rng() % 3 == 0 ? 1 + rng() % 80 : 1;
        for (std::uint32_t k = 0; k < len && at + k < pages; ++k) order.push_back(at + k);
        if (rng() % 2) order.push_back(static_cast<std::uint32_t>(pages - 1 - rng() % 9));
    }
    enum Mode { kCache, kBlocks, kPlanned, kLoaded, kOverlaid, kOverlaidPlanned };
    for (Mode mode : {kCache, kBlocks, kPlanned, kLoaded, kOverlaid, kOverlaidPlanned}) {
        SCOPED_TRACE(mode);
        const bool blocks = mode == kBlocks || mode == kOverlaid;
        const bool overlaid = mode == kOverlaid || mode == kOverlaidPlanned;
        std::string err;
        auto file = overlaid ? jet::PageFile::Open(own_file, &err, overlay) : jet::PageFile::Open(f, &err);
        ASSERT_TRUE(file) << err;
        ASSERT_EQ(file->page_count(), pages);
        EXPECT_EQ(file->header().file_size, image.size());
        if (overlaid) {
            EXPECT_FALSE(file->set_loaded());
        }
        // Far less than the file: pages are evicted (unless the file is loaded whole).
        file->set_cache_capacity(600);
        file->set_block_reads(blocks);
        if (mode == kLoaded) {
            ASSERT_TRUE(file->set_loaded());
        }
        if (mode == kPlanned || mode == kOverlaidPlanned) {
            // Planned pages among others, in clusters and alone.
            std::vector<std::uint32_t> plan;
            for (std::uint32_t p = 0; p < pages; ++p)
                if (rng() % 4 == 0 || (p / 50) % 3 == 0) plan.push_back(p);
            std::shuffle(plan.begin(), plan.end(), rng);
            file->PlanReads(plan);
        }
        std::vector<jet::Page> held;  // pages kept by a reader stay as they were read
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::uint32_t n = order[i];
            jet::Page pg = file->Read(n);
            ASSERT_EQ(pg.size(), ps);
            ASSERT_TRUE(std::equal(pg.bytes().begin(), pg.bytes().end(), image.begin() + n * ps))
                << "page " << n << " at read " << i << (blocks ? " with blocks" : "");
            if (i % 97 == 0) held.push_back(pg);
        }
        for (const jet::Page& pg : held)
            EXPECT_TRUE(
                std::equal(pg.bytes().begin(), pg.bytes().end(), image.begin() + pg.number() * ps));
        EXPECT_THROW(file->Read(pages), jet::FormatError);
        // More pages held than the cache holds: it grows rather than reuse a frame
        // a reader still uses.
        held.clear();
        file->set_cache_capacity(4);
        for (std::uint32_t n = 100; n < 1100; n += 9) held.push_back(file->Read(n));
        for (std::uint32_t n = 0; n < 300; ++n) file->Read(n);
        for (const jet::Page& pg : held)
            ASSERT_TRUE(
                std::equal(pg.bytes().begin(), pg.bytes().end(), image.begin() + pg.number() * ps))
                << "held page " << pg.number() << (blocks ? " with blocks" : "");
        // Pages read alone, no run or block bringing them.
        held.clear();
        file->set_block_reads(false);
        for (auto p = replaced.rbegin(); p != replaced.rend(); ++p) {
            jet::Page pg = file->Read(*p);
            ASSERT_TRUE(std::equal(pg.bytes().begin(), pg.bytes().end(), image.begin() + *p * ps))
                << "page " << *p << " read alone";
        }
    }
}

TEST(PageFile, PlannedPagesComeInFewReadsAndOnlyThoseAreKept) {
    std::vector<std::uint8_t> image = ReadAll(CorpusDir() / "jet4" / "testV2000.mdb");
    const std::size_t ps = 4096, pages = 500;
    image.resize(ps * pages);
    for (std::size_t p = 1; p < pages; ++p) image[p * ps + 100] = static_cast<std::uint8_t>(p);
    TempDir tmp;
    const fs::path f = tmp.path() / "pages.mdb";
    WriteAll(f, image);
    std::string err;
    auto file = jet::PageFile::Open(f, &err);
    ASSERT_TRUE(file) << err;
    // Every third page of 100..399, asked for in order: one at a time, none follows
    // the last read.
    std::vector<std::uint32_t> plan;
    for (std::uint32_t p = 100; p < 400; p += 3) plan.push_back(p);
    file->PlanReads(plan);
    const std::uint64_t calls = file->read_calls();
    for (std::uint32_t p : plan) ASSERT_EQ(file->Read(p).bytes()[100], p % 256);
    // Reads span 32 pages, 11 of them planned: 10 reads, not 100.
    EXPECT_LE(file->read_calls() - calls, 10u);
    EXPECT_EQ(file->pages_read(), plan.size());
    // The pages stepped over were not kept; outside the plan pages come alone.
    EXPECT_EQ(file->Read(101).bytes()[100], 101);
    EXPECT_EQ(file->pages_read(), plan.size() + 1);
    // Pages planned as nearby come 8 pages a read (4 of them planned here).
    std::vector<std::uint32_t> nearby;
    for (std::uint32_t p = 420; p < 484; p += 2) nearby.push_back(p);
    file->PlanReads({}, nearby);
    const std::uint64_t before = file->read_calls();
    for (std::uint32_t p : nearby) ASSERT_EQ(file->Read(p).bytes()[100], p % 256);
    EXPECT_EQ(file->read_calls() - before, 8u);
    EXPECT_EQ(file->pages_read(), plan.size() + 1 + nearby.size());
}

#ifndef _WIN32  // where files are not told apart, each reader loads its own
TEST(PageFile, ALoadedFileIsSharedOnlyWithTheSameFile) {
    std::vector<std::uint8_t> image = ReadAll(CorpusDir() / "jet4" / "testV2000.mdb");
    image.resize(4096 * 40);
    TempDir tmp;
    const fs::path a = tmp.path() / "a.mdb", b = tmp.path() / "b.mdb";
    WriteAll(a, image);
    image[4096 * 7 + 100] ^= 0xFF;  // same size, one byte apart
    WriteAll(b, image);
    std::string err;
    auto fa = jet::PageFile::Open(a, &err), fb = jet::PageFile::Open(b, &err),
         fa2 = jet::PageFile::Open(a, &err);
    ASSERT_TRUE(fa && fb && fa2) << err;
    ASSERT_TRUE(fa->set_loaded());
    ASSERT_TRUE(fb->set_loaded(fa.get()));
    ASSERT_TRUE(fa2->set_loaded(fa.get()));
    EXPECT_EQ(fb->Read(7).bytes()[100], image[4096 * 7 + 100]);  // its own bytes
    EXPECT_EQ(fa2->Read(7).bytes()[100], fa->Read(7).bytes()[100]);
    EXPECT_EQ(fa2->Read(7).bytes().data(), fa->Read(7).bytes().data());  // one copy
    fa.reset();  // the other reader keeps the copy
    EXPECT_NE(fa2->Read(7).bytes()[100], image[4096 * 7 + 100]);
    EXPECT_FALSE(jet::PageFile::FromMemory(image)->set_loaded());
}
#endif

}  // namespace

// A file cut short after it was opened (someone else truncated it) is an error on
// the pages that are gone, never the end of the process (a mapping would fault).
TEST(PageFile, AFileCutShortAfterOpeningFailsAsAnErrorWhenLoaded) {
    std::vector<std::uint8_t> image = ReadAll(CorpusDir() / "jet4" / "testV2000.mdb");
    image.resize(4096 * 40);
    TempDir tmp;
    const fs::path f = tmp.path() / "cut.mdb";
    WriteAll(f, image);
    std::string err;
    auto file = jet::PageFile::Open(f, &err);
    ASSERT_TRUE(file) << err;
    fs::resize_file(f, 4096 * 10);
    EXPECT_FALSE(file->set_loaded());
    EXPECT_EQ(file->Read(3).bytes()[100], image[4096 * 3 + 100]);
    EXPECT_THROW(file->Read(39), jet::FormatError);
    // A scan's read ahead that reaches past the cut fails as well, rather than handing
    // out pages it never read.
    EXPECT_THROW(
        for (std::uint32_t n = 5; n < 13; ++n) file->Read(n), jet::FormatError);
}

// Arrays past the huge-page threshold come from the system: they must keep their
// records as a vector grows through the threshold and gives memory back.
TEST(ResidentMemory, VectorsAndBuffersKeepTheirBytesAcrossTheHugePageThreshold) {
    std::vector<std::uint64_t, jet::ResidentAllocator<std::uint64_t>> v;
    const std::size_t n = 3 * jet::kResidentHugeBytes / sizeof(std::uint64_t) + 5;
    for (std::size_t i = 0; i < n; ++i) v.push_back(i * 0x9E3779B97F4A7C15ull);
    auto copy = v;
    v.resize(10);
    v.shrink_to_fit();  // back to the heap
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(copy[i], i * 0x9E3779B97F4A7C15ull) << i;
    for (std::size_t i = 0; i < v.size(); ++i) ASSERT_EQ(v[i], copy[i]);

    jet::ResidentBuffer big(jet::kResidentHugeBytes + 1), small(100);
    EXPECT_EQ(big.size(), 2 * jet::kResidentHugeBytes);
    EXPECT_EQ(small.size(), 100u);
    std::fill(big.data(), big.data() + big.size(), 0xA5);
    jet::ResidentBuffer moved = std::move(big);
    EXPECT_EQ(big.data(), nullptr);
    EXPECT_EQ(moved.data()[moved.size() - 1], 0xA5);
}

// Blocks given back are handed out again only for the same size, and the pool never
// holds more than it may: past its capacity a block goes, and a request it cannot
// answer first lets go of at least as much as it asks for.
TEST(ResidentMemory, ThePoolReusesBySizeAndNeverGrowsTheProcess) {
    static std::vector<std::pair<std::uint8_t*, std::size_t>> unmapped;
    unmapped.clear();
    using Unmapped = std::vector<std::pair<std::uint8_t*, std::size_t>>;
    std::uint8_t a[1], b[1], c[1], d[1];
    {
        jet::ResidentPool pool(100, [](std::uint8_t* p, std::size_t n) { unmapped.push_back({p, n}); });
        pool.Give(a, 40);
        pool.Give(b, 40);
        pool.Give(c, 40);  // past the capacity
        EXPECT_EQ(unmapped, (Unmapped{{c, 40}}));
        EXPECT_EQ(pool.Take(40), b);
        EXPECT_EQ(pool.Take(30), nullptr);
        EXPECT_EQ(unmapped, (Unmapped{{c, 40}, {a, 40}}));
        pool.Give(a, 20);
        pool.Give(b, 20);
        pool.Give(d, 20);
        EXPECT_EQ(pool.Take(30), nullptr);  // a and b go (40 >= 30), d stays
        EXPECT_EQ(pool.kept_bytes(), 20u);
        EXPECT_EQ(pool.Take(20), d);
        pool.Give(d, 20);
    }
    EXPECT_EQ(unmapped.back(), std::make_pair(&d[0], std::size_t{20}));
    EXPECT_EQ(unmapped.size(), 5u);
}
