// Common::Semaphore: a process-private unnamed POSIX semaphore on the heap,
// created with the value 0.
//
// Threading: Wait and Post from any thread; Destroy once no thread uses it.
#pragma once

#include <semaphore.h>

namespace Common {

class Semaphore
{
public:
    // A new semaphore with the value 0, or null when it cannot be created.
    static Semaphore* Create();
    static void Destroy(Semaphore* semaphore);

    // Waits until the value can be decremented (interrupted waits are repeated).
    void Wait();
    void Post();

private:
    Semaphore() = default;
    sem_t m_semaphore;
};

} // namespace Common
