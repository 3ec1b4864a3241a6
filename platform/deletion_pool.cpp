// The walk's deletion workers.
#include "platform/deletion_pool.h"

#include <deque>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <condition_variable>
#endif

namespace platform::fs {
namespace {

#ifdef _WIN32
// The system's slim lock and condition variable. Under Wine the C++ library's own (on
// winpthreads) wait through the server: about 60 us for a wake-up there, 5 us here.
struct Mutex {
    SRWLOCK srw = SRWLOCK_INIT;
    void lock() { AcquireSRWLockExclusive(&srw); }
    void unlock() { ReleaseSRWLockExclusive(&srw); }
};
struct Condition {
    CONDITION_VARIABLE variable = CONDITION_VARIABLE_INIT;
    // Sleeps, the lock released meanwhile, until `ready` holds.
    template <typename Ready>
    void wait(std::unique_lock<Mutex>& lock, Ready ready) {
        while (!ready()) SleepConditionVariableSRW(&variable, &lock.mutex()->srw, INFINITE, 0);
    }
    void notify_one() { WakeConditionVariable(&variable); }
    void notify_all() { WakeAllConditionVariable(&variable); }
};
#else
using Mutex = std::mutex;
using Condition = std::condition_variable;
#endif

}  // namespace

// Four deletions in flight kept a two-processor machine's file system busiest under Wine;
// one processor gets one worker, which still overlaps the walk's listing.
unsigned deletionWorkers() {
    constexpr unsigned kWorkers = 4;
    return std::thread::hardware_concurrency() > 1 ? kWorkers : 1;
}

struct DeletionPool::State {
    struct Queued {
        std::function<void()> task;
        bool* done;
    };
    Mutex mutex;
    Condition queuedOne, finishedOne;
    std::deque<Queued> queue;
    // Waking a thread costs a round trip to the system's scheduler: workers are woken only
    // when some are idle, the caller only for the task it awaits or when all have stopped.
    unsigned idle = 0;
    unsigned running = 0;
    const bool* awaited = nullptr;
    bool closing = false;
};

DeletionPool::DeletionPool(unsigned workers)
    : _workers(workers), _state(std::make_unique<State>()) {}

// Drops what was not started and joins the workers.
DeletionPool::~DeletionPool() {
    {
        const std::lock_guard<Mutex> lock(_state->mutex);
        _state->queue.clear();
        _state->closing = true;
    }
    _state->queuedOne.notify_all();
    for (auto& thread : _threads) thread.join();
}

// Queues the task, starting the workers with the first one; wakes one only when idle.
void DeletionPool::submit(std::function<void()> task, bool& done) {
    bool wake = false;
    {
        const std::lock_guard<Mutex> lock(_state->mutex);
        _state->queue.push_back(State::Queued{std::move(task), &done});
        wake = _state->idle > 0;
    }
    if (_threads.empty()) {
        for (unsigned i = 0; i < _workers; ++i) _threads.emplace_back([this] { work(); });
    }
    if (wake) _state->queuedOne.notify_one();
}

// Reads the flag under the lock its worker sets it under.
bool DeletionPool::isDone(const bool& done) {
    const std::lock_guard<Mutex> lock(_state->mutex);
    return done;
}

// Runs the tasks not started yet here while there are any, then sleeps until a worker has
// set `done`: on a busy machine the workers may wait long for a processor, and the caller
// need not wait for them.
void DeletionPool::wait(const bool& done) {
    State& state = *_state;
    std::unique_lock<Mutex> lock(state.mutex);
    while (!done && !state.queue.empty()) {
        State::Queued next = std::move(state.queue.front());
        state.queue.pop_front();
        lock.unlock();
        next.task();
        lock.lock();
        *next.done = true;
    }
    state.awaited = &done;
    state.finishedOne.wait(lock, [&done] { return done; });
    state.awaited = nullptr;
}

// Forgets the queue, then waits until no worker runs a task.
void DeletionPool::cancel() {
    std::unique_lock<Mutex> lock(_state->mutex);
    _state->queue.clear();
    _state->finishedOne.wait(lock, [this] { return _state->running == 0; });
}

// Takes the oldest task, runs it unlocked, marks it done.
void DeletionPool::work() {
    State& state = *_state;
    std::unique_lock<Mutex> lock(state.mutex);
    while (true) {
        ++state.idle;
        state.queuedOne.wait(lock, [&state] { return state.closing || !state.queue.empty(); });
        --state.idle;
        if (state.queue.empty()) return;
        State::Queued next = std::move(state.queue.front());
        state.queue.pop_front();
        ++state.running;
        lock.unlock();
        next.task();
        lock.lock();
        --state.running;
        *next.done = true;
        if (state.awaited == next.done || (state.running == 0 && state.queue.empty())) {
            state.finishedOne.notify_all();
        }
    }
}

}  // namespace platform::fs
