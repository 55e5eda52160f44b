// Recursive POSIX mutex.

#include "core/common/mutex.h"

#include "core/common/assertion.h"

namespace Common {

Mutex::Mutex() : m_mutex(PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP)
{
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&m_mutex);
}

int Mutex::Lock() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    return pthread_mutex_lock(&m_mutex);
}

void Mutex::Unlock() COMMON_NO_THREAD_SAFETY_ANALYSIS
{
    const int ret = pthread_mutex_unlock(&m_mutex);
    COMMON_ASSERT(ret == 0 && "Probably unlock from non-owner thread!");
}

} // namespace Common
