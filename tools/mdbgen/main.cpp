// mdbgen: writes a large Jet test database from a table of a small one (see
// generator.h). Used by scripts/bench-compact; its files are never committed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/mdbgen/generator.h"

namespace {

const char kUsage[] =
    "usage: mdbgen SOURCE OUTPUT --table NAME (--rows N | --size BYTES[K|M|G])\n"
    "              [--deleted PERCENT] [--narrow | --small-long-values]\n"
    "Repeats the rows of table NAME of SOURCE (with its long values and indexes) until\n"
    "OUTPUT holds N rows or about BYTES bytes; PERCENT of the rows written are then\n"
    "marked deleted. --narrow uses only short rows without long values outside the row;\n"
    "--small-long-values only rows whose long values outside the row are all short.\n";

bool ParseSize(const char* text, std::uint64_t* out) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text) return false;
    std::uint64_t unit = 1;
    if (*end == 'K' || *end == 'k') unit = 1ull << 10;
    if (*end == 'M' || *end == 'm') unit = 1ull << 20;
    if (*end == 'G' || *end == 'g') unit = 1ull << 30;
    if (unit != 1) ++end;
    if (*end != '\0') return false;
    *out = v * unit;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    jet::GenerateOptions o;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--table" && has_value) {
            o.table = argv[++i];
        } else if (a == "--rows" && has_value) {
            if (!ParseSize(argv[++i], &o.rows)) return std::fputs(kUsage, stderr), 2;
        } else if (a == "--size" && has_value) {
            if (!ParseSize(argv[++i], &o.bytes)) return std::fputs(kUsage, stderr), 2;
        } else if (a == "--deleted" && has_value) {
            o.deleted_per_mille = static_cast<unsigned>(std::atof(argv[++i]) * 10);
        } else if (a == "--narrow") {
            o.narrow = true;
        } else if (a == "--small-long-values") {
            o.small_long_values = true;
        } else if (a[0] != '-' && positional == 0) {
            o.source = a;
            ++positional;
        } else if (a[0] != '-' && positional == 1) {
            o.output = a;
            ++positional;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (positional != 2 || o.table.empty() || (o.rows == 0 && o.bytes == 0) ||
        (o.narrow && o.small_long_values) ||
        o.deleted_per_mille >= 1000) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    jet::GenerateResult r = jet::GenerateDatabase(o);
    if (!r.ok) {
        std::fprintf(stderr, "mdbgen: %s\n", r.reason.c_str());
        return 1;
    }
    std::printf("%s: %u pages, %llu rows written, %llu live\n", o.output.c_str(), r.pages,
                static_cast<unsigned long long>(r.rows_written),
                static_cast<unsigned long long>(r.rows_live));
    return 0;
}
