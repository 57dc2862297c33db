#pragma once
// Small text helpers shared by the modules of common/.

#include <string>
#include <string_view>

namespace mdb {

// Replaces every doubled separator by a single one, twice over (as paths are normalised
// after they have been put together).
std::string CollapseSeparators(std::string path);

// True when `a` and `b` are equal ignoring the case of ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);

// Removes white space at both ends.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);

// Replaces every "%s" of `pattern` with `value` (message texts carry one "%s").
std::string FillPlaceholder(std::string_view pattern, std::string_view value);

}  // namespace mdb
