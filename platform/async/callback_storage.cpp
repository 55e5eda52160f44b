// Per-thread synchronization chains.

#include "platform/async/callback_storage.h"

namespace AsyncPlatform {

namespace {

thread_local Async::SynchronizationCallback* t_top = nullptr;

} // namespace

Async::SynchronizationCallback* CallbackStorage::GetTop()
{
    return t_top;
}

bool CallbackStorage::Push(Async::SynchronizationCallback* element)
{
    element->SetNext(t_top);
    t_top = element;
    return true;
}

Async::SynchronizationCallback* CallbackStorage::Pop()
{
    Async::SynchronizationCallback* top = t_top;
    if (top)
        t_top = top->GetNext();
    return top;
}

void CallbackStorage::Synchronize(void* context)
{
    for (Async::SynchronizationCallback* element = t_top; element; element = element->GetNext()) {
        if (element->TrySatisfy(context))
            return;
    }
}

} // namespace AsyncPlatform
