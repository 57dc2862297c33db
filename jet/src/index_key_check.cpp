#include "index_key_check.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "jet/index.h"
#include "jet/value.h"

namespace jet {

namespace {

// A 64-bit finalizer that spreads every input bit over the whole word (the one
// MurmurHash3 ends with).
std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return x;
}

}  // namespace

std::uint64_t EntryHash(std::uint32_t row, const std::uint8_t* key, std::size_t size) {
    std::uint64_t h = Mix((std::uint64_t{row} << 16) ^ size);
    for (; size >= 8; key += 8, size -= 8) {
        std::uint64_t w;
        std::memcpy(&w, key, 8);
        h = Mix(h ^ w) + 0x9E3779B97F4A7C15ull;
    }
    std::uint64_t w = 0;
    std::memcpy(&w, key, size);
    return Mix(h ^ w ^ (std::uint64_t{size} << 59));
}

TableKeys::TableKeys(const TableDef& table, bool jet3, std::uint32_t database_order,
                     bool enabled)
    : table_(table), jet3_(jet3), enabled_(enabled), indexes_(table.real_indexes.size()) {
    std::vector<std::size_t> columns;
    for (std::size_t i = 0; enabled && i < indexes_.size(); ++i) {
        indexes_[i].encoder = IndexKeyEncoder::Make(table, i, jet3, database_order, nullptr);
        if (!indexes_[i].encoder) continue;
        any_ = true;
        for (std::size_t f : indexes_[i].encoder->fields())
            if (std::find(columns.begin(), columns.end(), f) == columns.end()) columns.push_back(f);
    }
    std::sort(columns.begin(), columns.end());
    if (any_) cracker_.emplace(table, jet3, columns);
}

void TableKeys::AddRow(RowAddr slot, Bytes row, TableReader& reader) {
    if (!any_ || unknown_) return;
    try {
        cracker_->Crack(row, cracked_);
        for (Index& ix : indexes_) {
            if (!ix.encoder) continue;
            ix.encoder->ValuesOf(row, cracked_, reader, values_, scratch_);
            if (!ix.encoder->HasEntry(values_)) continue;
            ix.encoder->Encode(values_, key_);
            ix.digest.Add(EntryHash(slot.Packed(), key_.data(), key_.size()));
        }
    } catch (const FormatError&) {
        unknown_ = true;
    }
}

const IndexKeyEncoder* TableKeys::encoder(std::size_t i) const {
    return unknown_ || !indexes_[i].encoder ? nullptr : &*indexes_[i].encoder;
}

std::vector<KeyFault> FindKeyFaults(PageFile& file, const TableDef& table, std::size_t i,
                                    const IndexKeyEncoder& encoder,
                                    const std::function<bool(RowAddr)>& live,
                                    const std::string& who, std::size_t limit) {
    // Each live row's key (none for a row the index leaves out).
    std::unordered_map<std::uint32_t, std::optional<std::vector<std::uint8_t>>> keys;
    TableReader reader(file, table);
    std::vector<KeyValue> values;
    std::vector<std::vector<std::uint8_t>> scratch;
    CrackedRow cracked;
    reader.ForEachRow([&](const RowRef& r) {
        CrackRow(table, r.bytes, file.jet3(), cracked);
        encoder.ValuesOf(r.bytes, cracked, reader, values, scratch);
        auto& key = keys[r.slot.Packed()];
        if (encoder.HasEntry(values)) encoder.Encode(values, key.emplace());
        return true;
    });
    std::vector<KeyFault> out;
    std::size_t wrong = 0, left_out = 0;
    std::unordered_set<std::uint32_t> indexed;
    WalkIndex(file, table.real_indexes[i].root, table.page,
              [&](const IndexEntry& e, std::uint32_t page) {
                  if (!live(e.row)) return;
                  auto it = keys.find(e.row.Packed());
                  if (it == keys.end()) return;
                  indexed.insert(e.row.Packed());
                  const std::string at = who + ": entry at page " + std::to_string(page) +
                                         " offset " + std::to_string(e.offset);
                  if (!it->second) {
                      if (++left_out <= limit)
                          out.push_back({page, at + " indexes row " + e.row.ToString() +
                                                   ", whose key columns are all null: the "
                                                   "index leaves such rows out"});
                  } else if (it->second->size() != e.key_size ||
                             !std::equal(it->second->begin(), it->second->end(), e.bytes.begin())) {
                      if (++wrong <= limit)
                          out.push_back({page, at + " does not match the values of row " +
                                                   e.row.ToString() + " (key " +
                                                   HexUpper(Bytes(e.bytes).first(e.key_size)) +
                                                   ", the row's " + HexUpper(*it->second) + ")"});
                  }
              });
    std::size_t missing = 0;
    std::vector<std::uint32_t> missing_rows;
    for (const auto& [row, key] : keys)
        if (key && !indexed.count(row)) missing_rows.push_back(row);
    std::sort(missing_rows.begin(), missing_rows.end());
    const std::uint32_t root = table.real_indexes[i].root;
    for (std::uint32_t row : missing_rows)
        if (++missing <= limit)
            out.push_back({row >> 8, who + ": row " + UnpackRowPtr(row).ToString() +
                                         " is live but missing from the index"});
    auto more = [&](std::size_t n, const std::string& what) {
        if (n > limit) out.push_back({root, who + ": " + std::to_string(n - limit) + " more " + what});
    };
    more(wrong, "entries do not match their rows' values");
    more(left_out, "entries index rows the index leaves out");
    more(missing, "live rows are missing from the index");
    return out;
}

