// The gateway: its shared logic, passage requests and flags.

#include "enterprise/common/async/gateway.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/location.h"
#include "core/common/message_catalogue.h"
#include "core/common/mutex.h"
#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/error.h"
#include "enterprise/common/async/silent_work_adaptor.h"
#include "enterprise/common/async/synchronization_fork.h"
#include "enterprise/common/async/tail_recursion_controller.h"
#include "enterprise/common/async/thread_environment.h"

namespace Async::Detail {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/gateway", 0x38AF9BCF89587029);
constexpr unsigned kExclusivePassageJobText = 627; // "ASYNC: Gateway get exclusive passage job."
constexpr unsigned kSharedPassageJobText = 628;    // "ASYNC: Gateway get shared passage job."

enum GateState : uint32_t
{
    STATE_OPEN = 0,
    STATE_EXCLUSIVE = 1,
    STATE_SHARED = 2,
};

enum Mode : uint32_t
{
    MODE_EXCLUSIVE = 1,
    MODE_SHARED = 2,
};

using Marker = std::shared_ptr<std::atomic<bool>>;

void Report(const char* expression, unsigned line)
{
    Common::ReportAssertion(expression, kSource.path, line);
}

} // namespace

class GatewayLogic : public std::enable_shared_from_this<GatewayLogic>, public TailRecursionController
{
public:
    class CaptureRequest;

    explicit GatewayLogic(GateState state) : m_state(state) { Initialize(); }
    ~GatewayLogic() override = default;

    std::shared_ptr<void> KeepAlive() override { return shared_from_this(); }
    void ProcessStep() override { SatisfyWaiters(); }

    std::shared_ptr<Job> Acquire(Mode mode, std::unique_ptr<Gateway::Flag>& holder, ActionHandler& handler);
    // Gives one passage back; then admits waiters unless `marker` says the run
    // that granted the passage is still delivering it (that run admits then).
    void GiveBack(const Marker& marker);

private:
    // Admits at most one waiter, then goes on while the next can be admitted.
    void SatisfyWaiters();
    // Runs the admission loop while the front waiter can be admitted and the
    // loop ran on this thread.
    void AdmitWaiters();
    bool IsAdmissible(Mode mode) const COMMON_REQUIRES(m_mutex);
    bool IsFrontAdmissible() const COMMON_REQUIRES(m_mutex);

    class DetachSatisfyProcess;

    mutable Common::Mutex m_mutex;
    std::deque<std::shared_ptr<CaptureRequest>> m_waiting COMMON_GUARDED_BY(m_mutex);
    GateState m_state COMMON_GUARDED_BY(m_mutex);
    int64_t m_sharedCount COMMON_GUARDED_BY(m_mutex) = 0;
    size_t m_exclusiveWaiting COMMON_GUARDED_BY(m_mutex) = 0; // exclusive requests in m_waiting
};

// The implementation of a held flag.
class FlagLogic : public Gateway::Flag
{
public:
    FlagLogic(std::shared_ptr<GatewayLogic> logic, Marker satisfying)
        : m_logic(std::move(logic)), m_satisfying(std::move(satisfying))
    {
    }
    ~FlagLogic() override { FlagLogic::Release(); }

    void Release() override
    {
        if (!m_acquired)
            return;
        // Cleared first, and nothing of this flag is touched after the give-back:
        // an admission may store a new flag in this flag's holder, destroying it.
        m_acquired = false;
        const std::shared_ptr<GatewayLogic> logic = m_logic;
        const Marker satisfying = m_satisfying;
        logic->GiveBack(satisfying);
    }

private:
    std::shared_ptr<GatewayLogic> m_logic;
    bool m_acquired = true;
    Marker m_satisfying;
};

class GatewayLogic::CaptureRequest : public BaseJob
{
public:
    CaptureRequest(Mode mode, std::unique_ptr<Gateway::Flag>& holder, ActionHandler& handler,
                   std::shared_ptr<GatewayLogic> logic)
        : m_mode(mode), m_holder(&holder), m_handler(handler), m_logic(std::move(logic))
    {
    }

