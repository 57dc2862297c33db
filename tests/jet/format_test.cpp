// Decoding details that the corpus does not pin down on its own.
#include <gtest/gtest.h>

#include <cstring>

#include "jet/header.h"
#include "jet/row.h"
#include "jet/tdef.h"
#include "jet/text.h"
#include "jet/value.h"

namespace {

TEST(Rc4, MatchesTheKnownTestVector) {
    std::vector<std::uint8_t> data{'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
    const std::uint8_t key[] = {'K', 'e', 'y'};
    jet::Rc4(key, data);
    EXPECT_EQ(jet::HexUpper(data), "BBF316E8D940AF0AD3");
}

TEST(Text, Jet4CompressedTextSwitchesModesOnZeroBytes) {
    // "ab", switch to two bytes per character, U+4E2D, switch back, "c".
    const std::uint8_t b[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E, 0x00, 'c'};
    EXPECT_EQ(jet::DecodeJet4Text(b),
              "ab\xE4\xB8\xAD"
              "c");
    const std::uint8_t plain[] = {'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE};  // "hé😀"
    EXPECT_EQ(jet::DecodeJet4Text(plain), "h\xC3\xA9\xF0\x9F\x98\x80");
    const std::uint8_t cp[] = {'a', 0x80, 0xE9};
    EXPECT_EQ(jet::DecodeJet3Text(cp), "a\xE2\x82\xAC\xC3\xA9");
}

TEST(Values, DatesMoneyNumericAndGuids) {
    EXPECT_EQ(jet::FormatDate(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(jet::FormatDate(36526.5), "2000-01-01 12:00:00");
    EXPECT_EQ(jet::FormatDate(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(jet::FormatDate(1.0 - 1e-9), "1899-12-31 00:00:00");  // rounds into the next day
    EXPECT_EQ(jet::FormatMoney(35000), "3.5000");
    EXPECT_EQ(jet::FormatMoney(-1), "-0.0001");
    std::uint8_t num[17] = {};
    num[13] = 0x39;  // least significant word (bytes 13..16) = 12345
    num[14] = 0x30;
    EXPECT_EQ(jet::FormatNumeric(num, 2), "123.45");
    num[0] = 0x80;
    EXPECT_EQ(jet::FormatNumeric(num, 0), "-12345");
    num[1] = 1;  // most significant word: 2^96 + 12345
    num[0] = 0;
    EXPECT_EQ(jet::FormatNumeric(num, 0), "79228162514264337593543962681");
    const std::uint8_t g[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(jet::FormatGuid(g), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

// A table with one fixed Long column and three variable text columns.
jet::TableDef SmallTable() {
    jet::TableDef t;
    t.var_column_count = 3;
    jet::Column id;
    id.name = "id";
    id.type = jet::kColLong;
    id.flags = jet::kColFlagFixed;
    id.length = 4;
    t.columns.push_back(id);
    for (int i = 0; i < 3; ++i) {
        jet::Column c;
        c.name = "t" + std::to_string(i);
        c.type = jet::kColText;
        c.number = static_cast<std::uint16_t>(i + 1);
        c.var_index = static_cast<std::uint16_t>(i);
        t.columns.push_back(c);
    }
    return t;
}

// Builds a Jet 3 row: count, fixed Long, variable data, offsets (reversed), jump
// table (reversed), variable count, null mask.
std::vector<std::uint8_t> Jet3Row(const std::vector<std::size_t>& lengths,
                                  std::vector<std::uint8_t> jumps) {
    std::vector<std::uint8_t> row{4, 0x2A, 0, 0, 0};
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        offsets.push_back(row.size());
        row.insert(row.end(), lengths[i], static_cast<std::uint8_t>('a' + i));
    }
    offsets.push_back(row.size());
    for (std::size_t i = offsets.size(); i-- > 0;)
        row.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
    for (std::size_t i = jumps.size(); i-- > 0;) row.push_back(jumps[i]);
    row.push_back(static_cast<std::uint8_t>(lengths.size()));
    row.push_back(0x0F);  // all four columns present
    return row;
}

TEST(Rows, Jet3JumpTableMovesOffsetsPast256) {
    auto t = SmallTable();
    // Column 2 starts at 265 and the end at 270: the jump entry names column 2.
    auto row = Jet3Row({250, 10, 5}, {2});
    ASSERT_EQ((row.size() - 1) / 256, 1u);
    auto cr = jet::CrackRow(t, row, true);
    EXPECT_EQ(cr.fields[1].begin, 5u);
    EXPECT_EQ(cr.fields[1].size, 250u);
    EXPECT_EQ(cr.fields[2].begin, 255u);
    EXPECT_EQ(cr.fields[2].size, 10u);
    EXPECT_EQ(cr.fields[3].begin, 265u);
    EXPECT_EQ(cr.fields[3].size, 5u);
    EXPECT_EQ(row[cr.fields[3].begin], 'c');
    // A cracker of some columns finds them where the full one does, the rest null.
    const std::size_t some[] = {0, 2};
    jet::CrackedRow part;
    jet::RowCracker(t, true, some).Crack(row, part);
    ASSERT_EQ(part.fields.size(), cr.fields.size());
    EXPECT_FALSE(part.fields[0].null);
    EXPECT_EQ(part.fields[0].begin, cr.fields[0].begin);
    EXPECT_EQ(part.fields[2].begin, 255u);
    EXPECT_EQ(part.fields[2].size, 10u);
    EXPECT_TRUE(part.fields[1].null);
    EXPECT_TRUE(part.fields[3].null);
    EXPECT_EQ(jet::FormatScalar(t.columns[0], jet::Bytes(row).subspan(1, 4), true), "42");
}

TEST(Rows, Jet3DummyJumpEntryStillTakesItsByte) {
    auto t = SmallTable();
    // All offsets stay below 256 but the row is 259 bytes long: one jump entry,
    // a dummy 0xFF, sits between the offsets and the count.
    auto row = Jet3Row({240, 5, 2}, {0xFF});
    ASSERT_EQ(row.size(), 259u);
    auto cr = jet::CrackRow(t, row, true);
    EXPECT_EQ(cr.fields[1].size, 240u);
    EXPECT_EQ(cr.fields[2].begin, 245u);
    EXPECT_EQ(cr.fields[2].size, 5u);
    EXPECT_EQ(cr.fields[3].begin, 250u);
    EXPECT_EQ(cr.fields[3].size, 2u);
}

TEST(Rows, NullMaskMissingColumnsAndBadOffsets) {
    auto t = SmallTable();
    // Jet 4 row written when the table had only "id" and "t0": t1 and t2 are null.
    std::vector<std::uint8_t> row{2, 0, 7, 0, 0, 0, 'x', 0, 'y', 0};
    // offsets (reversed): end=10, t0=6; then var count 1; null mask 0b11.
    for (std::uint16_t v : {10, 6, 1}) {
        row.push_back(static_cast<std::uint8_t>(v));
        row.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    row.push_back(0x03);
    auto cr = jet::CrackRow(t, row, false);
    // A row cracked into the buffers of a fuller row reads the same.
    jet::CrackedRow reused = jet::CrackRow(t, Jet3Row({250, 10, 5}, {2}), true);
    jet::CrackRow(t, row, false, reused);
    EXPECT_EQ(reused.var_offsets, cr.var_offsets);
    for (std::size_t i = 0; i < cr.fields.size(); ++i) {
        EXPECT_EQ(reused.fields[i].null, cr.fields[i].null) << i;
        EXPECT_EQ(reused.fields[i].begin, cr.fields[i].begin) << i;
    }
    EXPECT_FALSE(cr.fields[0].null);
    EXPECT_EQ(jet::DecodeJet4Text(jet::Bytes(row).subspan(cr.fields[1].begin, cr.fields[1].size)),
              "xy");
    EXPECT_TRUE(cr.fields[2].null);
    EXPECT_TRUE(cr.fields[3].null);
    // The null mask alone tells whether some columns are all null: t1 and t2 are not
    // stored, t0 is, until its bit is cleared; a mask that does not fit tells nothing.
    const std::size_t unstored[] = {2, 3}, stored[] = {1, 3};
    EXPECT_TRUE(jet::RowCracker(t, false, unstored).AllNull(row));
    EXPECT_FALSE(jet::RowCracker(t, false, stored).AllNull(row));
    row.back() = 0x01;
    EXPECT_TRUE(jet::RowCracker(t, false, stored).AllNull(row));
    row.back() = 0x03;
    EXPECT_FALSE(jet::RowCracker(t, false, unstored).AllNull(std::vector<std::uint8_t>{9}));
    // An offset past the row is an error, not a read out of bounds.
    row[row.size() - 7] = 0xF0;
    EXPECT_THROW(jet::CrackRow(t, row, false), jet::FormatError);
    EXPECT_THROW(jet::CrackRow(t, std::vector<std::uint8_t>{9}, false), jet::FormatError);
}

TEST(Rows, LongValueHeaderKinds) {
    std::uint8_t h[12] = {5, 0, 0, 0x80};
    EXPECT_EQ(jet::ParseLongValueHeader(h).kind, jet::LongValueHeader::Kind::Inline);
    EXPECT_EQ(jet::ParseLongValueHeader(h).length, 5u);
    h[3] = 0x40;
    h[4] = 3;     // row 3
    h[5] = 0x10;  // page 0x10
    auto s = jet::ParseLongValueHeader(h);
    EXPECT_EQ(s.kind, jet::LongValueHeader::Kind::Single);
    EXPECT_EQ(s.first, (jet::RowAddr{0x10, 3}));
    h[3] = 0;
    EXPECT_EQ(jet::ParseLongValueHeader(h).kind, jet::LongValueHeader::Kind::Chain);
    EXPECT_THROW(jet::ParseLongValueHeader(jet::Bytes(h, 11)), jet::FormatError);
}

}  // namespace
