// Feeds arbitrary bytes (mutated sample databases) to the repair. It must either
// refuse with a reason and leave no destination, or write a file our checker finds
// sound, and never change its source. A crash, a hang, a leak or anything else is a
// finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "jet/checker.h"
#include "jet/compact/repairer.h"

namespace fs = std::filesystem;
using fuzzfiles::WorkDir;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path src = WorkDir("fuzz-repair") / "in.mdb";
    const fs::path dst = WorkDir("fuzz-repair") / "out.mdb";
    std::error_code ec;
    fs::remove(dst, ec);
    fuzzfiles::WriteInput(src, data, size);
    jet::RepairResult r = jet::Repair(src, dst);
    if (!r.repaired) {
        if (r.reason.empty() || fs::exists(dst)) std::abort();
    } else if (!jet::CheckFile(dst).sound()) {
        std::abort();
    }
    std::ifstream in(src, std::ios::binary);
    const std::vector<char> after{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (after.size() != size || (size && std::memcmp(after.data(), data, size) != 0)) std::abort();
    // Nothing but the input and the output may be in the work directory.
    if (!fuzzfiles::OnlyThese(WorkDir("fuzz-repair"), src, dst)) std::abort();
    fs::remove(dst, ec);
    return 0;
}