    ~CaptureRequest() override
    {
        if (!m_acquired.load() && !m_cancelled.load())
            Report("(Acquired || Cancelled) && \"Premature async gateway job destruction.\"", 154);
    }

    EntityDescription Describe() const override
    {
        return EntityDescription(
            Common::GetMessageText(m_mode == MODE_EXCLUSIVE ? kExclusivePassageJobText : kSharedPassageJobText),
            kSource.At("Describe", 188));
    }

    // Withdraws a waiting request: its handler is completed with the canceled
    // error, unless the grant came first.
    void Cancel() override
    {
        m_cancelled.store(true);
        const Common::Error canceled = MakeCanceledError(kSource.At("Cancel", 160));
        if (ActionHandler* handler = m_pendingHandler.exchange(nullptr))
            handler->Completed(canceled);
    }

    Mode GetMode() const { return m_mode; }

    // Grants the passage: stores a flag and completes the handler, or, when
    // the request was cancelled, gives the passage straight back.
    void Satisfy(const std::shared_ptr<CaptureRequest>& me, const Marker& marker)
    {
        if (!me && !m_cancelled.load())
            Report("(me.use_count() >= 1 || Cancelled) && \"Premature async gateway job destruction.\"", 165);
        if (m_acquired.exchange(true))
            Report("!Acquired && \"Gateway logic broken.\"", 167);
        ActionHandler* handler = m_pendingHandler.exchange(nullptr);
        if (!handler) {
            m_logic->GiveBack(nullptr);
            return;
        }
        std::unique_ptr<Gateway::Flag> flag = std::make_unique<FlagLogic>(m_logic, marker);
        m_holder->reset(); // a flag held before goes first, giving its passage back
        *m_holder = std::move(flag);
        handler->Completed(Common::Success);
    }

private:
    const Mode m_mode;
    std::unique_ptr<Gateway::Flag>* const m_holder;
    // Completions run in the environment of the requesting thread.
    EnvironmentPreservingHandler m_handler;
    std::atomic<ActionHandler*> m_pendingHandler{&m_handler};
    const std::shared_ptr<GatewayLogic> m_logic;
    std::atomic<bool> m_acquired{false};
    std::atomic<bool> m_cancelled{false};
};

// Guards the delivery of a grant: when the delivering thread blocks, the next
// admissions move to a service thread.
class GatewayLogic::DetachSatisfyProcess : public SynchronizationFork
{
public:
    explicit DetachSatisfyProcess(GatewayLogic& logic) : m_logic(&logic) {}
    ~DetachSatisfyProcess() override { Wait(); }

    bool IsReady() override
    {
        Common::LockGuard guard(m_logic->m_mutex);
        return m_logic->IsFrontAdmissible();
    }

    std::unique_ptr<Work> TakeWork() override
    {
        std::shared_ptr<GatewayLogic> logic = m_logic->shared_from_this(); // std::bad_weak_ptr when gone
        auto satisfy = std::bind(&GatewayLogic::SatisfyWaiters, logic.get());
        return std::make_unique<SilentWorkAdaptor<decltype(satisfy), std::shared_ptr<GatewayLogic>>>(satisfy,
                                                                                                     std::move(logic));
    }

private:
    GatewayLogic* m_logic;
};

bool GatewayLogic::IsAdmissible(Mode mode) const
{
    switch (mode) {
    case MODE_EXCLUSIVE:
        return m_state == STATE_OPEN;
    case MODE_SHARED:
        return m_state != STATE_EXCLUSIVE;
    }
    return false;
}

bool GatewayLogic::IsFrontAdmissible() const
{
    return !m_waiting.empty() && IsAdmissible(m_waiting.front()->GetMode());
}

