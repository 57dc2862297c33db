// Files that must not be compacted: each gives "not compacted" with a reason and
// leaves no destination (and no temporary file) behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

#include "jet/compact/compactor.h"
#include "jet/compact/output_file.h"
#include "jet/compact/spill_file.h"
#include "jet/compact/verifier.h"
#include "jet/compact/write_behind.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"
#include "support.h"
#include "tools/mdbgen/generator.h"

namespace compacttest {
namespace {

const fs::path kJet4 = CorpusDir() / "jet4" / "testV2000.mdb";
const fs::path kJet3 = CorpusDir() / "jet3" / "testV1997.mdb";

// Compacts `src` into a fresh name in `s` and expects a refusal mentioning `words`.
void ExpectRefused(const Scratch& s, const fs::path& src, const std::string& words,
                   const jet::CompactOptions& options = {}) {
    auto before = s.Listing();
    fs::path out = s.dir() / "out.mdb";
    jet::CompactResult r = jet::Compact(src, out, {}, options);
    EXPECT_FALSE(r.compacted);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_NE(r.reason.find(words), std::string::npos) << r.reason;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(s.Listing(), before) << "something was left behind";
}

TEST(Refusals, MissingFileDirectoryAndAccdb) {
    Scratch s;
    ExpectRefused(s, s.dir() / "nothing-here.mdb", "does not exist");
    fs::create_directory(s.dir() / "folder.mdb");
    ExpectRefused(s, s.dir() / "folder.mdb", "directory");
    for (const char* name : {"testV2007.accdb", "testV2010.accdb"}) {
        fs::path f = CorpusDir() / "other" / name;
        if (fs::exists(f)) ExpectRefused(s, s.Copy(f), "ACE");
    }
}

TEST(Refusals, TruncatedCopies) {
    for (const fs::path& original : {kJet4, kJet3}) {
        Scratch s;
        auto image = ReadAll(original);
        std::size_t page = image[0x14] == 0 ? 2048 : 4096;
        // Cut inside a page, and at a page boundary where the tables still point further.
        auto inside = image;
        inside.resize(image.size() / 2 + 100);
        fs::path a = s.dir() / "inside.mdb";
        WriteAll(a, inside);
        ExpectRefused(s, a, "");
        auto boundary = image;
        boundary.resize(image.size() / page / 2 * page);
        fs::path b = s.dir() / "boundary.mdb";
        WriteAll(b, boundary);
        ExpectRefused(s, b, "");
    }
}

// Password and page encryption live in the scrambled header block.
void PatchHeaderBlock(std::vector<std::uint8_t>& image, std::size_t at,
                      const std::vector<std::uint8_t>& plain) {
    jet::Format f = image[0x14] == 0 ? jet::Format::Jet3 : jet::Format::Jet4;
    auto block = jet::DescrambledBlock(image, f);
    for (std::size_t i = 0; i < plain.size(); ++i)
        image[at + i] ^= block[at - jet::kHeaderBlockOffset + i] ^ plain[i];
}

TEST(Refusals, PasswordAndPageEncryption) {
    for (const fs::path& original : {kJet4, kJet3}) {
        Scratch s;
        auto image = ReadAll(original);
        auto pw = image;
        PatchHeaderBlock(pw, 0x42, {'s', 0x55, 'c', 0x55, 'r', 0x55});
        fs::path a = s.dir() / "password.mdb";
        WriteAll(a, pw);
        ExpectRefused(s, a, "password");
        auto enc = image;
        PatchHeaderBlock(enc, 0x3E, {0x12, 0x34, 0x56, 0x78});
        fs::path b = s.dir() / "encrypted.mdb";
        WriteAll(b, enc);
        ExpectRefused(s, b, "encrypt");
    }
}

// Damages a leaf page of an index with entries, so that its order breaks.
TEST(Refusals, CorruptedIndexPage) {
    for (const fs::path& original : CorpusJetFiles()) {
        if (fs::file_size(original) > (8u << 20)) continue;
        Scratch s;
        fs::path src = s.Copy(original, "damaged.mdb");
        auto image = ReadAll(src);
        bool damaged = false;
        {
            jet::Status st;
            auto db = jet::Database::Open(src, &st);
            ASSERT_TRUE(db) << st.reason;
            for (const jet::CatalogEntry* t : db->Tables(false)) {
                const jet::TableDef& d = db->Definition(t->tdef_page());
                for (const auto& ix : d.real_indexes) {
                    jet::IndexPage p = jet::ReadIndexPage(db->file(), ix.root);
                    if (!p.leaf() || p.entries.size() < 3 || damaged) continue;
                    // The last entry's first stored byte drops to 0: it sorts too early.
                    const jet::IndexEntry& e = p.entries.back();
                    image[std::size_t{ix.root} * db->file().page_size() + e.offset] = 0x00;
                    damaged = true;
                }
            }
        }
        if (!damaged) continue;
        WriteAll(src, image);
        {
            jet::Status st;
            auto db = jet::Database::Open(src, &st);
            ASSERT_TRUE(db) << "the damage should hit the index only";
        }
        ExpectRefused(s, src, "index");
        return;
    }
    FAIL() << "no index leaf with entries in the corpus";
}

// A compacted file compared with itself: nothing moves, and its free pages are the
// spare ones.
std::vector<std::uint32_t> FreePages(jet::PageFile& f) {
    std::vector<std::uint32_t> spare;
    for (std::uint32_t p : jet::ReadUsageMap(f, {jet::kGlobalMapPage, 0}, f.page_count()).pages)
        if (p < f.page_count()) spare.push_back(p);
    return spare;
}

// The new file's soundness check runs beside the comparison with the source: a fault
// that only it sees (an index page's free-space field) must still fail verification.
TEST(Verification, AFaultOnlyTheSoundnessCheckSeesFailsIt) {
    Scratch s;
    fs::path compacted = s.dir() / "a.mdb";
    ASSERT_TRUE(jet::Compact(kJet4, compacted).compacted);
    fs::path same = s.Copy(compacted, "same.mdb"), damaged = s.Copy(compacted, "damaged.mdb");
    jet::Status st;
    auto src = jet::Database::Open(compacted, &st);
    ASSERT_TRUE(src) << st.reason;
    jet::PageFile& f = src->file();
    const std::vector<std::uint32_t> spare = FreePages(f);
    ASSERT_TRUE(jet::VerifyCompacted(*src, compacted, same, jet::IdMap(), spare, {}));

    std::optional<std::uint32_t> index_page;
    for (const jet::CatalogEntry* t : src->Tables(false))
        for (const auto& ix : src->Definition(t->tdef_page()).real_indexes)
            if (!index_page) index_page = ix.root;
    ASSERT_TRUE(index_page);
    auto image = ReadAll(damaged);
    image[std::size_t{*index_page} * f.page_size() +
          jet::IndexPageLayout::For(f.jet3()).free_space] ^= 0x01;
    WriteAll(damaged, image);
    jet::Status v = jet::VerifyCompacted(*src, compacted, damaged, jet::IdMap(), spare, {});
    EXPECT_FALSE(v);
    EXPECT_NE(v.reason.find("free bytes"), std::string::npos) << v.reason;
}

// Looks for a long value stored as a chain of at least two rows.
struct ChainAt {
    jet::RowAddr first;
    std::size_t page_size = 0;
};
std::optional<ChainAt> FindChain(const fs::path& file) {
    jet::Status st;
    auto db = jet::Database::Open(file, &st);
    if (!db) return std::nullopt;
    for (const jet::CatalogEntry* t : db->Tables(false)) {
        const jet::TableDef& d = db->Definition(t->tdef_page());
        jet::TableReader reader(db->file(), d);
        std::optional<ChainAt> found;
        reader.ForEachRow([&](const jet::RowRef& r) {
            jet::CrackedRow cr = jet::CrackRow(d, r.bytes, db->jet3());
            for (std::size_t i = 0; i < d.columns.size(); ++i) {
                const jet::FieldRef& f = cr.fields[i];
                if (!jet::IsLongValueType(d.columns[i].type) || f.null || f.size < 12) continue;
                jet::Bytes field = r.bytes.subspan(f.begin, f.size);
                auto h = jet::ParseLongValueHeader(field);
                if (h.kind != jet::LongValueHeader::Kind::Chain) continue;
                if (reader.ReadLongValue(field).rows.size() < 2) continue;
                found = ChainAt{h.first, db->file().page_size()};
                return false;
            }
            return true;
        });
        if (found) return found;
    }
    return std::nullopt;
}

TEST(Refusals, LoopingLongValueChain) {
    std::optional<ChainAt> chain;
    fs::path original;
    for (const fs::path& f : CorpusJetFiles()) {
        if ((chain = FindChain(f))) {
            original = f;
            break;
        }
    }
    if (!chain) GTEST_SKIP() << "no long value stored as a chain in the corpus";
    Scratch s;
    fs::path src = s.Copy(original, "looping.mdb");
    auto image = ReadAll(src);
    // The first row of the chain names itself as its successor.
    const std::size_t ps = chain->page_size;
    const std::uint8_t* page = image.data() + std::size_t{chain->first.page} * ps;
    std::size_t slots = image[0x14] == 0 ? 0x0A : 0x0E;
    std::uint16_t slot = static_cast<std::uint16_t>(page[slots + 2 * chain->first.row] |
                                                    (page[slots + 2 * chain->first.row + 1] << 8));
    std::size_t row_at = std::size_t{chain->first.page} * ps + (slot & 0x1FFF);
    std::uint32_t self = chain->first.Packed();
    std::memcpy(image.data() + row_at, &self, 4);
    WriteAll(src, image);
    ExpectRefused(s, src, "loop");
}

// The first long-value row of the last value stored outside its row, in the table
// that has the most such values (system tables too), and how many values it has.
struct LastValue {
    jet::RowAddr first;
    std::size_t values = 0;
};
LastValue FindLastValue(const fs::path& file) {
    LastValue best;
    jet::Status st;
    auto db = jet::Database::Open(file, &st);
    if (!db) return best;
    for (const jet::CatalogEntry* t : db->Tables(true)) {
        const jet::TableDef& d = db->Definition(t->tdef_page());
        jet::TableReader reader(db->file(), d);
        LastValue here;
        reader.ForEachRow([&](const jet::RowRef& r) {
            jet::CrackedRow cr = jet::CrackRow(d, r.bytes, db->jet3());
            for (std::size_t i = 0; i < d.columns.size(); ++i) {
                const jet::FieldRef& f = cr.fields[i];
                if (!jet::IsLongValueType(d.columns[i].type) || f.null || f.size < 12) continue;
                auto h = jet::ParseLongValueHeader(r.bytes.subspan(f.begin, f.size));
                if (h.kind == jet::LongValueHeader::Kind::Inline) continue;
                here.first = h.first;
                ++here.values;
            }
            return true;
        });
        if (here.values > best.values) best = here;
    }
    return best;
}

// A compaction that fails late, when the long values planned before the damaged one
// already went to spill files under a tiny budget, leaves none of them behind.
// A byte of a file to change, and what the verification must then say.
struct Damage {
    std::size_t at;
    std::uint8_t value;
    std::string reason;
};

// In a compacted file: a fixed column's byte in a table's last row, that row's page's
// free-space field, a data byte of a table's last long value stored outside its row
// and an index leaf entry's row byte. Fewer when the file lacks one of them.
std::vector<Damage> DamagesFor(const fs::path& file, const std::vector<std::uint8_t>& image) {
    std::vector<Damage> damages;
    jet::Status st;
    auto db = jet::Database::Open(file, &st);
    if (!db) return damages;
    jet::PageFile& f = db->file();
    const std::size_t ps = f.page_size();
    auto flip = [&](const jet::Page& pg, std::size_t at, const std::string& reason) {
        at += pg.number() * ps;
        damages.push_back({at, static_cast<std::uint8_t>(image[at] ^ 0x01), reason});
    };
    auto in_page = [](const jet::Page& pg, jet::Bytes b) {
        return static_cast<std::size_t>(b.data() - pg.bytes().data());
    };
    bool row_done = false, value_done = false, index_done = false;
    // The largest tables first, and in each the last row and value: where a table's
    // rows are compared in parts, the damage then lies in a later part.
    std::vector<std::pair<std::size_t, const jet::TableDef*>> tables;
    for (const jet::CatalogEntry* t : db->Tables(false)) {
        const jet::TableDef& d = db->Definition(t->tdef_page());
        tables.push_back({jet::TableReader(f, d).DataPages().size(), &d});
    }
    std::stable_sort(tables.begin(), tables.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& largest : tables) {
        const jet::TableDef& d = *largest.second;
        std::optional<std::pair<jet::RowAddr, std::size_t>> row;  // row, column's offset in it
        std::optional<jet::LongValueHeader> value;
        jet::TableReader(f, d).ForEachRow([&](const jet::RowRef& r) {
            jet::CrackedRow cr = jet::CrackRow(d, r.bytes, f.jet3());
            for (std::size_t i = 0; i < d.columns.size(); ++i) {
                const jet::FieldRef& fr = cr.fields[i];
                if (fr.null || fr.size == 0) continue;
                if (d.columns[i].fixed())
                    row = {r.addr, static_cast<std::size_t>(in_page(r.page, r.bytes)) + fr.begin};
                if (!jet::IsLongValueType(d.columns[i].type) || fr.size < 12) continue;
                auto h = jet::ParseLongValueHeader(r.bytes.subspan(fr.begin, fr.size));
                if (h.kind != jet::LongValueHeader::Kind::Inline && h.length > 0) value = h;
            }
            return true;
        });
        if (!row_done && row) {
            jet::Page pg = f.Read(row->first.page);
            flip(pg, row->second, "reads differently");
            flip(pg, jet::DataPageLayout::For(f.jet3()).free_space, "wrong free-space field");
            row_done = true;
        }
        if (!value_done && value) {
            jet::Page holder;
            jet::Bytes b = jet::LvalRowBytes(f, value->first, holder);
            const std::size_t data = value->kind == jet::LongValueHeader::Kind::Chain ? jet::kChainDataAt : 0;
            flip(holder, in_page(holder, b) + data, "different long value");
            value_done = true;
        }
        for (const auto& ix : d.real_indexes) {
            const jet::IndexWalk w = jet::WalkIndex(f, ix.root, d.page);
            if (index_done || w.leaf_entries.empty()) continue;
            const jet::IndexEntry& e = w.leaf_entries.front();
            flip(f.Read(w.leaf_pages.front()), e.offset + e.stored_size - 1,
                 "points at the wrong row");
            index_done = true;
        }
    }
    return damages;
}

// A fixed column's byte in the last row of each table that has one, in the catalog's
// order (the verifier's), MSysObjects aside (its catalog is compared first).
std::vector<Damage> LastRowDamages(const fs::path& file, const std::vector<std::uint8_t>& image) {
    std::vector<Damage> damages;
    jet::Status st;
    auto db = jet::Database::Open(file, &st);
    if (!db) return damages;
    for (const jet::CatalogEntry* t : db->Tables(true)) {
        if (t->name == "MSysObjects") continue;
        const jet::TableDef& d = db->Definition(t->tdef_page());
        std::optional<std::size_t> at;  // in the file
        jet::RowAddr row;
        jet::TableReader(db->file(), d).ForEachRow([&](const jet::RowRef& r) {
            jet::CrackedRow cr = jet::CrackRow(d, r.bytes, db->jet3());
            for (std::size_t i = 0; i < d.columns.size(); ++i) {
                if (!d.columns[i].fixed() || cr.fields[i].null || cr.fields[i].size == 0) continue;
                at = r.addr.page * db->file().page_size() +
                     static_cast<std::size_t>(r.bytes.data() - r.page.bytes().data()) +
                     cr.fields[i].begin;
                row = r.addr;
            }
            return true;
        });
        if (at)
            damages.push_back({*at, static_cast<std::uint8_t>(image[*at] ^ 0x01),
                               "table '" + t->name + "' row " + row.ToString() + " reads differently"});
    }
    return damages;
}

// Splits of every table's rows at each of its data pages (the file against a copy
// of itself): its rows are then compared in as many parts as the verifier makes.
jet::RowsSplits SplitsAtEveryPage(jet::Database& db) {
    jet::RowsSplits splits;
    for (const jet::CatalogEntry* t : db.Tables(true)) {
        const jet::TableDef& d = db.Definition(t->tdef_page());
        jet::TableReader reader(db.file(), d);
        const std::vector<std::uint32_t>& pages = reader.DataPages();
        for (std::size_t i = 1; i < pages.size(); ++i)
            splits[d.page].push_back({pages[i], jet::RowAddr{pages[i], 0}});
    }
    return splits;
}

// A compacted file compared with a damaged copy of itself: each damage above is
// refused by the comparison, with a reason naming it, also when the index
// comparisons run on the verifier's second worker only, and when the rows are
// compared in parts (the damaged rows then lie in a later part). With rows damaged
// in the first table and in the last, the first table's fault is reported, however
// the workers' timing falls: they take the tables from either end.
TEST(Verification, DamagedCopiesAreRefused) {
    Scratch s;
    const fs::path good = s.dir() / "good.mdb", bad = s.dir() / "bad.mdb";
    jet::GenerateOptions g;  // a table with long values and an index over some pages
    g.source = CorpusDir() / "jet4" / "test2V2000.mdb";
    g.output = s.dir() / "gen.mdb";
    g.table = "MSP_PROJECTS";
    g.rows = 300;
    ASSERT_TRUE(jet::GenerateDatabase(g).ok);
    ASSERT_TRUE(jet::Compact(g.output, good).compacted);
    const std::vector<std::uint8_t> image = ReadAll(good);
    const std::vector<Damage> damages = DamagesFor(good, image);
    ASSERT_EQ(damages.size(), 4u) << "the file lacks a long value, a row or an index";
    jet::Status st;
    auto db = jet::Database::Open(good, &st);
    ASSERT_TRUE(db) << st.reason;
    const std::vector<std::uint32_t> spare = FreePages(db->file());
    std::vector<jet::VerifyOptions> ways(3);  // plain, indexes on the second worker, in parts
    ways[1].indexes_on_second_worker = true;
    ways[2].splits = SplitsAtEveryPage(*db);
    ASSERT_TRUE(jet::VerifyCompacted(*db, good, good, jet::IdMap(), spare, {}, ways[2]));
    for (const Damage& d : damages) {
        auto copy = image;
        copy[d.at] = d.value;
        WriteAll(bad, copy);
        for (const jet::VerifyOptions& o : ways) {
            const jet::Status v = jet::VerifyCompacted(*db, good, bad, jet::IdMap(), spare, {}, o);
            EXPECT_FALSE(v) << d.reason << (o.indexes_on_second_worker ? " (indexes on the second worker)" : "")
                            << (o.splits.empty() ? "" : " (rows in parts)");
            EXPECT_NE(v.reason.find(d.reason), std::string::npos) << v.reason;
        }
    }
    const std::vector<Damage> rows = LastRowDamages(good, image);
    ASSERT_GE(rows.size(), 2u) << "fewer than two tables with rows";
    auto copy = image;
    copy[rows.front().at] = rows.front().value;
    copy[rows.back().at] = rows.back().value;
    WriteAll(bad, copy);
    const jet::Status v = jet::VerifyCompacted(*db, good, bad, jet::IdMap(), spare, {}, ways[2]);
    EXPECT_NE(v.reason.find(rows.front().reason), std::string::npos) << v.reason;
}

TEST(Refusals, DamagedLongValueUnderTinyBudget) {
    fs::path original;
    LastValue last;
    for (const fs::path& f : CorpusJetFiles()) {
        LastValue here = FindLastValue(f);
        if (here.values > last.values) last = here, original = f;
    }
    if (last.values < 4) GTEST_SKIP() << "no table with many long values in the corpus";
    Scratch s;
    fs::path src = s.Copy(original, "damaged.mdb");
    auto image = ReadAll(src);
    // The last value's row is marked deleted: its value can no longer be read.
    const bool jet3 = image[0x14] == 0;
    const std::size_t slot = std::size_t{last.first.page} * (jet3 ? 2048 : 4096) +
                             jet::DataPageLayout::For(jet3).row_table +
                             jet::kRowSlotSize * last.first.row;
    image[slot + 1] |= jet::kRowDeleted >> 8;
    WriteAll(src, image);
    jet::CompactOptions tiny;
    tiny.memory_budget = 1;
    ExpectRefused(s, src, "", tiny);
}

TEST(Refusals, ReachablePageOfUnknownType) {
    Scratch s;
    fs::path src = s.Copy(kJet4, "odd.mdb");
    auto image = ReadAll(src);
    std::uint32_t victim = 0;
    {
        jet::Status st;
        auto db = jet::Database::Open(src, &st);
        ASSERT_TRUE(db) << st.reason;
        for (const jet::CatalogEntry* t : db->Tables(false)) {
            jet::TableReader reader(db->file(), db->Definition(t->tdef_page()));
            if (!reader.DataPages().empty()) {
                victim = reader.DataPages().front();
                break;
            }
        }
    }
    ASSERT_NE(victim, 0u);
    image[std::size_t{victim} * 4096] = 0x08;
    WriteAll(src, image);
    ExpectRefused(s, src, "unknown page type");
}

TEST(Refusals, ExistingDestinationIsLeftAlone) {
    Scratch s;
    fs::path src = s.Copy(kJet4);
    fs::path out = s.dir() / "taken.mdb";
    WriteAll(out, {1, 2, 3});
    jet::CompactResult r = jet::Compact(src, out);
    EXPECT_FALSE(r.compacted);
    EXPECT_NE(r.reason.find("already exists"), std::string::npos) << r.reason;
    EXPECT_EQ(r.pages_before, 0u) << "refused only after the source was read";
    EXPECT_EQ(ReadAll(out), (std::vector<std::uint8_t>{1, 2, 3}));
    // Not even the source itself may be named as the destination.
    auto before = ReadAll(src);
    EXPECT_FALSE(jet::Compact(src, src).compacted);
    EXPECT_EQ(ReadAll(src), before);
}

TEST(Refusals, UnwritableDestinationLeavesNothing) {
    Scratch s;
    fs::path src = s.Copy(kJet4);
    fs::path out = s.dir() / "no-such-folder" / "out.mdb";
    jet::CompactResult r = jet::Compact(src, out);
    EXPECT_FALSE(r.compacted);
    EXPECT_NE(r.reason.find("cannot write"), std::string::npos) << r.reason;
    EXPECT_FALSE(fs::exists(out.parent_path()));
}

// The output's sync runs on the writer thread while the copy is verified: it comes
// after every write queued before it, and when it fails the file is not taken as
// durable (Drain, which Commit waits on, reports it and nothing more is written).
TEST(Refusals, WriterSyncsAfterItsWritesAndReportsAFailedSync) {
    for (const bool sync_fails : {false, true}) {
        std::mutex mu;
        std::uint64_t written = 0;
        std::vector<std::uint64_t> written_at_sync;
        std::atomic<bool> slow = false;
        jet::WriteBehind w(
            [&](std::uint64_t, std::span<const std::uint8_t> bytes, std::string*) {
                if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                std::lock_guard<std::mutex> lock(mu);
                written += bytes.size();
                return true;
            },
            [&](std::string* err) {
                std::lock_guard<std::mutex> lock(mu);
                written_at_sync.push_back(written);
                if (sync_fails) *err = "the disk is gone";
                return !sync_fails;
            });
        const std::vector<std::uint8_t> page(4096, 7);
        std::string err;
        constexpr std::uint64_t kPages = 1500;  // several buffers' worth
        for (std::uint64_t i = 0; i < kPages; ++i) ASSERT_TRUE(w.Append(i * 4096, page, &err));
        w.StartSync();
        EXPECT_EQ(w.Drain(&err), !sync_fails);
        EXPECT_EQ(written_at_sync, std::vector<std::uint64_t>{kPages * 4096});
        if (sync_fails) {
            EXPECT_EQ(err, "the disk is gone");
            EXPECT_FALSE(w.Append(0, page, &err));
            continue;
        }
        // The buffers are let go once a sync is asked for. With the writer slow, every
        // buffer is still queued then: writes after it make buffers again (rather than
        // wait for one to come back) and are all written, before the next sync.
        slow = true;
        for (std::uint64_t i = 0; i < kPages; ++i) ASSERT_TRUE(w.Append(i * 4096, page, &err));
        w.StartSync();
        for (std::uint64_t i = 0; i < kPages; ++i) ASSERT_TRUE(w.Append(i * 4096, page, &err));
        w.StartSync();
        ASSERT_TRUE(w.Drain(&err));
        EXPECT_EQ(written, 3 * kPages * 4096);
        ASSERT_GE(written_at_sync.size(), 2u);  // two syncs asked for at once may be one
        EXPECT_EQ(written_at_sync.back(), 3 * kPages * 4096);
    }
}

#ifndef _WIN32
// A write that fails while the new file is being made (here the file-size limit: the
// write stops short, then fails, as on a full disk) ends the compaction with the
// system's reason, through the writer thread; nothing is named, nothing stays behind.
TEST(Refusals, WriteErrorDuringTheRepack) {
    Scratch s;
    jet::GenerateOptions g;  // about 6 MB of rows: the output outgrows the limit early
    g.source = CorpusDir() / "jet4" / "indexTestV2000.mdb";
    g.output = s.dir() / "big.mdb";
    g.table = "Table1";
    g.rows = 100000;
    g.narrow = true;
    ASSERT_TRUE(jet::GenerateDatabase(g).ok);

    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 1u << 20;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    ExpectRefused(s, g.output, std::string("': ") + std::strerror(EFBIG));
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, old_handler);
}
#endif

}  // namespace
}  // namespace compacttest

