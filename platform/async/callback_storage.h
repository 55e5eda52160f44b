// The service's synchronization-callback storage: each thread's chain in
// thread-local storage. Push links the element above the top, Pop unlinks the
// top, Synchronize asks the elements from the top down to TrySatisfy until one
// answers true (a suspended element answers true without being asked).
//
// Threading: every operation acts on the calling thread's chain only.
#pragma once

#include "platform/async/async_service.h"

namespace AsyncPlatform {

class CallbackStorage : public Async::SynchronizationCallbackStorage
{
public:
    Async::SynchronizationCallback* GetTop() override;
    // Always true.
    bool Push(Async::SynchronizationCallback* element) override;
    // The former top; null on an empty chain.
    Async::SynchronizationCallback* Pop() override;
    void Synchronize(void* context) override;
};

} // namespace AsyncPlatform
