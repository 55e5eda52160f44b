// The per-thread synchronization chain and its scoped elements.

#include "enterprise/common/async/synchronization_callback.h"

#include "core/common/assertion.h"
#include "core/common/location.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/synchronization_callback");

// Asks each element from `element` down until one answers true.
void WalkChain(SynchronizationCallback* element, void* context)
{
    for (; element; element = element->GetNext()) {
        if (element->TrySatisfy(context))
            return;
    }
}

// Every element this system pushes is scoped; others carry no suspension.
ScopedSynchronizationCallback* AsScoped(SynchronizationCallback* element)
{
    return dynamic_cast<ScopedSynchronizationCallback*>(element);
}

int32_t SuspensionOf(SynchronizationCallback* element)
{
    const ScopedSynchronizationCallback* scoped = AsScoped(element);
    return scoped ? scoped->GetSuspension() : 0;
}

TlsSynchronizationCallbackStorage& GetTlsStorage()
{
    static TlsSynchronizationCallbackStorage storage;
    return storage;
}

} // namespace

ScopedSynchronizationCallback::ScopedSynchronizationCallback()
{
    (void)GetSynchronizationCallbackStorage()->Push(this); // a failed store leaves the element unlisted
}

ScopedSynchronizationCallback::~ScopedSynchronizationCallback()
{
    (void)GetSynchronizationCallbackStorage()->Pop();
}

void ScopedSynchronizationCallback::SetNext(SynchronizationCallback* next)
{
    if (m_next)
        Common::ReportAssertion("Next == 0", kSource.path, 103);
    m_next = next;
}

bool ScopedSynchronizationCallback::TrySatisfy(void* context)
{
    m_calls.fetch_add(1, std::memory_order_relaxed);
    if (m_suspension > 0)
        return true;
    return Satisfy(context);
}

void ScopedSynchronizationCallback::AdjustSuspension(int32_t delta)
{
    const int32_t before = m_suspension;
    m_suspension += delta;
    // Suspended through a synchronization: replay it now that it counts again.
    if (before > 0 && m_suspension <= 0 && m_calls != 0)
        WalkChain(this, nullptr);
}

TlsSynchronizationCallbackStorage::TlsSynchronizationCallbackStorage() : m_key(Common::Tls::Allocate(nullptr))
{
}

TlsSynchronizationCallbackStorage::~TlsSynchronizationCallbackStorage()
{
    (void)Common::Tls::Release(m_key); // at exit: a failure has no one to go to
}

SynchronizationCallback* TlsSynchronizationCallbackStorage::GetTop()
{
    return static_cast<SynchronizationCallback*>(Common::Tls::GetValue(m_key));
}

bool TlsSynchronizationCallbackStorage::Push(SynchronizationCallback* element)
{
    SynchronizationCallback* top = GetTop();
    if (top) {
        if (ScopedSynchronizationCallback* scoped = AsScoped(element))
            scoped->AdjustSuspension(SuspensionOf(top));
    }
    element->SetNext(top);
    return Common::Tls::SetValue(m_key, element);
}

SynchronizationCallback* TlsSynchronizationCallbackStorage::Pop()
{
    SynchronizationCallback* top = GetTop();
    SynchronizationCallback* next = top ? top->GetNext() : nullptr;
    if (ScopedSynchronizationCallback* scoped = AsScoped(next))
        scoped->AdjustSuspension(SuspensionOf(top) - scoped->GetSuspension());
    (void)Common::Tls::SetValue(m_key, next); // storing into an existing key does not fail
    return top;
}

void TlsSynchronizationCallbackStorage::Synchronize(void* context)
{
    WalkChain(GetTop(), context);
}

SynchronizationCallbackStorage* GetSynchronizationCallbackStorage()
{
    Service* service = nullptr;
    (void)GetAsyncService(&service); // null when there is none
    if (service)
        return service->GetSynchronizationCallbackStorage();
    return &GetTlsStorage();
}

void SynchronizeThread(void* context)
{
    GetSynchronizationCallbackStorage()->Synchronize(context);
}

} // namespace Async
