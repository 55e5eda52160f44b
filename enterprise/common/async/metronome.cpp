#include "enterprise/common/async/metronome.h"

#include <atomic>
#include <cstdlib>
#include <functional>

#include "core/common/assertion.h"
#include "core/common/event.h"
#include "core/common/location.h"
#include "core/common/mutex.h"
#include "core/common/non_copyable.h"
#include "core/common/static_recursive_lock.h"
#include "enterprise/common/async/action_adaptor.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/metronome");

constexpr uintptr_t kStateIdle = 0;
constexpr uintptr_t kStateWorking = 1;
constexpr uintptr_t kStateFinished = 2;

// Guards the state of every listener; usable before any constructor ran.
constinit Common::StaticRecursiveLock g_listenerLock;
const bool g_lockTeardownRegistered = std::atexit([] { g_listenerLock.Destroy(); }) == 0;

// The event a stopper waits on; whoever drops the count to 0 destroys it.
class SharedEvent : public Common::NonCopyable
{
public:
    SharedEvent() : m_event(false, false) {}

    void AddReference() { m_count.fetch_add(1, std::memory_order_relaxed); }
    void Release()
    {
        if (m_count.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    void Set() { m_event.Set(); }
    void Wait() { (void)m_event.Wait(); } // no time limit: always signalled

private:
    ~SharedEvent() = default;

    Common::Event m_event;
    std::atomic<int> m_count{1};
};

} // namespace

MetronomeListener::MetronomeListener() : m_state(kStateIdle)
{
    (void)g_lockTeardownRegistered;
}

MetronomeListener::~MetronomeListener() = default;

void MetronomeListener::OnTick(const Common::Error&)
{
}

bool MetronomeListener::Start(Metronome* metronome)
{
    {
        Common::LockGuard guard(g_listenerLock);
        if (m_state != kStateIdle) {
            Common::ReportAssertion("!\"Metronome logic broken.\"", kSource.path, 91);
            return false;
        }
        m_state = kStateWorking;
    }
    auto tick = std::bind(&Metronome::Tick, metronome, std::placeholders::_1);
    ActionRefAdaptor<decltype(tick)> action(tick);
    m_control.Perform(action, *this, nullptr);
    return true;
}

void MetronomeListener::Completed(const Common::Error& result)
{
    if (result.IsSuccess())
        OnTick(result);
    uintptr_t previous;
    {
        Common::LockGuard guard(g_listenerLock);
        previous = m_state;
        m_state = kStateFinished;
    }
    // From here on the listener may be gone: a stopper wakes as soon as the
    // event is set, and without a stopper the owner may destroy it at once.
    if (previous != kStateIdle && previous != kStateWorking && previous != kStateFinished) {
        auto* event = reinterpret_cast<SharedEvent*>(previous);
        event->AddReference();
        event->Set();
        event->Release();
    }
}

void MetronomeListener::Stop()
{
    SharedEvent* event = nullptr;
    {
        Common::LockGuard guard(g_listenerLock);
        if (m_state == kStateIdle || m_state == kStateFinished)
            return;
        if (m_state != kStateWorking) {
            Common::ReportAssertion("State == StateWorking", kSource.path, 112);
            return;
        }
        event = new SharedEvent();
        m_state = reinterpret_cast<uintptr_t>(event);
    }
    m_control.Cancel();
    event->Wait();
    event->Release();
}

} // namespace Async
