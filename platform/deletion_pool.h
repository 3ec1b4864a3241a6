#pragma once
// A few threads that delete the entries of the removal walk's folders while the walk goes
// on listing: each round trip to the file system waits on the system (under Wine, on its
// server), so several in flight at once take less time than one after another.

#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace platform::fs {

// How many workers delete entries: one on a machine with one processor, a few otherwise.
unsigned deletionWorkers();

// Runs tasks on its workers in the order they are handed out. The threads start with the
// first task, so a pool that is never used costs nothing.
class DeletionPool {
public:
    explicit DeletionPool(unsigned workers);
    ~DeletionPool();
    DeletionPool(const DeletionPool&) = delete;
    DeletionPool& operator=(const DeletionPool&) = delete;

    unsigned workers() const { return _workers; }
    // Queues `task`; the worker that runs it sets `done` afterwards, under the pool's lock.
    void submit(std::function<void()> task, bool& done);
    // Whether the task that sets `done` has run, read under the pool's lock.
    bool isDone(const bool& done);
    // Waits until the task that sets `done` has run, running tasks not started yet itself
    // meanwhile.
    void wait(const bool& done);
    // Drops the tasks not started yet and waits for those running.
    void cancel();

private:
    struct State;  // the queue and its lock, in the platform's own kind of lock
    // A worker's loop: the oldest task, until the pool goes.
    void work();

    const unsigned _workers;
    std::unique_ptr<State> _state;
    std::vector<std::thread> _threads;
};

}  // namespace platform::fs
