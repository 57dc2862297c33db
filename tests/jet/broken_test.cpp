// Deliberately damaged copies of corpus files: the checker finds each fault, the
// reader refuses what it must refuse, and nothing crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "jet/checker.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/usage_map.h"
#include "test_util.h"

using namespace jettest;

namespace {

bool HasProblem(const jet::CheckReport& r, const std::string& needle) {
    for (const auto& p : r.problems)
        if (p.text.find(needle) != std::string::npos) return true;
    return false;
}

std::string AllProblems(const jet::CheckReport& r) {
    std::string s;
    for (const auto& p : r.problems) s += p.text + "\n";
    return s;
}

struct Patch {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
};

// Opens a corpus file, lets `find` choose bytes to change, writes the changed copy.
template <typename Find>
fs::path Damage(const TempDir& tmp, const fs::path& src, Find find) {
    jet::Status st;
    auto db = jet::Database::Open(src, &st);
    EXPECT_TRUE(db) << st.reason;
    if (!db) return {};
    std::vector<Patch> patches = find(*db);
    if (patches.empty()) return {};
    auto image = ReadAll(src);
    for (const auto& p : patches)
        std::memcpy(image.data() + p.offset, p.bytes.data(), p.bytes.size());
    fs::path out = tmp.path() / ("damaged-" + src.filename().string());
    WriteAll(out, image);
    return out;
}

std::uint64_t At(jet::Database& db, std::uint32_t page, std::uint32_t off) {
    return std::uint64_t{page} * db.file().page_size() + off;
}

const fs::path kJet4 = CorpusDir() / "jet4" / "indexTestV2000.mdb";
const fs::path kJet3 = CorpusDir() / "jet3" / "indexTestV1997.mdb";

// First data page of the first user table with rows.
std::pair<const jet::TableDef*, std::uint32_t> TableWithRows(jet::Database& db) {
    for (const auto* e : db.Tables(false)) {
        const auto& t = db.Definition(e->tdef_page());
        jet::TableReader rd(db.file(), t);
        if (t.row_count > 0 && !rd.DataPages().empty()) return {&t, rd.DataPages().front()};
    }
    return {nullptr, 0};
}

class Damaged : public ::testing::TestWithParam<fs::path> {};

TEST_P(Damaged, RowOffsetPastThePageIsReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) {
        auto [t, page] = TableWithRows(db);
        auto lay = jet::DataPageLayout::For(db.jet3());
        return std::vector<Patch>{
            {At(db, page, static_cast<std::uint32_t>(lay.row_table)), {0xFF, 0x1F}}};
    });
    ASSERT_FALSE(f.empty());
    jet::CheckReport r = jet::CheckFile(f);
    ASSERT_TRUE(r.opened);
    EXPECT_TRUE(HasProblem(r, "bad row offset")) << AllProblems(r);
    // Reading the table's rows stops at that row instead of reading past the page.
    jet::Status st;
    auto db = jet::Database::Open(f, &st);
    ASSERT_TRUE(db) << st.reason;
    jet::TableReader rows(db->file(), *TableWithRows(*db).first);
    EXPECT_THROW(rows.ForEachRow([](const jet::RowRef&) { return true; }), jet::FormatError);
    // The export of that table fails with a reason instead of printing garbage.
    auto out = RunCommand(Quote(Mdbcompact().string()) + " check " + Quote(f.string()));
    EXPECT_EQ(out.exit_code, 1);
    EXPECT_NE(out.out.find("bad row offset"), std::string::npos);
}

