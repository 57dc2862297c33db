#include "batch/batch_lock.h"

#include <fstream>

#include "common/text.h"
#include "platform/arguments.h"
#include "platform/process.h"

namespace mdb::batch {

BatchLock::BatchLock(const std::string& programDir, const std::string& holder) {
    const std::string path = CollapseSeparators(programDir + "/config/compaction.lock");
    const platform::OpenResult opened = file_.Open(path, platform::OpenMode::WriteExclusiveCreate);
    if (opened == platform::OpenResult::Ok) {
        const std::string text =
            holder + ", process " + std::to_string(platform::CurrentProcessId()) + "\n";
        file_.Truncate();
        file_.Append(text);
        return;
    }
    if (opened != platform::OpenResult::SharingViolation) {
        openError_ = file_.LastError();
        return;
    }
    heldByAnother_ = true;
    // The holder keeps its text in the file while it holds the lock; reading needs no lock.
    std::ifstream in(platform::PathFromUtf8(path));
    std::getline(in, holder_);
}

}  // namespace mdb::batch
