// Background threads of the window: started with the start handshake (the parameter
// block lives on the starter's stack, the thread copies it and then signals the start
// event, and the starter waits without time-out for that signal), ended through a stop
// signal and joined by their owner. Nothing outlives the owner.
#pragma once

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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
    // True when the event was signalled within `limit`.
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [this] { return signalled_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// The request to end a background loop; its pauses wait on it, so a stop is seen at
// once, not after the pause.
using StopSignal = StartEvent;

template <class Params>
struct ThreadStartBlock {
    const Params* params;
    StartEvent* started;
};

// `proc` must copy *block->params and then call block->started->Signal() as its
// first action; the block is gone as soon as this function returns. The caller owns
// the returned thread and joins it.
template <class Params>
[[nodiscard]] std::thread StartThreadWithHandshake(void (*proc)(ThreadStartBlock<Params>*),
                                                   const Params& params) {
    StartEvent started;
    ThreadStartBlock<Params> block{&params, &started};
    std::thread thread(proc, &block);
    started.Wait();
    return thread;
}

// The background threads of one window and their common stop signal. Stop() (also run
// by the destructor) signals every loop to end and joins them all.
class BackgroundThreads {
  public:
    BackgroundThreads() = default;
    BackgroundThreads(const BackgroundThreads&) = delete;
    BackgroundThreads& operator=(const BackgroundThreads&) = delete;
    ~BackgroundThreads() { Stop(); }

    StopSignal* Signal() { return &stop_; }

    template <class Params>
    void Start(void (*proc)(ThreadStartBlock<Params>*), const Params& params) {
        threads_.push_back(StartThreadWithHandshake(proc, params));
    }
    // A command that waits for something outside (an opener): it ends by itself or
    // gives up when Signal() is set.
    void Run(std::function<void()> fn) { threads_.emplace_back(std::move(fn)); }
    std::size_t Count() const { return threads_.size(); }

    void Stop() {
        stop_.Signal();
        for (std::thread& t : threads_) {
            assert(t.get_id() != std::this_thread::get_id());
            if (t.joinable()) t.join();
        }
        threads_.clear();
    }

  private:
    StopSignal stop_;
    std::vector<std::thread> threads_;
};

}  // namespace mdb::desktop