std::shared_ptr<Job> GatewayLogic::Acquire(Mode mode, std::unique_ptr<Gateway::Flag>& holder, ActionHandler& handler)
{
    std::shared_ptr<GatewayLogic> self = shared_from_this();
    if (holder)
        Report("!Lock.get() && \"Gateway flag is already acquired.\"", 149);
    auto me = std::make_shared<CaptureRequest>(mode, holder, handler, std::move(self));
    bool granted = false;
    {
        Common::LockGuard guard(m_mutex);
        if (mode == MODE_EXCLUSIVE && m_state == STATE_OPEN && m_waiting.empty()) {
            m_state = STATE_EXCLUSIVE;
            granted = true;
        } else if (mode == MODE_SHARED && m_state != STATE_EXCLUSIVE && m_exclusiveWaiting == 0) {
            ++m_sharedCount;
            m_state = STATE_SHARED;
            granted = true;
        } else {
            m_waiting.push_back(me);
            if (mode == MODE_EXCLUSIVE)
                ++m_exclusiveWaiting;
        }
    }
    if (granted)
        me->Satisfy(me, nullptr);
    return me;
}

void GatewayLogic::GiveBack(const Marker& marker)
{
    {
        Common::LockGuard guard(m_mutex);
        if (m_state == STATE_OPEN) {
            Report("State != STATE_OPEN", 341);
        } else if (m_state == STATE_EXCLUSIVE) {
            m_state = STATE_OPEN;
        } else {
            if (m_sharedCount < 1)
                Report("State == STATE_EXCLUSIVE || SharedCount > 0", 342);
            if (--m_sharedCount <= 0) {
                m_sharedCount = 0;
                m_state = STATE_OPEN;
            }
        }
    }
    if (marker && marker->load())
        return; // the delivering run tests the front once it is done
    AdmitWaiters();
}

void GatewayLogic::AdmitWaiters()
{
    const std::shared_ptr<GatewayLogic> self = shared_from_this();
    for (;;) {
        {
            Common::LockGuard guard(m_mutex);
            if (!IsFrontAdmissible())
                return;
        }
        if (!Continue())
            return;
    }
}

void GatewayLogic::SatisfyWaiters()
{
    const std::shared_ptr<GatewayLogic> self = shared_from_this();
    std::shared_ptr<CaptureRequest> admitted;
    {
        Common::LockGuard guard(m_mutex);
        if (IsFrontAdmissible()) {
            admitted = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (admitted->GetMode() == MODE_EXCLUSIVE) {
                --m_exclusiveWaiting;
                m_state = STATE_EXCLUSIVE;
            } else {
                m_state = STATE_SHARED;
                ++m_sharedCount;
            }
        }
    }
    if (admitted) {
        DetachSatisfyProcess guard(*this);
        const Marker marker = std::make_shared<std::atomic<bool>>(true);
        admitted->Satisfy(admitted, marker);
        // No fence is needed beyond the store: a release changes the state under
        // the mutex before it reads the marker, and the test below reads the
        // state under the same mutex after the store, so one of the two sees
        // the other and admits.
        marker->store(false, std::memory_order_seq_cst);
    }
    AdmitWaiters();
}

} // namespace Async::Detail

namespace Async {

Gateway::Gateway() : m_logic(std::make_shared<Detail::GatewayLogic>(Detail::STATE_OPEN))
{
}

Gateway::Gateway(std::shared_ptr<Detail::GatewayLogic> logic) : m_logic(std::move(logic))
{
}

Gateway Gateway::CreateAcquired(std::unique_ptr<Flag>& holder)
{
    auto logic = std::make_shared<Detail::GatewayLogic>(Detail::STATE_EXCLUSIVE);
    std::unique_ptr<Flag> flag = std::make_unique<Detail::FlagLogic>(logic, nullptr);
    holder.reset();
    holder = std::move(flag);
    return Gateway(std::move(logic));
}

Gateway::~Gateway() = default;

std::shared_ptr<Job> Gateway::AcquireExclusive(std::unique_ptr<Flag>& holder, ActionHandler& handler)
{
    return m_logic->Acquire(Detail::MODE_EXCLUSIVE, holder, handler);
}

std::shared_ptr<Job> Gateway::AcquireShared(std::unique_ptr<Flag>& holder, ActionHandler& handler)
{
    return m_logic->Acquire(Detail::MODE_SHARED, holder, handler);
}

} // namespace Async
