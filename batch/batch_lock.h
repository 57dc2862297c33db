// The lock that keeps two batches of one program directory from running at the same
// time (the window and mdbcompact batch, or two copies of either): the file
// config/compaction.lock, held open with an exclusive sharing lock for the batch. The
// holder writes who it is into the file, so that the one refused can say so.
#pragma once

#include <string>

#include "platform/files.h"

namespace mdb::batch {

class BatchLock {
  public:
    // One attempt to take the lock of `programDir`; `holder` names this program
    // (e.g. "mdbwarden") in the lock file.
    BatchLock(const std::string& programDir, const std::string& holder);
    BatchLock(const BatchLock&) = delete;
    BatchLock& operator=(const BatchLock&) = delete;

    bool Held() const { return file_.IsOpen(); }
    // When not held: who holds it, as that holder wrote it ("mdbwarden, process 1234");
    // empty when unknown.
    const std::string& Holder() const { return holder_; }
    // When not held: true when another process holds the lock; false when the lock file
    // could not be opened at all (then OpenError() gives the system error number).
    bool HeldByAnother() const { return heldByAnother_; }
    int OpenError() const { return openError_; }

  private:
    platform::SharedFile file_;
    std::string holder_;
    bool heldByAnother_ = false;
    int openError_ = 0;
};

}  // namespace mdb::batch
