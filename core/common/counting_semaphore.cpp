// Unnamed POSIX semaphore on the heap.

#include "core/common/counting_semaphore.h"

#include <cerrno>
#include <new>

namespace Common {

Semaphore* Semaphore::Create()
{
    auto* semaphore = new (std::nothrow) Semaphore;
    if (semaphore && sem_init(&semaphore->m_semaphore, 0, 0) != 0) {
        delete semaphore;
        return nullptr;
    }
    return semaphore;
}

void Semaphore::Destroy(Semaphore* semaphore)
{
    if (!semaphore)
        return;
    sem_destroy(&semaphore->m_semaphore);
    delete semaphore;
}

void Semaphore::Wait()
{
    while (sem_wait(&m_semaphore) != 0) {}
}

void Semaphore::Post()
{
    sem_post(&m_semaphore);
}

} // namespace Common
