// Index keys made from rows: every corpus index entry's key is remade from the row it
// points at and must equal the stored key byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "jet/database.h"
#include "jet/index.h"
#include "jet/index_key.h"
#include "jet/table.h"
#include "jet/value.h"
#include "test_util.h"

using namespace jettest;

namespace {

const char* TypeName(std::uint8_t t) {
    switch (t) {
        case jet::kColBool: return "yes/no";
        case jet::kColByte: return "byte";
        case jet::kColInt: return "integer";
        case jet::kColLong: return "long";
        case jet::kColMoney: return "currency";
        case jet::kColFloat: return "single";
        case jet::kColDouble: return "double";
        case jet::kColDateTime: return "date/time";
        case jet::kColBinary: return "binary";
        case jet::kColText: return "text";
        case jet::kColMemo: return "memo";
        case jet::kColGuid: return "GUID";
        case jet::kColNumeric: return "decimal";
        default: return "other";
    }
}

struct Tally {
    std::uint64_t entries = 0, same = 0;
    void Add(const Tally& o) {
        entries += o.entries;
        same += o.same;
    }
};

std::string Share(const Tally& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%llu / %llu (%.1f %%)", (unsigned long long)t.same,
                  (unsigned long long)t.entries, t.entries ? 100.0 * t.same / t.entries : 100.0);
    return buf;
}

// Remakes every entry of every index of `path`; counts per column type (an entry counts
// for each type among its index's columns). Failures name the first few mismatches.
Tally RemakeAll(const fs::path& path, std::map<std::string, Tally>& by_type,
                std::vector<std::string>& failures, std::vector<std::string>& unsupported) {
    jet::Status st;
    auto db = jet::Database::Open(path, &st);
    if (!db) {
        failures.push_back(path.filename().string() + ": " + st.reason);
        return {};
    }
    Tally file;
    for (const jet::CatalogEntry* e : db->Tables(true)) {
        const jet::TableDef& t = db->Definition(e->tdef_page());
        jet::TableReader rd(db->file(), t);
        std::vector<std::optional<jet::IndexKeyEncoder>> enc;
        for (std::size_t i = 0; i < t.real_indexes.size(); ++i) {
            std::string why;
            enc.push_back(jet::IndexKeyEncoder::Make(t, i, db->jet3(), db->header().sort_order, &why));
            if (!enc.back())
                unsupported.push_back(path.filename().string() + " " + e->name + " index " +
                                      std::to_string(i) + ": " + why);
        }
        // Each live row's key per index, by the row's address in its table.
        std::vector<std::map<std::uint32_t, std::vector<std::uint8_t>>> keys(enc.size());
        std::vector<jet::KeyValue> values;
        std::vector<std::vector<std::uint8_t>> scratch;
        rd.ForEachRow([&](const jet::RowRef& r) {
            jet::CrackedRow cr = jet::CrackRow(t, r.bytes, db->jet3());
            for (std::size_t i = 0; i < enc.size(); ++i) {
                if (!enc[i]) continue;
                enc[i]->ValuesOf(r.bytes, cr, rd, values, scratch);
                if (!enc[i]->HasEntry(values)) continue;
                enc[i]->Encode(values, keys[i][r.slot.Packed()]);
            }
            return true;
        });
        for (std::size_t i = 0; i < enc.size(); ++i) {
            const jet::RealIndex& ri = t.real_indexes[i];
            jet::IndexWalk w = jet::WalkIndex(db->file(), ri.root, t.page);
            Tally idx;
            std::size_t pointed = 0;
            for (const jet::IndexEntry& x : w.leaf_entries) {
                ++idx.entries;
                auto it = enc[i] ? keys[i].find(x.row.Packed()) : keys[i].end();
                if (it == keys[i].end()) {
                    if (enc[i] && failures.size() < 20)
                        failures.push_back(path.filename().string() + " " + e->name + " index " +
                                           std::to_string(i) + ": no key for row " + x.row.ToString());
                    continue;
                }
                ++pointed;
                const std::vector<std::uint8_t> stored(x.bytes.begin(),
                                                       x.bytes.begin() + x.key_size);
                if (stored == it->second) {
                    ++idx.same;
                } else if (failures.size() < 20) {
                    failures.push_back(path.filename().string() + " " + e->name + " index " +
                                       std::to_string(i) + " row " + x.row.ToString() +
                                       ": stored " + jet::HexUpper(stored) + " made " +
                                       jet::HexUpper(it->second));
                }
            }
            if (enc[i] && pointed != keys[i].size())
                failures.push_back(path.filename().string() + " " + e->name + " index " +
                                   std::to_string(i) + ": " + std::to_string(keys[i].size()) +
                                   " rows have keys, " + std::to_string(pointed) +
                                   " entries point at them");
            std::set<std::uint8_t> types;
            for (const jet::IndexColumn& c : ri.columns)
                if (const jet::Column* col = t.FindColumn(c.column)) types.insert(col->type);
            for (std::uint8_t ty : types) by_type[TypeName(ty)].Add(enc[i] ? idx : Tally{});
            if (enc[i]) file.Add(idx);
        }
    }
    return file;
}

