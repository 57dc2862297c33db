// The index entries a table's rows should make, summed so that an index can be checked
// against its rows without keeping anything per row.
#pragma once

#include <cstdint>
#include <span>

namespace jet {

// A row's index key hashed (FNV-1a, 64 bits), and two values no key hashes to in
// practice: the row has no entry, its values cannot be read.
constexpr std::uint64_t kNoEntry = 0, kUnreadable = 1;
inline std::uint64_t HashKey(std::span<const std::uint8_t> key) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : key) h = (h ^ b) * 0x100000001b3ull;
    return h < 2 ? h + 2 : h;
}
// A key's hash in 32 bits, never one of the two values above.
inline std::uint32_t ShortHash(std::uint64_t h) {
    const auto s = static_cast<std::uint32_t>(h ^ (h >> 32));
    return s < 2 ? s + 2 : s;
}

// The entries an index should hold, summed: each (row's place, key hash) pair mixed
// (splitmix64's finaliser) into 64 bits and added. An index whose entries sum to the
// same, one per row and as many, holds those entries (two different sets sum alike with
// a chance of 2^-64), so a sound index is checked against its rows without keeping a
// hash per row (8 bytes a row and index: 160 MB for one index of 20 million rows).
// Addition does not care for order: rows may be summed in any order, on any thread.
struct KeySum {
    std::uint64_t sum = 0;
    std::uint64_t count = 0;  // rows with an entry
    bool readable = true;     // false once a row's key could not be made

    static std::uint64_t Mix(std::uint64_t place, std::uint64_t hash) {
        std::uint64_t z = hash ^ (place * 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    void Add(std::uint64_t place, std::uint64_t hash) {
        sum += Mix(place, hash);
        ++count;
    }
    bool operator==(const KeySum&) const = default;
};

}  // namespace jet