TEST_P(Damaged, IndexEntryOutOfOrderIsReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) -> std::vector<Patch> {
        for (const auto* e : db.Tables(false)) {
            const auto& t = db.Definition(e->tdef_page());
            for (const auto& ri : t.real_indexes) {
                jet::IndexWalk w = jet::WalkIndex(db.file(), ri.root, t.page);
                for (std::uint32_t p : w.pages) {
                    jet::IndexPage ip = jet::ReadIndexPage(db.file(), p);
                    if (!ip.leaf()) continue;
                    for (std::size_t k = 1; k < ip.entries.size(); ++k) {
                        const auto& a = ip.entries[k - 1].bytes;
                        const auto& b = ip.entries[k].bytes;
                        std::size_t d = 0;
                        while (d < a.size() && d < b.size() && a[d] == b[d]) ++d;
                        if (d >= a.size() || d >= b.size() || d < ip.prefix_size || a[d] == 0)
                            continue;
                        // Entry k becomes smaller than entry k-1.
                        return {{At(db, p,
                                    ip.entries[k].offset +
                                        static_cast<std::uint32_t>(d - ip.prefix_size)),
                                 {0x00}}};
                    }
                }
            }
        }
        return {};
    });
    ASSERT_FALSE(f.empty()) << "no index page with two entries";
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "is not greater than the entry before it")) << AllProblems(r);
}

TEST_P(Damaged, FreeSpaceFieldThatDisagreesIsReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) {
        auto [t, page] = TableWithRows(db);
        jet::Page pg = db.file().Read(page);
        std::uint16_t v = static_cast<std::uint16_t>(jet::U16(pg.bytes(), 2) + 2);
        return std::vector<Patch>{{At(db, page, 2), {std::uint8_t(v), std::uint8_t(v >> 8)}}};
    });
    ASSERT_FALSE(f.empty());
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "free bytes but its rows leave")) << AllProblems(r);
    EXPECT_EQ(r.problems.size(), 1u) << AllProblems(r);
}

TEST_P(Damaged, TwoIndexEntriesForOneRowAreReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) -> std::vector<Patch> {
        for (const auto* e : db.Tables(false)) {
            const auto& t = db.Definition(e->tdef_page());
            for (const auto& ri : t.real_indexes) {
                jet::IndexWalk w = jet::WalkIndex(db.file(), ri.root, t.page);
                for (std::uint32_t p : w.pages) {
                    jet::IndexPage ip = jet::ReadIndexPage(db.file(), p);
                    if (!ip.leaf() || ip.entries.size() < 2) continue;
                    const auto& a = ip.entries[0];
                    const auto& b = ip.entries[1];
                    // Keys must differ so that order still holds; b's pointer must be stored.
                    if (a.key_size != b.key_size ||
                        !std::lexicographical_compare(
                            a.bytes.begin(), a.bytes.begin() + static_cast<long>(a.key_size),
                            b.bytes.begin(), b.bytes.begin() + static_cast<long>(b.key_size)))
                        continue;
                    if (b.stored_size < 4) continue;
                    std::vector<std::uint8_t> ptr(a.bytes.end() - 4, a.bytes.end());
                    return {{At(db, p, b.offset + b.stored_size - 4), ptr}};
                }
            }
        }
        return {};
    });
    ASSERT_FALSE(f.empty()) << "no leaf page with two distinct keys";
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "which another entry already indexes")) << AllProblems(r);
    // The second entry now holds its old key for the first one's row, and its own row
    // has no entry left.
    EXPECT_TRUE(HasProblem(r, "does not match the values of row")) << AllProblems(r);
    EXPECT_TRUE(HasProblem(r, "is live but missing from the index")) << AllProblems(r);
}

TEST_P(Damaged, IndexedValueChangedInItsRowIsReported) {
    TempDir tmp;
    std::string row;
    fs::path f = Damage(tmp, GetParam(), [&](jet::Database& db) -> std::vector<Patch> {
        for (const auto* e : db.Tables(false)) {
            const auto& t = db.Definition(e->tdef_page());
            for (const auto& ri : t.real_indexes) {
                const jet::Column* c = t.FindColumn(ri.columns.front().column);
                if (!c || !c->fixed() || c->type == jet::kColBool) continue;
                // The first live row with a value there: its last byte changed.
                jet::TableReader rd(db.file(), t);
                std::vector<Patch> out;
                rd.ForEachRow([&](const jet::RowRef& r) {
                    jet::CrackedRow cr = jet::CrackRow(t, r.bytes, db.jet3());
                    const jet::FieldRef& fr = cr.fields[static_cast<std::size_t>(c - t.columns.data())];
                    if (fr.null || r.overflow) return true;
                    const std::size_t in_page = static_cast<std::size_t>(r.bytes.data() - r.page.bytes().data());
                    const std::uint8_t old = r.bytes[fr.begin + fr.size - 1];
                    out.push_back({At(db, r.addr.page, static_cast<std::uint32_t>(in_page + fr.begin + fr.size - 1)),
                                   {static_cast<std::uint8_t>(old ^ 0x5A)}});
                    row = r.slot.ToString();
                    return false;
                });
                if (!out.empty()) return out;
            }
        }
        return {};
    });
    ASSERT_FALSE(f.empty()) << "no index on a fixed column with values";
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "does not match the values of row " + row)) << AllProblems(r);
}

