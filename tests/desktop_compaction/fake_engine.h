// A fake engine for the replacement tests: the compacted file is the first half of the
// source, so that tests can tell original and compacted bytes apart.
#pragma once

#include <string>

#include "common/utf16.h"
#include "file_bytes.h"

inline int HalfCompactor(std::u16string source, std::u16string destination, std::string& reason) {
    reason.clear();
    const std::string bytes = ReadBytes(*mdb::Utf16ToUtf8(source));
    WriteBytes(*mdb::Utf16ToUtf8(destination), bytes.substr(0, bytes.size() / 2));
    return 1;
}
