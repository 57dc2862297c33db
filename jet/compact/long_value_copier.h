// Copies one memo / OLE value's long-value rows to new long-value pages, chain
// links rewritten for the new places.
#pragma once

#include <cstdint>

#include "jet/compact/row_page_writer.h"
#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table.h"

namespace jet {

// Copies the rows of a value stored outside its row (Single or Chain) and returns
// the new address of its first row. Throws FormatError for a broken chain (a loop,
// a missing or deleted row, a chain shorter than the header says).
// REQUIRES: header.kind != Inline
RowAddr CopyLongValue(PageFile& file, const LongValueHeader& header, RowPageWriter& out,
                      const ReadLimits& limits, std::uint32_t upcoming_page);

}  // namespace jet
