#pragma once
// A gettext message catalog (.mo) read into memory.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mdb::i18n {

// The translations of a .mo file, keyed by their original text. Entries with a context
// or a plural form and the header (the empty key) are left out: the programs use
// neither. False, with nothing read, for bytes that are no valid .mo file (wrong magic
// number, a table or string outside the file).
bool ParseMoCatalog(std::span<const std::uint8_t> bytes,
                    std::unordered_map<std::string, std::string>& out);

}  // namespace mdb::i18n
