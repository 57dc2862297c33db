#include "jet/compact/verifier.h"

#include <memory>
#include <new>
#include <set>

#include "jet/compact/verify_tasks.h"

namespace jet {

Status VerifyCompacted(Database& source, const std::filesystem::path& source_path,
                       const std::filesystem::path& compacted, const IdMap& ids,
                       const std::vector<std::uint32_t>& fillers, const CompactProgressFn& progress,
                       const VerifyOptions& options) {
    Status st;
    std::unique_ptr<Database> out = Database::Open(compacted, &st);
    if (!out) return Status::Fail("it cannot be opened: " + st.reason);
    out->file().set_cache_capacity(kVerifyCachePages);
    out->file().set_block_reads(true);
    // A new file that fits the cache is read whole into memory once and shared by
    // every reader of it: a cache would copy every page into frames made resident for
    // it, once per reader. A larger file keeps its caches, whose frames are reused
    // and bounded.
    const bool loaded = out->file().page_count() <= kVerifyCachePages && out->file().set_loaded();
    // The file must also be sound on its own, as any later reader will see it: that
    // check is one of the verification's tasks, run on the second worker through a
    // handle of its own. A failed comparison is still reported before anything the
    // check finds, as when the two ran one after the other.
    const std::set<std::uint32_t> spare(fillers.begin(), fillers.end());
    CheckReport soundness;
    try {
        soundness = RunVerification(VerifyRun{.src = source,
                                              .out = *out,
                                              .src_path = source_path,
                                              .out_path = compacted,
                                              .loaded = loaded,
                                              .ids = ids,
                                              .fillers = spare,
                                              .progress = progress,
                                              .options = options});
    } catch (const FormatError& e) {
        return Status::Fail(e.what());
    } catch (const std::bad_alloc&) {
        // Either worker may run short; the file is then neither accepted nor blamed.
        return Status::Fail("it could not be checked: not enough memory");
    }
    if (!soundness.sound())
        return Status::Fail(soundness.problems.empty() ? soundness.open_error
                                                       : soundness.problems.front().text);
    return Status::Ok();
}

}  // namespace jet
