// Realistic damage on copies of sample databases, of the kinds a crash, a power cut
// or a failing disk leave in Jet files, with what each one costs: the pages whose
// rows are gone. For the repair's tests and its fuzz target.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace damage {

enum class Kind {
    ZeroDataPage,       // a page of rows written as zeros
    TornPage,           // a data page whose second half is another page's (half written)
    IndexGarbage,       // noise over an index leaf's entries
    ClearedMap,         // a table's usage map with every bit cleared
    UnlistedPage,       // a data page whose bit in its table's map is cleared
    WrongFreeSpace,     // a data page's free-space count off
    ZeroLongValuePage,  // a long-value page written as zeros
    CutOff,             // the file's last pages gone
    CatalogRow,         // a table's catalog row overwritten
    LostHomeSlot,       // an overflow row's home slot flagged deleted: its row is orphaned
    ZeroIndexLeaf,      // an index leaf page written as zeros
};

std::vector<Kind> AllKinds();
const char* Name(Kind kind);
// Only structures derived from the rows are damaged: a repair loses nothing.
bool Lossless(Kind kind);

struct Damage {
    Kind kind;
    std::string table;                // the user table hit
    std::vector<std::uint32_t> pages;  // pages whose content is gone (rows or values)
    std::uint32_t cut_at = 0;          // CutOff: the first page no longer in the file
    std::uint32_t orphan = 0;          // LostHomeSlot: the packed address of the row orphaned
    bool Lost(std::uint32_t page) const;  // `page`'s content is gone
};

// Writes a damaged copy of `source` to `out`, hitting the user table with the most
// rows that has what `kind` needs; nothing when no table has. `seed` picks among the
// candidates (pages, bytes of noise).
std::optional<Damage> Apply(const std::filesystem::path& source, Kind kind,
                            const std::filesystem::path& out, std::uint32_t seed = 0);

// A unique index's key given twice, consistently: of two neighbouring entries of a
// leaf, the later row takes the earlier one's value (a column of fixed size) and its
// entry the earlier key. Only the uniqueness is broken. Nothing when no user table
// has such an index with two rows whose keys have no null.
struct DuplicateKey {
    std::string table;
    std::uint32_t first = 0, second = 0;  // packed slots of the two rows, in key order
};
std::optional<DuplicateKey> ApplyDuplicateKey(const std::filesystem::path& source,
                                              const std::filesystem::path& out);

// A cross-linked page: a data page of one user table (`owner`) that its map no longer
// lists and another map lists instead: another table's (`lister`, whose definition
// comes first), or one of `lister`'s indexes' or long-value columns' maps. Nothing
// when no such map is inline with room for it.
struct CrossLinked {
    std::string owner, lister;
    std::uint32_t page = 0;
};
enum class Lister { Table, Index, LongValue };
std::optional<CrossLinked> ApplyCrossLinkedPage(const std::filesystem::path& source,
                                                const std::filesystem::path& out,
                                                Lister by = Lister::Table);

}  // namespace damage
