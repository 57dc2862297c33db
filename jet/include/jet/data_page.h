// Data pages (type 0x01): header fields and the row offset table.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/page_file.h"

namespace jet {

// The owner field of a data page (a TDEF page, kLvalOwner, or 0) or of an index page
// (its TDEF page).
inline std::uint32_t PageOwner(Bytes page) {
    return U32(page, kPageOwnerAt);
}

struct RowSlot {
    std::uint16_t raw = 0;    // the slot word with its flags
    std::uint32_t begin = 0;  // offset of the row's first byte in the page
    std::uint32_t end = 0;    // one past the row's last byte
    bool deleted() const { return raw & kRowDeleted; }
    bool overflow() const { return raw & kRowOverflow; }
    // Only a slot with neither flag holds a live row in place.
    bool live() const { return !(raw & (kRowDeleted | kRowOverflow)); }
    std::uint32_t size() const { return end - begin; }
};

struct DataPageInfo {
    std::uint16_t free_space = 0;
    std::uint32_t owner = 0;
    std::vector<RowSlot> slots;
    bool slots_valid = true;    // every slot lies inside the page's row area
    std::string first_problem;  // describes the first invalid slot
};

// Reads the header and slot table. Slots with an impossible extent are kept (their
// begin/end are clamped) and reported through slots_valid / first_problem.
DataPageInfo ReadDataPage(Bytes page, bool jet3);

// The bytes of one row; throws FormatError when the slot is absent or its extent invalid.
Bytes RowBytes(Bytes page, bool jet3, unsigned row);

// Free space that the page's header should hold, recomputed from its rows.
std::uint32_t ComputedFreeSpace(const DataPageInfo& info, std::uint32_t page_size, bool jet3);

}  // namespace jet
