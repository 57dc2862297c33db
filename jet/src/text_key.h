// Text and memo parts of index keys: the collation codes of Jet's "General" sort
// orders. Used by IndexKeyEncoder only.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/bytes.h"
#include "jet/index_key.h"

namespace jet {

// Whether keys of text in `order` can be made.
bool TextKeysSupported(TextSortOrder order);

// Appends the key of text `stored` (as the row stores it: Jet 4 UCS-2, compressed or
// not; Jet 3 code-page bytes) after its flag byte.
// REQUIRES: TextKeysSupported(order)
void AppendTextKey(TextSortOrder order, Bytes stored, bool jet3, bool ascending,
                   std::vector<std::uint8_t>& out);

}  // namespace jet
