// Turning one column value into text: the canonical forms `mdbcompact export` prints.
#pragma once

#include <cstdint>
#include <string>

#include "jet/bytes.h"
#include "jet/tdef.h"

namespace jet {

std::string HexUpper(Bytes b);
// Days since 1899-12-30 (fraction = time of day) as "YYYY-MM-DD HH:MM:SS",
// rounded to the second.
std::string FormatDate(double days);
// Currency: a 64-bit count of 1/10000 units, printed with four decimals.
std::string FormatMoney(std::int64_t units);
// Scaled decimal (17 bytes: sign byte, then four little-endian 32-bit words, most
// significant word first).
std::string FormatNumeric(Bytes b, unsigned scale);
std::string FormatGuid(Bytes b);
// Shortest text that reads back as the same value.
std::string FormatDouble(double d);
std::string FormatFloat(float f);

// Formats a fixed or in-row value of the given column (not memo / OLE, not Boolean).
std::string FormatScalar(const Column& c, Bytes field, bool jet3);

}  // namespace jet
