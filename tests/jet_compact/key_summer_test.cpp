// The keys of a table's rows summed on a thread of its own: the same sums as on the
// caller's thread, and, for a sound file, the sums of its indexes' own entries.
#include <gtest/gtest.h>

#include "jet/compact/key_summer.h"
#include "jet/database.h"
#include "jet/index.h"
#include "support.h"

namespace compacttest {
namespace {

using namespace jet;

std::vector<std::optional<IndexKeyEncoder>> Encoders(Database& db, const TableDef& d) {
    std::vector<std::optional<IndexKeyEncoder>> enc;
    std::string why;
    for (std::size_t i = 0; i < d.real_indexes.size(); ++i)
        enc.push_back(IndexKeyEncoder::Make(d, i, db.file().jet3(), db.header().sort_order, &why));
    return enc;
}

// Every table with an index of every corpus file, each row added to a summer with a
// thread and to one without (every fifth row as a row whose home slot was lost, every
// seventh with the first column of its first index lost), and to a third as it is.
TEST(KeySummer, SumsOnItsOwnThreadWhatTheRowsAndTheIndexesGive) {
    Scratch scratch;
    for (const fs::path& original : CorpusJetFiles()) {
        SCOPED_TRACE(original.filename().string());
        const fs::path path = scratch.Copy(original);
        Status status;
        std::unique_ptr<Database> db = Database::Open(path, &status);
        ASSERT_TRUE(db) << status.reason;
        std::unique_ptr<PageFile> own = PageFile::Open(path, &status.reason);
        ASSERT_TRUE(own);
        for (const CatalogEntry* e : db->Tables(true)) {
            const TableDef& d = db->Definition(e->tdef_page());
            if (d.real_indexes.empty()) continue;
            SCOPED_TRACE(e->name);
            const auto enc = Encoders(*db, d);
            KeySummer threaded(d, db->file().jet3(), enc, db->file(), own.get());
            KeySummer inline_(d, db->file().jet3(), enc, db->file(), nullptr);
            KeySummer sound(d, db->file().jet3(), enc, db->file(), nullptr);
            std::vector<std::uint16_t> lost;
            if (enc[0]) lost.push_back(static_cast<std::uint16_t>(enc[0]->fields()[0]));
            struct Row {
                RowAddr slot;
                std::vector<std::uint8_t> bytes;
            };
            std::vector<Row> rows;
            TableReader(db->file(), d).ForEachRow([&](const RowRef& r) {
                rows.push_back({r.slot, std::vector<std::uint8_t>(r.bytes.begin(), r.bytes.end())});
                sound.Add(rows.size() - 1, r.slot, r.bytes, false, {});
                return true;
            });
            // Three rounds, so that the large table fills the queue and the caller
            // sums some batches itself.
            std::uint64_t place = 0;
            for (int round = 0; round < 3; ++round)
                for (const Row& r : rows) {
                    const bool orphan = place % 5 == 0;
                    const auto gone = place % 7 == 0 ? std::span<const std::uint16_t>(lost) : std::span<const std::uint16_t>();
                    threaded.Add(place, r.slot, r.bytes, orphan, gone);
                    inline_.Add(place, r.slot, r.bytes, orphan, gone);
                    ++place;
                }
            const KeySummer::Sums a = threaded.Finish(), b = inline_.Finish(), s = sound.Finish();
            EXPECT_EQ(a.by_place, b.by_place);
            EXPECT_EQ(a.by_slot, b.by_slot);
            EXPECT_EQ(a.orphan_keys, b.orphan_keys);
            // The file is sound: each index's entries, summed by the slots they name,
            // are what its rows give.
            for (std::size_t i = 0; i < enc.size(); ++i) {
                if (!enc[i]) continue;
                KeySum walked;
                const IndexWalk wk = WalkIndex(db->file(), d.real_indexes[i].root, d.page,
                                               LeafPageVisitor([&](std::span<const IndexEntry> entries, std::uint32_t) {
                                                   for (const IndexEntry& x : entries)
                                                       walked.Add(x.row.Packed(), HashKey(std::span(x.bytes.data(), x.key_size)));
                                               }));
                ASSERT_TRUE(wk.complete);
                EXPECT_TRUE(s.by_slot[i].readable);
                EXPECT_EQ(walked, s.by_slot[i]) << "index " << i;
            }
        }
    }
}

}  // namespace
}  // namespace compacttest
