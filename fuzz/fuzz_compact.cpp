// Feeds arbitrary bytes (mutated sample databases) to the compactor. It must either
// refuse with a reason and leave no destination, or write a file our checker finds
// sound (index keys that disagree with their rows only where the source's did). A crash,
// a hang, a leak or anything else is a finding.
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
    } else if (!jet::CheckFile(dst).sound()) {
        // Compaction copies index keys as they are: a key that disagrees with its row's
        // values in the source disagrees in the new file too (the batch's check before
        // compacting is what finds it). So the new file must be sound but for its keys,
        // and only a source with such keys may give a new file with such keys.
        jet::CheckReading no_keys;
        no_keys.index_keys = false;
        if (!jet::CheckFile(dst, no_keys).sound()) std::abort();
        const bool source_keys_disagree =
            jet::CheckFile(src).problems.size() > jet::CheckFile(src, no_keys).problems.size();
        if (!source_keys_disagree) std::abort();
    }
    // Nothing but the input and the output may be in the work directory.
    if (!fuzzfiles::OnlyThese(WorkDir("fuzz-compact"), src, dst)) std::abort();
    fs::remove(dst, ec);
    return 0;
}
