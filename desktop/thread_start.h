// Starting a background thread with the start handshake: the parameter block lives
// on the starter's stack, the thread copies it and then signals the start event,
// and the starter waits (without time-out) for that signal. The thread is never
// joined; it ends with the process.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace mdb::desktop {

// A manual-reset event: once signalled it stays signalled.
class StartEvent {
  public:
    void Signal() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

template <class Params>
struct ThreadStartBlock {
    const Params* params;
    StartEvent* started;
};

// `proc` must copy *block->params and then call block->started->Signal() as its
// first action; the block is gone as soon as this function returns.
template <class Params>
void StartThreadWithHandshake(void (*proc)(ThreadStartBlock<Params>*), const Params& params) {
    StartEvent started;
    ThreadStartBlock<Params> block{&params, &started};
    std::thread(proc, &block).detach();
    started.Wait();
}

}  // namespace mdb::desktop
