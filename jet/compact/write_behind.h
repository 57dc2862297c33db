// Writes byte runs at their offsets on a thread of its own while the caller goes on
// producing them: the caller fills a buffer, the writer thread writes the buffers filled
// before it. Bounded: a few buffers in all; Append waits while every one is queued or
// being written. Runs are written in the order they were given, so a place written
// twice ends with the bytes given last. StartSync queues a sync behind them, made on
// the same thread while the caller goes on (reading the file back, say).
//
// The first write or sync that fails is kept: later buffers are dropped unwritten, and
// Append and Drain report it. Destroying a WriteBehind tells the thread to stop (what is still
// queued is dropped) and joins it, by every exit path.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "jet/resident_buffer.h"

namespace jet {

class WriteBehind {
  public:
    // Writes all of `bytes` at `offset`, or returns false and sets *error. Called on the
    // writer thread only, one call at a time.
    using WriteFn = std::function<bool(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                                       std::string* error)>;
    // Makes what was written durable, or returns false and sets *error. Called on the
    // writer thread only, after the writes queued before StartSync.
    using SyncFn = std::function<bool(std::string* error)>;

    // Starts the writer thread (std::system_error when the system has none to give).
    WriteBehind(WriteFn write, SyncFn sync);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues `bytes` to be written at `offset`. False, with the first write error in
    // *error, when a write has failed; nothing more is written then.
    // REQUIRES: bytes.size() <= kBufferBytes
    bool Append(std::uint64_t offset, std::span<const std::uint8_t> bytes, std::string* error);

    // Returns once every byte appended so far is written: the file may then be read
    // back. False, with the first write error in *error, when one failed.
    bool Drain(std::string* error);

    // Queues a sync behind every byte appended so far and returns: the writer thread
    // syncs once they are written. Drain waits for it too, and reports its failure.
    // The buffers are freed as they are written: a sync is asked for when the
    // writing is done (an Append after it makes them again).
    void StartSync();

    // A buffer is handed over once it holds this much. Copying 2 MiB into the system's
    // cache takes the writer about a millisecond, so a hand-over (a lock and a wake-up,
    // microseconds) costs little; it is one huge page, made resident with one fault
    // (ResidentBuffer), and small beside the processor's caches and the memory goals.
    static constexpr std::size_t kBufferBytes = kResidentHugeBytes;
    // One buffer filled by the caller, one written, and two more so that a caller running
    // ahead of the writer for a moment (a burst of pages) seldom waits: 8 MiB at most,
    // and only as many as the pace asks for are ever made.
    static constexpr int kMaxBuffers = 4;

  private:
    struct Extent {
        std::uint64_t offset;
        std::size_t size;
    };
    struct Buffer {
        ResidentBuffer bytes{kBufferBytes};
        std::size_t used = 0;         // bytes[0, used) are queued
        std::vector<Extent> extents;  // consecutive runs of those bytes, in order
    };

    void Run();  // the writer thread's loop
    // Writes every extent of `b` (on the writer thread, without the lock).
    bool WriteOut(const Buffer& b, std::string* error);
    // REQUIRES: mu_ held. Queues filling_ and takes a free buffer in its place, waiting
    // for one while all are in use.
    void HandOff(std::unique_lock<std::mutex>& lock);
    // REQUIRES: mu_ held. The first write error, when there was one.
    bool Report(std::string* error) const;

    const WriteFn write_;
    const SyncFn sync_;
    std::unique_ptr<Buffer> filling_;  // the caller's; null after StartSync until the next Append

    std::mutex mu_;
    std::condition_variable has_work_;  // the writer waits for a queued buffer or stop
    std::condition_variable has_room_;  // the caller waits for a written buffer
    std::deque<std::unique_ptr<Buffer>> queued_;
    std::vector<std::unique_ptr<Buffer>> free_;
    int buffers_ = 1;        // in being, filling_ included
    bool writing_ = false;   // the writer holds a buffer outside the queue, or syncs
    bool sync_pending_ = false;  // StartSync asked for a sync not yet done
    bool stop_ = false;
    std::string error_;             // the first write error
    std::atomic<bool> failed_{false};  // error_ is set; read without the lock by Append
    std::thread thread_;  // last: started once the rest is in place
};

}  // namespace jet