TEST_P(Damaged, FixedColumnPastTheRowAndEntryForNoRowAreReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) -> std::vector<Patch> {
        std::vector<Patch> patches;
        // A fixed column of a table with rows placed past the end of every row.
        const jet::TableDef* t = TableWithRows(db).first;
        const auto col = jet::ColumnLayout::For(db.jet3());
        for (const jet::Column& c : t->columns)
            if (c.fixed() && c.type != jet::kColBool) {
                jet::FieldPos at = t->Where(c.block_at + col.fixed_offset);
                patches.push_back({At(db, at.page, at.offset), {0x00, 0x20}});
                break;
            }
        // An index entry that points at a row slot its page does not have.
        for (const auto& ri : t->real_indexes)
            for (std::uint32_t p : jet::WalkIndex(db.file(), ri.root, t->page).pages) {
                jet::IndexPage ip = jet::ReadIndexPage(db.file(), p);
                if (patches.size() == 2 || !ip.leaf() || ip.entries.size() < 2) continue;
                const auto& b = ip.entries[1];
                if (b.stored_size > jet::kIndexRowPointerSize)
                    patches.push_back({At(db, p, b.offset + b.stored_size - 1), {0xFE}});
            }
        return patches.size() == 2 ? patches : std::vector<Patch>{};
    });
    ASSERT_FALSE(f.empty()) << "no fixed column or leaf page with two entries";
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "lies past the row")) << AllProblems(r);
    EXPECT_TRUE(HasProblem(r, "which is not a live row of the table")) << AllProblems(r);
}

TEST_P(Damaged, UsageMapMissingAPageIsReported) {
    TempDir tmp;
    fs::path f = Damage(tmp, GetParam(), [](jet::Database& db) -> std::vector<Patch> {
        auto [t, page] = TableWithRows(db);
        jet::UsageMap m = jet::ReadUsageMap(db.file(), t->owned_map, db.file().page_count());
        if (m.kind != jet::UsageMap::Kind::Inline) return {};
        jet::Page holder = db.file().Read(m.where.page);
        jet::Bytes row = jet::RowBytes(holder.bytes(), db.jet3(), m.where.row);
        auto row_off = static_cast<std::uint32_t>(row.data() - holder.bytes().data());
        std::uint32_t bit = page - m.start_page;
        std::uint8_t byte = row[5 + bit / 8] & static_cast<std::uint8_t>(~(1u << (bit % 8)));
        return {{At(db, m.where.page, row_off + 5 + bit / 8), {byte}}};
    });
    ASSERT_FALSE(f.empty());
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "usage map does not list it")) << AllProblems(r);
    EXPECT_TRUE(HasProblem(r, "live rows were found")) << AllProblems(r);
}

TEST_P(Damaged, TruncatedFilesAreRefusedOrReported) {
    TempDir tmp;
    auto image = ReadAll(GetParam());
    const std::size_t page = image[0x14] == 0 ? 2048 : 4096;
    // Cut inside a page: refused as truncated, by every command.
    fs::path cut = tmp.path() / "cut.mdb";
    WriteAll(cut, std::vector<std::uint8_t>(
                      image.begin(), image.begin() + static_cast<long>(image.size() / 2 + 100)));
    jet::Status st;
    jet::HeaderResult probe;
    EXPECT_FALSE(jet::Database::Open(cut, &st, &probe));
    EXPECT_EQ(probe.refusal, jet::Refusal::Truncated);
    EXPECT_NE(st.reason.find("truncated"), std::string::npos);
    for (const char* cmd : {" check ", " export ", " tables "}) {
        auto out = RunCommand(Quote(Mdbcompact().string()) + cmd + Quote(cut.string()) +
                              (std::string(cmd) == " export " ? " Table1" : "") + " 2>&1");
        EXPECT_EQ(out.exit_code, 2) << cmd;
        EXPECT_NE(out.out.find("truncated"), std::string::npos) << out.out;
    }
    // Cut at a page boundary: whatever lay in the lost pages is reported missing.
    fs::path half = tmp.path() / "half.mdb";
    std::size_t pages = image.size() / page;
    WriteAll(half, std::vector<std::uint8_t>(
                       image.begin(), image.begin() + static_cast<long>(page * (pages / 2))));
    jet::CheckReport r = jet::CheckFile(half);
    EXPECT_FALSE(r.sound());
}

