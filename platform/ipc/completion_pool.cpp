#include "platform/ipc/completion_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Ipc {

namespace {

struct Pool
{
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    size_t idle = 0;
    size_t threads = 0;
};

Pool& ThePool()
{
    static Pool* const pool = new Pool; // lives until exit; its threads may still wait on it then
    return *pool;
}

void RunTasks(Pool& pool)
{
    std::unique_lock<std::mutex> guard(pool.lock);
    for (;;) {
        while (pool.tasks.empty()) {
            ++pool.idle;
            pool.wake.wait(guard);
            --pool.idle;
        }
        std::function<void()> task = std::move(pool.tasks.front());
        pool.tasks.pop_front();
        guard.unlock();
        task();
        task = nullptr; // what the task captured goes away outside the lock too
        guard.lock();
    }
}

} // namespace

void PostCompletion(std::function<void()> task)
{
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> guard(pool.lock);
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
