#include "platform/ipc/completion_pool.h"

#include <condition_variable>
#include <deque>
#include <thread>

#include "core/common/mutex.h"

namespace Ipc {

namespace {

struct Pool
{
    Common::NonRecursiveMutex lock;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks COMMON_GUARDED_BY(lock);
    size_t idle COMMON_GUARDED_BY(lock) = 0;
    size_t threads COMMON_GUARDED_BY(lock) = 0;
};

Pool& ThePool()
{
    static Pool* const pool = new Pool; // lives until exit; its threads may still wait on it then
    return *pool;
}

void RunTasks(Pool& pool)
{
    Common::UniqueLock guard(pool.lock);
    for (;;) {
        while (pool.tasks.empty()) {
            ++pool.idle;
            pool.wake.wait(guard.Waitable());
            --pool.idle;
        }
        std::function<void()> task = std::move(pool.tasks.front());
        pool.tasks.pop_front();
        guard.Unlock();
        task();
        task = nullptr; // what the task captured goes away outside the lock too
        guard.Lock();
    }
}

} // namespace

void PostCompletion(std::function<void()> task)
{
    Pool& pool = ThePool();
    Common::LockGuard guard(pool.lock);
    pool.tasks.push_back(std::move(task));
    // Each idle thread will take one queued task; start one more when the
    // queue is longer than the idle threads can take.
    if (pool.tasks.size() > pool.idle && pool.threads < kMaxCompletionThreads) {
        std::thread(RunTasks, std::ref(pool)).detach();
        ++pool.threads;
    } else {
        pool.wake.notify_one();
    }
}

} // namespace Ipc