INSTANTIATE_TEST_SUITE_P(Jet3AndJet4, Damaged, ::testing::Values(kJet3, kJet4),
                         [](const auto& info) { return info.param.stem().string(); });

// A node entry whose key no longer equals the last entry of its child page.
TEST(DamagedIndexNode, NodeEntryThatDiffersFromItsChildIsReported) {
    for (const char* name : {"jet3/compIndexTestV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
        SCOPED_TRACE(name);
        TempDir tmp;
        fs::path f = Damage(tmp, CorpusDir() / name, [](jet::Database& db) -> std::vector<Patch> {
            for (const auto* e : db.Tables(false)) {
                const auto& t = db.Definition(e->tdef_page());
                for (const auto& ri : t.real_indexes) {
                    jet::IndexWalk w = jet::WalkIndex(db.file(), ri.root, t.page);
                    for (std::uint32_t p : w.pages) {
                        jet::IndexPage ip = jet::ReadIndexPage(db.file(), p);
                        if (ip.leaf()) continue;
                        for (const auto& en : ip.entries) {
                            // Last key byte that is stored on the page (not in the shared prefix).
                            if (en.key_size <= ip.prefix_size || en.stored_size < 9) continue;
                            std::uint32_t off = en.offset + en.stored_size - 9;
                            return {
                                {At(db, p, off),
                                 {static_cast<std::uint8_t>(en.bytes[en.key_size - 1] ^ 0x01)}}};
                        }
                    }
                }
            }
            return {};
        });
        ASSERT_FALSE(f.empty()) << "no node page";
        jet::CheckReport r = jet::CheckFile(f);
        EXPECT_TRUE(HasProblem(r, "does not equal the last entry of child page")) << AllProblems(r);
    }
}

// The first leaf page no longer links on to the second.
TEST(DamagedIndexNode, BrokenLeafSiblingLinkIsReported) {
    for (const char* name : {"jet3/compIndexTestV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
        SCOPED_TRACE(name);
        TempDir tmp;
        fs::path f = Damage(tmp, CorpusDir() / name, [](jet::Database& db) -> std::vector<Patch> {
            for (const auto* e : db.Tables(false)) {
                const auto& t = db.Definition(e->tdef_page());
                for (const auto& ri : t.real_indexes) {
                    jet::IndexWalk w = jet::WalkIndex(db.file(), ri.root, t.page);
                    if (w.leaf_pages.empty() || w.leaf_pages.front() == w.leaf_pages.back())
                        continue;
                    auto lay = jet::IndexPageLayout::For(db.jet3());
                    return {{At(db, w.leaf_pages.front(), static_cast<std::uint32_t>(lay.next)),
                             {0, 0, 0, 0}}};
                }
            }
            return {};
        });
        ASSERT_FALSE(f.empty()) << "no index with two leaf pages";
        jet::CheckReport r = jet::CheckFile(f);
        EXPECT_TRUE(HasProblem(r, "links on to page 0, not")) << AllProblems(r);
    }
}

// A long value stored as a chain whose first row points back at itself.
// The export goes past the value: its row is written with the value null, and the
// value is named on standard error with exit 1.
TEST(DamagedLongValue, LoopingChainIsReportedAndExportSkipsTheValue) {
    TempDir tmp;
    std::string table;
    fs::path f;
    for (const auto& src : CorpusFiles(false)) {
        f = Damage(tmp, src, [&](jet::Database& db) -> std::vector<Patch> {
            for (const auto* e : db.Tables(false)) {
                const auto& t = db.Definition(e->tdef_page());
                jet::TableReader rd(db.file(), t);
                std::vector<Patch> found;
                rd.ForEachRow([&](const jet::RowRef& row) {
                    auto cr = jet::CrackRow(t, row.bytes, db.jet3());
                    for (std::size_t i = 0; i < t.columns.size(); ++i) {
                        const auto& fr = cr.fields[i];
                        if (!jet::IsLongValueType(t.columns[i].type) || fr.null) continue;
                        auto h = jet::ParseLongValueHeader(row.bytes.subspan(fr.begin, fr.size));
                        if (h.kind != jet::LongValueHeader::Kind::Chain) continue;
                        jet::Page holder;
                        auto lv = jet::LvalRowBytes(db.file(), h.first, holder);
                        if (lv.size() - 4 >= h.length) continue;
                        auto off = static_cast<std::uint32_t>(lv.data() - holder.bytes().data());
                        std::uint32_t self = h.first.Packed();
                        found.push_back({At(db, h.first.page, off),
                                         {std::uint8_t(self), std::uint8_t(self >> 8),
                                          std::uint8_t(self >> 16), std::uint8_t(self >> 24)}});
                        table = e->name;
                        return false;
                    }
                    return true;
                });
                if (!found.empty()) return found;
            }
            return {};
        });
        if (!f.empty()) break;
    }
    ASSERT_FALSE(f.empty()) << "no corpus file has a long value stored as a chain";
    jet::CheckReport r = jet::CheckFile(f);
    EXPECT_TRUE(HasProblem(r, "chain loops")) << AllProblems(r);
    auto out = RunCommand(Quote(Mdbcompact().string()) + " export " + Quote(f.string()) + " " +
                          Quote(table) + " 2>&1");
    EXPECT_EQ(out.exit_code, 1);
    EXPECT_NE(out.out.find("skipped row "), std::string::npos) << out.out;
    EXPECT_NE(out.out.find("loops"), std::string::npos) << out.out;
    auto whole = RunCommand(Quote(Mdbcompact().string()) + " export " + Quote(f.string()) + " " +
                            Quote(table) + " 2>/dev/null");
    jet::Status st;
    auto db = jet::Database::Open(f, &st);
    ASSERT_TRUE(db);
    const auto& t = db->Definition(db->FindTable(table)->tdef_page());
    EXPECT_EQ(ParseCsv(whole.out).size(), t.row_count + 1u) << "every row is exported";
}

// Writes `plain` into the scrambled header block at page offset `at` (RC4 is a XOR
// stream, so the change is XORed into the stored bytes).
void WriteHeaderBlock(std::vector<std::uint8_t>& image, std::size_t at,
                      const std::vector<std::uint8_t>& plain) {
    jet::Format fmt = image[0x14] == 0 ? jet::Format::Jet3 : jet::Format::Jet4;
    auto block = jet::DescrambledBlock(image, fmt);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        std::size_t k = at - jet::kHeaderBlockOffset + i;
        image[at + i] ^= block[k] ^ plain[i];
    }
}

class Refused : public ::testing::TestWithParam<fs::path> {};

TEST_P(Refused, PasswordProtectedCopyIsRefused) {
    TempDir tmp;
    auto image = ReadAll(GetParam());
    bool jet3 = image[0x14] == 0;
    std::vector<std::uint8_t> pw(jet3 ? 20 : 40, 0);
    const char* word = "geheim";
    if (jet3) {
        std::memcpy(pw.data(), word, 6);
    } else {
        // Jet 4 stores UCS-2, masked with the integer part of the creation date.
        auto block = jet::DescrambledBlock(image, jet::Format::Jet4);
        double date;
        std::memcpy(&date, block.data() + 0x72 - jet::kHeaderBlockOffset, 8);
        auto mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(date));
        for (int i = 0; i < 6; ++i) pw[2 * i] = static_cast<std::uint8_t>(word[i]);
        for (std::size_t i = 0; i < pw.size(); ++i)
            pw[i] ^= static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
    }
    WriteHeaderBlock(image, 0x42, pw);
    fs::path f = tmp.path() / "password.mdb";
    WriteAll(f, image);
    jet::Status st;
    jet::HeaderResult probe;
    EXPECT_FALSE(jet::Database::Open(f, &st, &probe));
    EXPECT_EQ(probe.refusal, jet::Refusal::Password);
    EXPECT_TRUE(probe.header.has_password);
    auto info = RunCommand(Quote(Mdbcompact().string()) + " info " + Quote(f.string()));
    EXPECT_EQ(info.exit_code, 2);
    EXPECT_NE(info.out.find(jet3 ? "Jet 3" : "Jet 4"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("password"), std::string::npos) << info.out;
    EXPECT_EQ(
        RunCommand(Quote(Mdbcompact().string()) + " check " + Quote(f.string()) + " 2>/dev/null")
            .exit_code,
        2);
    // The untouched original has no password.
    jet::HeaderResult plain;
    EXPECT_TRUE(jet::Database::Open(GetParam(), &st, &plain));
    EXPECT_FALSE(plain.header.has_password);
}

TEST_P(Refused, PageEncryptedCopyIsRefused) {
    TempDir tmp;
    auto image = ReadAll(GetParam());
    WriteHeaderBlock(image, 0x3E, {0x12, 0x34, 0x56, 0x78});
    fs::path f = tmp.path() / "encrypted.mdb";
    WriteAll(f, image);
    jet::Status st;
    jet::HeaderResult probe;
    EXPECT_FALSE(jet::Database::Open(f, &st, &probe));
    EXPECT_EQ(probe.refusal, jet::Refusal::Encrypted);
    EXPECT_EQ(probe.header.db_key, 0x78563412u);
    auto out =
        RunCommand(Quote(Mdbcompact().string()) + " export " + Quote(f.string()) + " Table1 2>&1");
    EXPECT_EQ(out.exit_code, 2);
    EXPECT_NE(out.out.find("encrypted"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Jet3AndJet4, Refused, ::testing::Values(kJet3, kJet4),
                         [](const auto& info) { return info.param.stem().string(); });

TEST(RefusedFiles, AccdbFilesAreRefusedAsAce) {
    int seen = 0;
    for (const auto& e : fs::directory_iterator(CorpusDir() / "other")) {
        if (e.path().extension() != ".accdb") continue;
        ++seen;
        jet::Status st;
        jet::HeaderResult probe;
        EXPECT_FALSE(jet::Database::Open(e.path(), &st, &probe));
        EXPECT_EQ(probe.refusal, jet::Refusal::Ace);
        EXPECT_NE(st.reason.find("ACE"), std::string::npos);
        auto info = RunCommand(Quote(Mdbcompact().string()) + " info " + Quote(e.path().string()));
        EXPECT_EQ(info.exit_code, 2);
        EXPECT_NE(info.out.find("ACE"), std::string::npos) << info.out;
        EXPECT_EQ(RunCommand(Quote(Mdbcompact().string()) + " check " + Quote(e.path().string()) +
                             " 2>/dev/null")
                      .exit_code,
                  2);
    }
    EXPECT_GE(seen, 1);
}

TEST(RefusedFiles, NonJetAndTinyFilesAreRefused) {
    TempDir tmp;
    fs::path text = tmp.path() / "notes.mdb";
    WriteAll(text, std::vector<std::uint8_t>(8192, 'x'));
    fs::path tiny = tmp.path() / "tiny.mdb";
    auto image = ReadAll(kJet4);
    WriteAll(tiny, std::vector<std::uint8_t>(image.begin(), image.begin() + 24));
    fs::path empty = tmp.path() / "empty.mdb";
    WriteAll(empty, {});
    for (const auto& f : {text, tiny, empty}) {
        jet::Status st;
        jet::HeaderResult probe;
        EXPECT_FALSE(jet::Database::Open(f, &st, &probe)) << f;
        EXPECT_NE(probe.refusal, jet::Refusal::None) << f;
        EXPECT_FALSE(st.reason.empty());
    }
}

}  // namespace
