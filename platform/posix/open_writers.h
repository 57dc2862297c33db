// The two ways this system finds out whether any process has a file open for writing.
// Internal to platform/posix: callers use OpenForWritingByAProcess (safe_files.h).
#pragma once

#include <optional>

#include "platform/safe_files.h"

namespace mdb::platform::posix {

// Asks the kernel through a read lease, which it grants only while no descriptor anywhere
// has the file open for writing (nor a writable mapping). It needs a descriptor of the
// file, found among this process's own (the caller holds the file open), and the right to
// take a lease (owner of the file, or CAP_LEASE). Nothing when the answer cannot be had
// this way: no descriptor of ours, not the owner, a file system without leases.
std::optional<bool> WriterByLease(const FileStatus& file);

enum class WalkResult {
    Writer,      // a descriptor open for writing, or a shared writable mapping
    NoWriter,    // none in any process
    NotAllSeen,  // none among the processes this one may see, but it may not see them all
};
// Looks at every open descriptor (/proc/<pid>/fd) and every shared writable mapping
// (/proc/<pid>/maps) of every process. Slow on a busy server (thousands of descriptors),
// but it needs no rights on the file. A process of another user is seen only by root
// (CAP_SYS_PTRACE); /proc mounted with hidepid hides them altogether.
WalkResult WriterByProcessWalk(const FileStatus& file);

}  // namespace mdb::platform::posix