DuplicateKeys::DuplicateKeys(PageFile& file, const TableDef& table, std::size_t index,
                             std::size_t limit)
    : table_(table),
      index_(index),
      limit_(limit),
      unique_(IsUniqueIndex(table, index)),
      reader_(file, table) {}

bool DuplicateKeys::KeyHasNull(RowAddr row) {
    const RowRef r = reader_.Resolve(row);
    const CrackedRow cr = CrackRow(table_, r.bytes, reader_.file().jet3());
    for (const IndexColumn& c : table_.real_indexes[index_].columns)
        for (std::size_t f = 0; f < table_.columns.size(); ++f)
            if (table_.columns[f].number == c.column && table_.columns[f].type != kColBool &&
                cr.fields[f].null)
                return true;
    return false;
}

void DuplicateKeys::Add(std::span<const IndexEntry> entries, std::uint32_t page) {
    if (!unique_ || entries.empty()) return;
    auto key = [](const IndexEntry& e) { return std::span(e.bytes.data(), e.key_size); };
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const IndexEntry& e = entries[k];
        const std::span<const std::uint8_t> before =
            k ? key(entries[k - 1]) : std::span<const std::uint8_t>(last_key_);
        if ((k == 0 && !have_last_) || !std::ranges::equal(before, key(e))) continue;
        try {
            if (KeyHasNull(e.row)) continue;
        } catch (const FormatError&) {
            continue;  // not a live row: the walk's own finding
        }
        if (named_.size() < limit_)
            named_.push_back({k ? entries[k - 1].row : last_row_, e.row, page, e.offset});
        ++count_;
    }
    const IndexEntry& last = entries.back();
    last_key_.assign(last.bytes.begin(), last.bytes.begin() + static_cast<std::ptrdiff_t>(last.key_size));
    last_row_ = last.row;
    have_last_ = true;
}

std::vector<KeyFault> DuplicateKeys::Faults(const std::string& who) const {
    std::vector<KeyFault> out;
    for (const Pair& p : named_)
        out.push_back({p.page, who + ": rows " + p.first.ToString() + " and " + p.second.ToString() +
                                   " have the same key, but the index is unique (entry at page " +
                                   std::to_string(p.page) + " offset " + std::to_string(p.offset) +
                                   ")"});
    if (count_ > named_.size())
        out.push_back({named_.empty() ? 0 : named_.front().page,
                       who + ": " + std::to_string(count_ - named_.size()) +
                           " more rows have a key that an earlier row has, but the index is unique"});
    return out;
}

}  // namespace jet
