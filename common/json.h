#pragma once
// A JSON document built in memory and written as one line: the machine-readable results
// of the programs (--json). Objects keep their members in the order they were set, so
// the output reads in the order the human text does.

#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace mdb {

// Version of every document the programs write; raised when a field changes meaning
// or goes away (new fields do not raise it).
inline constexpr int kJsonSchemaVersion = 1;

class Json {
  public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default;  // null
    Json(std::nullptr_t) {}
    Json(bool b) : value_(b) {}
    Json(int n) : value_(static_cast<std::int64_t>(n)) {}
    Json(unsigned n) : value_(static_cast<std::uint64_t>(n)) {}
    Json(long n) : value_(static_cast<std::int64_t>(n)) {}
    Json(unsigned long n) : value_(static_cast<std::uint64_t>(n)) {}
    Json(long long n) : value_(static_cast<std::int64_t>(n)) {}
    Json(unsigned long long n) : value_(static_cast<std::uint64_t>(n)) {}
    Json(double d) : value_(d) {}
    // Text that is not valid UTF-8 (a path of another encoding) is written with each
    // invalid byte as U+FFFD, so that the document stays valid.
    Json(std::string s) : value_(std::move(s)) {}
    Json(std::string_view s) : value_(std::string(s)) {}
    Json(const char* s) : value_(std::string(s)) {}
    Json(Array a) : value_(std::move(a)) {}

    static Json MakeObject() { return Json(Object{}); }
    static Json MakeArray() { return Json(Array{}); }

    // Sets member `key` of an object (appended; an existing key is replaced in place).
    Json& Set(std::string_view key, Json value);
    // Appends to an array.
    Json& Push(Json value);

    std::string Dump() const;

  private:
    explicit Json(Object o) : value_(std::move(o)) {}
    void DumpTo(std::string& out) const;
    std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string, Array,
                 Object>
        value_ = nullptr;
};

// `when` as ISO 8601 in UTC, "2026-12-10T03:01:19Z".
std::string IsoUtcTime(std::time_t when);

// {"schema": 1, "command": command}: the start of every document.
Json JsonDocument(std::string_view command);

}  // namespace mdb
