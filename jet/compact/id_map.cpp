#include "jet/compact/id_map.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <string_view>

namespace jet {

void IdMap::Add(std::int32_t old_id, std::int32_t new_id) {
    bool inserted = map_.emplace(old_id, new_id).second;
    assert(inserted);
    (void)inserted;
}

std::int32_t IdMap::Map(std::int32_t id) const {
    auto it = map_.find(id);
    return it == map_.end() ? id : it->second;
}

bool IdMap::Moves(std::int32_t id) const {
    auto it = map_.find(id);
    return it != map_.end() && it->second != id;
}

// Object names are ASCII; compared without the C library's locale-dependent calls.
static bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Every column holding object Ids that compaction rewrites: table and column name
// (compared ignoring case).
struct IdColumnRule {
    const char* table;
    const char* column;
};
static constexpr IdColumnRule kIdColumns[] = {
    {"MSysObjects", "Id"},          {"MSysObjects", "ParentId"},
    {"MSysACEs", "ObjectId"},       {"MSysNavPaneGroupToObjects", "ObjectID"},
    {"MSysNavPaneObjectIDs", "Id"},
};

bool IsIdColumn(const std::string& table, const std::string& column) {
    for (const auto& r : kIdColumns)
        if (EqualAsciiNoCase(r.table, table) && EqualAsciiNoCase(r.column, column)) return true;
    return false;
}

void EncodeIdKey(std::int32_t id, std::span<std::uint8_t> out) {
    assert(out.size() >= 5);
    std::uint32_t v = static_cast<std::uint32_t>(id) ^ 0x80000000u;
    out[0] = 0x7F;
    for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::int32_t DecodeIdKey(std::span<const std::uint8_t> key) {
    assert(key.size() >= 5);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | key[1 + i];
    return static_cast<std::int32_t>(v ^ 0x80000000u);
}

bool MapLeadingIdKey(std::span<std::uint8_t> entry, const IdMap& ids) {
    // A descending index stores the same key with every byte inverted (0x80 first). It
    // is mapped too: left as it was, its entries named the old Ids while the rows held
    // the new ones (a damaged file whose index turned descending, found by fuzzing).
    if (entry.size() < 5 || (entry[0] != 0x7F && entry[0] != 0x80)) return false;
    const std::uint8_t invert = entry[0] == 0x80 ? 0xFF : 0x00;
    std::array<std::uint8_t, 5> key;
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = entry[i] ^ invert;
    const std::int32_t id = DecodeIdKey(key);
    if (!ids.Moves(id)) return false;
    EncodeIdKey(ids.Map(id), key);
    for (std::size_t i = 0; i < key.size(); ++i) entry[i] = key[i] ^ invert;
    return true;
}

}  // namespace jet
