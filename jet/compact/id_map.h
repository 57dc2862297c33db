// Table Ids after compaction. A local table's Id is the page of its definition, so
// tables that move get new Ids; every other Id stays. Columns that hold object Ids
// are rewritten through the map, and so are the keys of indexes that lead with them.
// A "stale" Id (held by a row but naming no object) must keep naming no object.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace jet {

class IdMap {
  public:
    // REQUIRES: old_id was not added before
    void Add(std::int32_t old_id, std::int32_t new_id);
    // The Id after compaction (the same value when it names no moved table).
    std::int32_t Map(std::int32_t id) const;
    bool Moves(std::int32_t id) const;
    std::size_t size() const { return map_.size(); }

  private:
    std::map<std::int32_t, std::int32_t> map_;  // old Id -> new Id
};

// True when table.column holds object Ids.
bool IsIdColumn(const std::string& table, const std::string& column);

// Index keys of a long-integer column: 0x7F, then the value big-endian with the sign
// bit flipped (in a descending index every byte of that inverted). Rewrites the leading
// key of `entry` through `ids` when it is such a key. Returns true when the entry changed.
bool MapLeadingIdKey(std::span<std::uint8_t> entry, const IdMap& ids);

// Encodes / decodes an ascending long-integer index key (5 bytes).
void EncodeIdKey(std::int32_t id, std::span<std::uint8_t> out);
std::int32_t DecodeIdKey(std::span<const std::uint8_t> key);

}  // namespace jet