TEST(IndexKeys, EveryCorpusEntryIsRemadeFromItsRow) {
    std::map<std::string, Tally> by_type;
    std::vector<std::string> failures, unsupported;
    Tally all;
    std::printf("%-34s %s\n", "file", "entries remade byte-identical");
    for (const fs::path& p : CorpusFiles(true)) {
        Tally t = RemakeAll(p, by_type, failures, unsupported);
        std::printf("%-34s %s\n", p.filename().string().c_str(), Share(t).c_str());
        all.Add(t);
    }
    std::printf("%-34s %s\n", "all files", Share(all).c_str());
    for (const auto& [type, t] : by_type) std::printf("  %-12s %s\n", type.c_str(), Share(t).c_str());
    for (const auto& f : failures) ADD_FAILURE() << f;
    for (const auto& f : unsupported) ADD_FAILURE() << f;
    EXPECT_GT(all.entries, 0u);
    EXPECT_EQ(all.same, all.entries);
}

}  // namespace

namespace {

// A one-column index on a column of `type`, ascending or not.
jet::TableDef OneColumnTable(std::uint8_t type, bool ascending) {
    jet::TableDef t;
    jet::Column c;
    c.name = "c";
    c.type = type;
    c.number = 0;
    t.columns.push_back(c);
    jet::RealIndex ri;
    ri.columns.push_back({0, static_cast<std::uint8_t>(ascending ? 1 : 0)});
    t.real_indexes.push_back(ri);
    return t;
}

template <typename T>
std::vector<std::uint8_t> Le(T v) {
    std::vector<std::uint8_t> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

// Decimal as stored: sign byte, then the magnitude's 32-bit words, most significant
// first, each little-endian.
std::vector<std::uint8_t> Decimal(bool negative, std::uint64_t magnitude) {
    std::vector<std::uint8_t> b(17, 0);
    b[0] = negative ? 0x80 : 0;
    const std::uint32_t hi = static_cast<std::uint32_t>(magnitude >> 32);
    const std::uint32_t lo = static_cast<std::uint32_t>(magnitude);
    std::memcpy(&b[9], &hi, 4);
    std::memcpy(&b[13], &lo, 4);
    return b;
}

// Values of one type in ascending order, a null first.
struct Sorted {
    std::uint8_t type;
    std::vector<std::vector<std::uint8_t>> values;
};

std::vector<Sorted> SortedValues() {
    std::vector<Sorted> v;
    v.push_back({jet::kColByte, {Le<std::uint8_t>(0), Le<std::uint8_t>(1), Le<std::uint8_t>(200)}});
    v.push_back({jet::kColInt, {Le<std::int16_t>(-32768), Le<std::int16_t>(-1), Le<std::int16_t>(0),
                                Le<std::int16_t>(7), Le<std::int16_t>(300)}});
    v.push_back({jet::kColLong, {Le<std::int32_t>(-70000), Le<std::int32_t>(-2), Le<std::int32_t>(0),
                                 Le<std::int32_t>(65536)}});
    v.push_back({jet::kColMoney, {Le<std::int64_t>(-123456789), Le<std::int64_t>(-1),
                                  Le<std::int64_t>(0), Le<std::int64_t>(10000)}});
    v.push_back({jet::kColFloat, {Le<float>(-1e30f), Le<float>(-2.5f), Le<float>(-0.001f),
                                  Le<float>(0.0f), Le<float>(1e-20f), Le<float>(3.5f)}});
    v.push_back({jet::kColDouble, {Le<double>(-1e300), Le<double>(-2.5), Le<double>(0.0),
                                   Le<double>(0.25), Le<double>(1e300)}});
    v.push_back({jet::kColDateTime, {Le<double>(-700.75), Le<double>(-1.5), Le<double>(0.0),
                                     Le<double>(45000.5)}});
    v.push_back({jet::kColNumeric, {Decimal(true, 1ull << 40), Decimal(true, 5), Decimal(false, 0),
                                    Decimal(false, 5), Decimal(false, 1ull << 40)}});
    v.push_back({jet::kColGuid,
                 {std::vector<std::uint8_t>(16, 0x00),
                  {0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                  {0x00, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF},
                  std::vector<std::uint8_t>(16, 0xFF)}});
    v.push_back({jet::kColBinary,
                 {{0x00}, {0x00, 0x00}, {0x01}, {1, 2, 3, 4, 5, 6, 7, 8},
                  {1, 2, 3, 4, 5, 6, 7, 8, 0}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {0xFF}}});
    return v;
}

TEST(IndexKeys, KeysSortAsTheirValuesInBothDirections) {
    for (const Sorted& s : SortedValues()) {
        for (bool asc : {true, false}) {
            jet::TableDef t = OneColumnTable(s.type, asc);
            std::string why;
            auto enc = jet::IndexKeyEncoder::Make(t, 0, false, 1033, &why);
            ASSERT_TRUE(enc) << why;
            std::vector<std::vector<std::uint8_t>> keys(1);
            jet::KeyValue null;
            enc->Encode(std::span(&null, 1), keys[0]);
            for (const auto& b : s.values) {
                jet::KeyValue v{.null = false, .bytes = b};
                enc->Encode(std::span(&v, 1), keys.emplace_back());
            }
            for (std::size_t i = 1; i < keys.size(); ++i) {
                // Jet 3 / 4 put negative decimals before positive ones in a
                // descending index too (fixed only in later versions).
                const bool sign_change = s.type == jet::kColNumeric && i > 1 &&
                                         s.values[i - 2][0] != s.values[i - 1][0];
                EXPECT_EQ(asc || sign_change, keys[i - 1] < keys[i])
                    << "type " << int(s.type) << (asc ? " ascending" : " descending") << " value "
                    << i - 1 << ": " << jet::HexUpper(keys[i - 1]) << " then "
                    << jet::HexUpper(keys[i]);
            }
        }
    }
}

TEST(IndexKeys, YesNoAndIgnoredNulls) {
    jet::TableDef t = OneColumnTable(jet::kColBool, true);
    jet::Column other;
    other.type = jet::kColLong;
    other.number = 1;
    t.columns.push_back(other);
    t.real_indexes[0].columns.push_back({1, 1});
    t.real_indexes[0].flags = jet::kIndexIgnoreNulls;
    auto enc = jet::IndexKeyEncoder::Make(t, 0, true, 1033, nullptr);
    ASSERT_TRUE(enc);
    std::vector<std::uint8_t> yes, no;
    jet::KeyValue v[2] = {{.null = false, .yes = true, .bytes = {}}, {}};
    enc->Encode(v, yes);
    EXPECT_TRUE(enc->HasEntry(v));  // a yes/no column is never null
    v[0].yes = false;
    enc->Encode(v, no);
    EXPECT_LT(yes, no);  // yes is -1, no is 0
    t.real_indexes[0].columns.erase(t.real_indexes[0].columns.begin());
    enc = jet::IndexKeyEncoder::Make(t, 0, true, 1033, nullptr);
    EXPECT_FALSE(enc->HasEntry(std::span(&v[1], 1)));
    t.real_indexes[0].columns[0].column = 9;
    std::string why;
    EXPECT_FALSE(jet::IndexKeyEncoder::Make(t, 0, true, 1033, &why));
    EXPECT_NE(why.find("column 9"), std::string::npos);
}

}  // namespace

namespace {

std::vector<std::uint8_t> Ucs2(const std::u16string& s) {
    std::vector<std::uint8_t> b;
    for (char16_t c : s) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}

// Words in the order every "General" order sorts them: case and accents weigh less
// than the letters, a prefix comes first, trailing spaces do not count.
TEST(IndexKeys, TextKeysSortInEachGeneralOrder) {
    const std::vector<std::u16string> latin = {u"", u"a", u"A b", u"ab", u"abc", u"\u00E1bd",
                                               u"B", u"ba", u"\u00C7a", u"Zebra"};
    // Jet 4 orders place CJK after Latin, by their code (U+4E00 < U+4E01 < U+538B).
    const std::vector<std::u16string> cjk = {u"Zebra", u"\u4E00", u"\u4E00\u4E01", u"\u4E01",
                                             u"\u538B\u7F29"};
    struct Order {
        bool jet3;
        std::uint32_t database_order;  // 1033 and its version in the top byte
        jet::TextSortOrder expected;
    };
    for (Order o : {Order{true, 1033, jet::TextSortOrder::General97},
                    Order{false, 1033, jet::TextSortOrder::GeneralLegacy},
                    Order{false, 1033 | 1u << 24, jet::TextSortOrder::General}}) {
        for (bool asc : {true, false}) {
            jet::TableDef t = OneColumnTable(jet::kColText, asc);
            EXPECT_EQ(jet::ColumnSortOrder(t, t.columns[0], o.jet3, o.database_order), o.expected);
            auto enc = jet::IndexKeyEncoder::Make(t, 0, o.jet3, o.database_order, nullptr);
            ASSERT_TRUE(enc);
            auto key = [&](const std::u16string& s) {
                std::vector<std::uint8_t> stored;
                if (o.jet3) {
                    for (char16_t c : s) stored.push_back(static_cast<std::uint8_t>(c));
                } else {
                    stored = Ucs2(s);
                }
                jet::KeyValue v{.null = false, .yes = false, .bytes = stored};
                std::vector<std::uint8_t> k;
                enc->Encode(std::span(&v, 1), k);
                return k;
            };
            auto check = [&](const std::vector<std::u16string>& words) {
                for (std::size_t i = 1; i < words.size(); ++i)
                    EXPECT_EQ(asc, key(words[i - 1]) < key(words[i]))
                        << "order " << int(o.expected) << (asc ? " asc" : " desc") << " word " << i;
            };
            check(latin);
            if (!o.jet3) check(cjk);
            EXPECT_EQ(key(u"ab  "), key(u"ab"));
            EXPECT_EQ(key(std::u16string(300, u'x')), key(std::u16string(255, u'x')));
        }
    }
    // National orders (here Chinese PRC, 2052) are refused with a reason.
    std::string why;
    jet::TableDef t = OneColumnTable(jet::kColText, true);
    EXPECT_FALSE(jet::IndexKeyEncoder::Make(t, 0, false, 2052, &why));
    EXPECT_NE(why.find("sort order"), std::string::npos);
}

}  // namespace

namespace {

// The "ignore nulls" and "unique" flags of real indexes as the definition stores them,
// against what the indexes hold: in a file made with those properties set, an index
// that ignores nulls has no entry for a row whose key columns are all null, the others
// have one, and a unique index without the flag holds the null key several times.
TEST(IndexKeys, IgnoreNullsFlagSaysWhetherNullRowsHaveEntries) {
    jet::Status st;
    auto db = jet::Database::Open(CorpusDir() / "jet4" / "testIndexPropertiesV2000.mdb", &st);
    ASSERT_TRUE(db) << st.reason;
    int ignoring = 0, unique_with_nulls = 0;
    for (const jet::CatalogEntry* e : db->Tables(false)) {
        const jet::TableDef& t = db->Definition(e->tdef_page());
        for (std::size_t i = 0; i < t.real_indexes.size(); ++i) {
            const jet::RealIndex& ix = t.real_indexes[i];
            std::set<std::uint32_t> listed;
            for (const auto& x : jet::WalkIndex(db->file(), ix.root, t.page).leaf_entries)
                listed.insert(x.row.Packed());
            std::size_t null_rows = 0, null_listed = 0;
            jet::TableReader rd(db->file(), t);
            rd.ForEachRow([&](const jet::RowRef& r) {
                const jet::CrackedRow cr = jet::CrackRow(t, r.bytes, db->jet3());
                bool all_null = true;
                for (const auto& c : ix.columns)
                    for (std::size_t f = 0; f < t.columns.size(); ++f)
                        if (t.columns[f].number == c.column && !cr.fields[f].null) all_null = false;
                null_rows += all_null;
                null_listed += all_null && listed.count(r.slot.Packed());
                return true;
            });
            if (!null_rows) continue;
            SCOPED_TRACE(e->name + " index " + std::to_string(i));
            const bool ignores = ix.flags & jet::kIndexIgnoreNulls;
            EXPECT_EQ(null_listed, ignores ? 0 : null_rows);
            ignoring += ignores;
            unique_with_nulls += !ignores && (ix.flags & jet::kIndexUnique) && null_rows > 1;
        }
    }
    EXPECT_GE(ignoring, 2);
    EXPECT_GE(unique_with_nulls, 2);
}

}  // namespace
