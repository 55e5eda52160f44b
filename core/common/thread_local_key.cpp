// Thread-local storage keys over pthread keys.

#include "core/common/thread_local_key.h"

#include <pthread.h>

#include "core/common/assertion.h"

namespace Common {

Tls::Key Tls::Allocate(Destructor destructor)
{
    pthread_key_t key;
    if (pthread_key_create(&key, destructor) != 0)
        return OUT_OF_INDEXES;
    return static_cast<Key>(key);
}

bool Tls::Release(Key key)
{
    COMMON_ASSERT(key != Common::Tls::OUT_OF_INDEXES);
    return pthread_key_delete(static_cast<pthread_key_t>(key)) == 0;
}

void* Tls::GetValue(Key key)
{
    COMMON_ASSERT(key != Common::Tls::OUT_OF_INDEXES);
    return pthread_getspecific(static_cast<pthread_key_t>(key));
}

bool Tls::SetValue(Key key, void* value)
{
    COMMON_ASSERT(key != Common::Tls::OUT_OF_INDEXES);
    return pthread_setspecific(static_cast<pthread_key_t>(key), value) == 0;
}

} // namespace Common
