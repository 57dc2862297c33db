// Feeds arbitrary bytes (mutated sample databases) to the compactor. It must either
// refuse with a reason and leave no destination, or write a file our checker finds
// sound. A crash, a hang, a leak or anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_files.h"
#include "jet/checker.h"
#include "jet/compact/compactor.h"

namespace fs = std::filesystem;
using fuzzfiles::WorkDir;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path src = WorkDir("fuzz-compact") / "in.mdb";
    const fs::path dst = WorkDir("fuzz-compact") / "out.mdb";
    std::error_code ec;
    fs::remove(dst, ec);
    fuzzfiles::WriteInput(src, data, size);
    // Half the inputs under a one-byte memory budget, so that the spilling path meets
    // damaged files too (its spill files must go like the output's temporary file).
    jet::CompactOptions options;
    if (size % 2) options.memory_budget = 1;
    jet::CompactResult r = jet::Compact(src, dst, {}, options);
    if (!r.compacted) {
        if (r.reason.empty() || fs::exists(dst)) std::abort();
    } else {
        jet::CheckReport report = jet::CheckFile(dst);
        if (!report.sound()) std::abort();
    }
    // Nothing but the input and the output may be in the work directory.
    if (!fuzzfiles::OnlyThese(WorkDir("fuzz-compact"), src, dst)) std::abort();
    fs::remove(dst, ec);
    return 0;
}