namespace compacttest {
namespace {

// A run killed while it spilled leaves its temporary file and spill files, unlocked.
// The next compaction in that directory removes such files of any destination, and
// only those: the temporary file and spill file of a live run (its temporary file
// held), whether it writes the same destination or another, other names, and (on
// POSIX) another user's files stay.
TEST(Leftovers, FilesOfAKilledRunGoWithTheNextRunInTheirDirectory) {
    Scratch s;
    const fs::path src = s.Copy(kJet4, "src.mdb");
    const fs::path dest = s.dir() / "out.mdb";
    std::vector<fs::path> dead;
    for (const char* temp : {".out.mdb.compact-k1lled", ".other.v2.mdb.compact-Dead00"}) {
        dead.push_back(s.dir() / temp);
        for (const char* n : {"", ".spill-0", ".spill-17"}) dead.push_back(s.dir() / (temp + std::string(n)));
    }
    for (const auto& f : dead) WriteAll(f, {1, 2});
    std::vector<std::string> others = {
        ".out.mdb.compact-k1lled.spill-x",  // not one of our numbers
        ".out.mdb.compact-k1lled0",         // not mkstemp's six characters
        ".out.mdb.compact-k1lled.bak",
        ".compact-k1lled",                  // no destination's name
        "out.mdb.spill-0"};
#ifndef _WIN32
    if (::geteuid() == 0) {  // a dead run of another user's
        others.push_back(".theirs.mdb.compact-nobody");
        WriteAll(s.dir() / others.back(), {3});
        ASSERT_EQ(::chown((s.dir() / others.back()).c_str(), 65534, 65534), 0);
    }
#endif
    for (const auto& n : others)
        if (!fs::exists(s.dir() / n)) WriteAll(s.dir() / n, {3});

    // Two live runs, one writing this destination, one another (a concurrent
    // compaction in the same directory), each with a spill file.
    jet::OutputFile live_same, live_other;
    std::string err;
    ASSERT_TRUE(live_same.Create(dest, 4096, &err)) << err;
    ASSERT_TRUE(live_other.Create(s.dir() / "busy.mdb", 4096, &err)) << err;
    jet::SpillSettings same_settings, other_settings;
    same_settings.name_base = live_same.temp_path();
    other_settings.name_base = live_other.temp_path();
    jet::SpillFile same_spill(same_settings), other_spill(other_settings);
    EXPECT_TRUE(jet::OutputFile::InUse(live_other.temp_path()));
    EXPECT_FALSE(jet::OutputFile::InUse(dead.front()));

    jet::CompactResult r = jet::Compact(src, dest);
    ASSERT_TRUE(r.compacted) << r.reason;
    for (const auto& f : dead) EXPECT_FALSE(fs::exists(f)) << "a killed run's file stayed: " << f;
    for (const auto& f : {live_same.temp_path(), same_spill.path(), live_other.temp_path(),
                          other_spill.path()})
        EXPECT_TRUE(fs::exists(f)) << "a live run's file was removed: " << f;
    for (const auto& n : others) EXPECT_TRUE(fs::exists(s.dir() / n)) << n;
}

}  // namespace
}  // namespace compacttest
