// The worker threads of the async service: a pool that grows whenever a task
// arrives and no thread is free to take it, and whose idle threads retire
// after a while.
//
// Tasks may block for as long as they like, also waiting for other tasks of
// the same pool: since every queued task has a thread of its own ready to take
// it, a blocked task never keeps a later one from running. Tasks run in the
// order they were submitted, each on one thread.
//
// Threading: every operation from any thread, also from inside a task. The
// destructor waits until every thread has run out of work and left; it must
// not run inside a task of the same pool.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace AsyncPlatform {

class WorkPool
{
public:
    using Task = std::function<void()>;

    // Threads retire after `idleLimit` without a task.
    explicit WorkPool(std::chrono::milliseconds idleLimit);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Queues the task and makes sure a thread will take it. False, with the
    // task dropped, when no thread exists and none can be created.
    // std::bad_alloc passes out when the task cannot be queued.
    bool Submit(Task task);

    size_t ThreadCount() const;
    // Waits until exactly `count` threads exist and all of them wait for work,
    // or until `limit` has passed; answers whether that state was reached.
    bool WaitForIdleThreads(size_t count, std::chrono::milliseconds limit) const;

private:
    struct State;
    static void RunThread(std::shared_ptr<State> state);

    // Shared with the threads, so that a retiring thread never outlives it.
    std::shared_ptr<State> m_state;
};

} // namespace AsyncPlatform
