// Common::Mutex: a recursive POSIX mutex.
//
// Construction writes the static initial state of a recursive mutex in place,
// so a zero-filled static becomes usable by that one write.
//
// Threading: Lock/Unlock from any thread; the same thread may lock again and
// must unlock as often. Unlocking from a thread that does not hold the mutex is
// reported as a failed assertion.
#pragma once

#include <pthread.h>

namespace Common {

class Mutex
{
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // The result of pthread_mutex_lock.
    int Lock();
    void Unlock();

private:
    pthread_mutex_t m_mutex;
};

} // namespace Common
