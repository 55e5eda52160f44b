#include "enterprise/common/async/job_control.h"

#include <utility>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/thread_id.h"
#include "core/common/trace.h"
#include "enterprise/common/async/error.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/job_control", 0x01CE6880AFC17C50ull);

// Bit T * 11 + F allows the change from state F to state T.
constinit const JobControl::Transitions kTransitions{
    {0x00, 0x0C, 0x40, 0x00, 0x62, 0x8D, 0x14, 0x06, 0x20, 0x00, 0x08, 0x02, 0x00, 0xC8, 0xAF, 0x00}};

// Numbers the controls, apart from the job ids.
constinit std::atomic<uint64_t> g_controlCounter{0};

constexpr const char* kSecondPerform = "!\"State logic broken. Second Perform() called.\"";
constexpr const char* kSecondPerformQuery = "!\"State logic broken. Second Perform() called?\"";
constexpr const char* kSecondCompleted = "!\"State logic broken. Second Completed() called.\"";
constexpr const char* kSecondCompletedQuery = "!\"State logic broken. Second Completed() called?\"";
constexpr const char* kSyncPoint = "syncPoint && \"State logic broken.\"";

void ReportBroken(const char* expression, unsigned line)
{
    Common::ReportAssertion(expression, kSource.path, line);
}

// The job control's record kind: trace level 1.
Common::Error MakeOperationError(unsigned code, const std::u16string& text, const char* function, uint32_t line)
{
    return Common::MakeTraceLevelError(code, text.c_str(), kSource.At(function, line));
}

Common::Error DescribeOperationException(unsigned operationKey, const Common::Error& caught, uint32_t line)
{
    Common::Error described = MakeOperationError(
        ASYNC_ERROR_OPERATION_EXCEPTION,
        FormatOperationText(Common::GetMessageText(kOperationExceptionText), Common::GetMessageText(operationKey)),
        "DescribeException", line);
    described.AddCause(caught);
    return described;
}

Common::Error DescribeOperationStdException(unsigned operationKey, const std::exception& caught, uint32_t line)
{
    return MakeOperationError(ASYNC_ERROR_OPERATION_STD_EXCEPTION,
                              FormatOperationStdText(Common::GetMessageText(kOperationStdExceptionText),
                                                     Common::GetMessageText(operationKey), caught.what()),
                              "DescribeStdException", line);
}

Common::Error DescribeOperationUnknownException(unsigned operationKey, uint32_t line)
{
    return MakeOperationError(ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION,
                              FormatOperationText(Common::GetMessageText(kOperationUnknownExceptionText),
                                                  Common::GetMessageText(operationKey)),
                              "DescribeUnknownException", line);
}

} // namespace

const JobControl::Transitions& JobControl::GetTransitions() noexcept
{
    return kTransitions;
}

Common::Error JobControl::PerformExceptionDescription::DescribeException(const Common::Error& caught)
{
    return DescribeOperationException(kPerformOperationText, caught, 50);
}

Common::Error JobControl::PerformExceptionDescription::DescribeStdException(const std::exception& caught)
{
    return DescribeOperationStdException(kPerformOperationText, caught, 55);
}

Common::Error JobControl::PerformExceptionDescription::DescribeUnknownException()
{
    return DescribeOperationUnknownException(kPerformOperationText, 60);
}

Common::Error JobControl::FinishExceptionDescription::DescribeException(const Common::Error& caught)
{
    return DescribeOperationException(kFinalizeRunOperationText, caught, 69);
}

Common::Error JobControl::FinishExceptionDescription::DescribeStdException(const std::exception& caught)
{
    return DescribeOperationStdException(kFinalizeRunOperationText, caught, 74);
}

Common::Error JobControl::FinishExceptionDescription::DescribeUnknownException()
{
    return DescribeOperationUnknownException(kFinalizeRunOperationText, 79);
}

JobControl::JobControl()
    : m_state(STATE_BEGIN), m_transitions(&kTransitions),
      m_id(g_controlCounter.fetch_add(1, std::memory_order_relaxed) + 1), m_handler(nullptr), m_owner(nullptr),
      m_result(GetInvalidResultError())
{
}

// Counts a running Cancel call in debug builds, so that the destructor can
// report a control destroyed under it. Leave() is called before the call hands
// a completion over: from then on the handler may destroy the control.
class JobControl::CancelCall
{
public:
#ifndef NDEBUG
    explicit CancelCall(JobControl& control) noexcept : m_calls(&control.m_cancelCalls)
    {
        m_calls->fetch_add(1, std::memory_order_relaxed);
    }
    ~CancelCall()
    {
        Leave();
    }
    void Leave() noexcept
    {
        if (m_calls)
            std::exchange(m_calls, nullptr)->fetch_sub(1, std::memory_order_release);
    }

private:
    std::atomic<uint32_t>* m_calls;
#else
    explicit CancelCall(JobControl&) noexcept
    {
    }
    void Leave() noexcept
    {
    }
#endif
};

JobControl::~JobControl()
{
#ifndef NDEBUG
    if (m_cancelCalls.load(std::memory_order_acquire) != 0)
        ReportBroken("cancelCalls == 0 && \"JobControl destroyed during a Cancel() call.\"", __LINE__);
#endif
    const int64_t state = m_state.load(std::memory_order_acquire);
    if (state != STATE_BEGIN && state != STATE_CANCEL_SCHEDULED_WAIT_ALL)
        ReportBroken("(state == STATE_BEGIN || state == STATE_CANCEL_SCHEDULED_WAIT_ALL) && "
                     "\"Premature JobControl destruction.\"",
                     140);
}

bool JobControl::ChangeState(int64_t from, int64_t to) noexcept
{
    if (!m_transitions->Allows(static_cast<int>(from), static_cast<int>(to)))
        return false;
    return m_state.compare_exchange_strong(from, to, std::memory_order_acq_rel, std::memory_order_acquire);
}

void JobControl::Perform(Action& action, ActionHandler& handler, DescriptiveEntity* owner)
{
    m_handler = &handler;
    m_owner = owner;
    if (PreventiveCancel())
        return;
    // Held until Perform returns: a completion on another thread that finishes
    // the run cannot destroy the job under this call.
    std::shared_ptr<Job> job;
    Common::Error performed;
    try {
        performed = SafePerform(action, job);
    } catch (...) {
        AbandonRun(); // the exception itself tells the caller how the run ended
        throw;
    }
    if (performed.IsSuccess())
        OnPerformSucceeded();
    else
        OnPerformFailed(performed);
}

bool JobControl::PreventiveCancel()
{
    if (m_state.load(std::memory_order_acquire) != STATE_CANCEL_SCHEDULED_WAIT_ALL)
        return false;
    if (!ChangeState(STATE_CANCEL_SCHEDULED_WAIT_ALL, STATE_FINISHING))
        ReportBroken(kSecondPerform, 152);
    FinishRun(MakeCanceledError(kSource.At("PreventiveCancel", 155)));
    return true;
}

void JobControl::AbandonRun() noexcept
{
    // While the action's Perform runs, only a completion and a cancel can move
    // the state, and neither finishes the run.
    for (;;) {
        const int64_t state = m_state.load(std::memory_order_acquire);
        if (state != STATE_BEGIN && state != STATE_COMPLETED_IN_PERFORM && state != STATE_CANCEL_SCHEDULED_WAIT_ALL &&
            state != STATE_COMPLETED_CANCEL_SCHEDULED) {
            ReportBroken(kSecondPerform, __LINE__);
            return;
        }
        if (ChangeState(state, STATE_FINISHING))
            break;
    }
    m_handler = nullptr;
    m_result = GetInvalidResultError();
    m_job.reset();
    // A cancel that came meanwhile is kept for the next run, as after FinishRun.
    if (!ChangeState(STATE_FINISHING, STATE_BEGIN) &&
        m_state.load(std::memory_order_acquire) != STATE_CANCEL_SCHEDULED_WAIT_ALL)
        ReportBroken("State() == STATE_CANCEL_SCHEDULED_WAIT_ALL && \"State logic broken.\"", __LINE__);
}

Common::Error JobControl::SafePerform(Action& action, std::shared_ptr<Job>& job)
{
    std::shared_ptr<Job> started;
    try {
        started = action.Perform(*this);
    } catch (const Common::Error&) {
        PerformExceptionDescription description;
        return DescribeCurrentException(description);
    }
    m_job = started;
    job = std::move(started);
    return Common::Success;
}

void JobControl::OnPerformSucceeded()
{
    for (;;) {
        const int64_t state = m_state.load(std::memory_order_acquire);
        switch (state) {
        case STATE_BEGIN:
            if (ChangeState(state, STATE_PERFORMED))
                return;
            break;
        case STATE_COMPLETED_IN_PERFORM:
            if (ChangeState(state, STATE_FINISHING)) {
                FinishRun(m_result);
                return;
            }
            break;
        case STATE_CANCEL_SCHEDULED_WAIT_ALL:
            if (m_job) {
                if (ChangeState(state, STATE_CANCELING_AFTER_PERFORM))
                    m_job->Cancel(); // then read the state again
            } else if (ChangeState(state, STATE_CANCELED_WAIT_COMPLETION)) {
                return;
            }
            break;
        case STATE_COMPLETED_CANCEL_SCHEDULED:
            if (!ChangeState(state, STATE_CANCEL_SCHEDULED_WAIT_ALL))
                ReportBroken(kSyncPoint, 270);
            FinishRun(m_result);
            return;
        case STATE_CANCELING_AFTER_PERFORM:
            if (ChangeState(state, STATE_CANCELED_WAIT_COMPLETION))
                return;
            break;
        case STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM:
            if (!ChangeState(state, HasCanceledResult() ? STATE_FINISHING : STATE_CANCEL_SCHEDULED_WAIT_ALL))
                ReportBroken(kSyncPoint, 293);
            FinishRun(m_result);
            return;
        case STATE_FINISHING:
            Common::SpinPause(); // another thread is moving the state on
            break;
        case STATE_PERFORMED:
            ReportBroken(kSecondPerform, 220);
            return;
        case STATE_CANCELED_WAIT_COMPLETION:
            ReportBroken(kSecondPerform, 259);
            return;
        case STATE_CANCELING:
            ReportBroken(kSecondPerform, 302);
            return;
        default: // STATE_COMPLETED_WHILE_CANCELING
            ReportBroken(kSecondPerform, 309);
            return;
        }
    }
}

void JobControl::OnPerformFailed(const Common::Error& failure)
{
    Common::TraceError(Common::TRACE_ERROR, failure);
    m_result = failure;
    for (;;) {
        const int64_t state = m_state.load(std::memory_order_acquire);
        switch (state) {
        case STATE_BEGIN:
        case STATE_COMPLETED_IN_PERFORM:
        case STATE_CANCEL_SCHEDULED_WAIT_ALL:
            if (ChangeState(state, STATE_FINISHING)) {
                FinishRun(m_result);
                return;
            }
            break;
        case STATE_COMPLETED_CANCEL_SCHEDULED:
        case STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM:
            if (!ChangeState(state, STATE_FINISHING))
                ReportBroken(kSyncPoint, state == STATE_COMPLETED_CANCEL_SCHEDULED ? 380 : 400);
            FinishRun(m_result);
            return;
        case STATE_FINISHING:
            Common::SpinPause();
            break;
        case STATE_PERFORMED:
            ReportBroken(kSecondPerform, 342);
            return;
        case STATE_CANCELED_WAIT_COMPLETION:
            ReportBroken(kSecondPerform, 370);
            return;
        case STATE_CANCELING_AFTER_PERFORM:
            ReportBroken(kSecondPerformQuery, 390);
            return;
        case STATE_CANCELING:
            ReportBroken(kSecondPerform, 410);
            return;
        default: // STATE_COMPLETED_WHILE_CANCELING
            ReportBroken(kSecondPerform, 417);
            return;
        }
    }
}

void JobControl::Completed(const Common::Error& result)
{
    m_result = AddJobContext(result);
    for (;;) {
        const int64_t state = m_state.load(std::memory_order_acquire);
        switch (state) {
        case STATE_BEGIN:
            if (ChangeState(state, STATE_COMPLETED_IN_PERFORM))
                return; // the performing thread finishes the run
            break;
        case STATE_PERFORMED:
            if (ChangeState(state, STATE_FINISHING)) {
                FinishRun(result);
                return;
            }
            break;
        case STATE_CANCEL_SCHEDULED_WAIT_ALL:
            if (ChangeState(state, STATE_COMPLETED_CANCEL_SCHEDULED))
                return;
            break;
        case STATE_CANCELED_WAIT_COMPLETION:
            if (!ChangeState(state, HasCanceledResult() ? STATE_FINISHING : STATE_CANCEL_SCHEDULED_WAIT_ALL))
                ReportBroken(kSyncPoint, 498);
            FinishRun(m_result);
            return;
        case STATE_CANCELING_AFTER_PERFORM:
            if (ChangeState(state, STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM))
                return;
            break;
        case STATE_CANCELING:
            if (ChangeState(state, STATE_COMPLETED_WHILE_CANCELING))
                return;
            break;
        case STATE_FINISHING:
            Common::SpinPause();
            break;
        case STATE_COMPLETED_IN_PERFORM:
            ReportBroken(kSecondCompleted, 478);
            return;
        case STATE_COMPLETED_CANCEL_SCHEDULED:
            ReportBroken(kSecondCompleted, 506);
            return;
        case STATE_COMPLETED_WHILE_CANCELING_AFTER_PERFORM:
            ReportBroken(kSecondCompleted, 523);
            return;
        default: // STATE_COMPLETED_WHILE_CANCELING
            ReportBroken(kSecondCompletedQuery, 540);
            return;
        }
    }
}

void JobControl::Cancel()
{
    CancelCall call(*this);
    // Set once this call has moved the run to STATE_CANCELING. Only this call
    // leaves STATE_CANCELING and STATE_COMPLETED_WHILE_CANCELING, so nothing
    // finishes the run while it is inside the job's Cancel.
    bool cancelling = false;
    for (;;) {
        const int64_t state = m_state.load(std::memory_order_acquire);
        switch (state) {
        case STATE_BEGIN:
            if (ChangeState(state, STATE_CANCEL_SCHEDULED_WAIT_ALL))
                return;
            break;
        case STATE_PERFORMED:
            if (ChangeState(state, STATE_CANCELING)) {
                cancelling = true;
                if (const std::shared_ptr<Job> job = m_job)
                    job->Cancel();
            }
            break;
        case STATE_COMPLETED_IN_PERFORM:
            if (ChangeState(state, STATE_COMPLETED_CANCEL_SCHEDULED))
                return;
            break;
        case STATE_CANCELING:
            if (!cancelling)
                return; // another call is cancelling the job
            if (ChangeState(state, STATE_CANCELED_WAIT_COMPLETION))
                return;
            break;
        case STATE_COMPLETED_WHILE_CANCELING:
            if (!cancelling)
                return; // the call that is cancelling the job finishes the run
            if (ChangeState(state, HasCanceledResult() ? STATE_FINISHING : STATE_CANCEL_SCHEDULED_WAIT_ALL)) {
                call.Leave(); // the handler may destroy the control
                FinishRun(m_result);
                return;
            }
            break;
        case STATE_FINISHING:
            if (ChangeState(state, STATE_CANCEL_SCHEDULED_WAIT_ALL))
                return;
            break;
        default:
            return;
        }
    }
}

Common::Error JobControl::AddJobContext(const Common::Error& result) const
{
    if (result.IsSuccess() || !m_owner)
        return result;
    try {
        Common::Error context = MakeJobContextError(m_owner->Describe());
        context.AddCause(result);
        return context;
    } catch (const Common::Error&) {
        return result;
    }
}

bool JobControl::HasCanceledResult() const noexcept
{
    return ChainContainsCode(m_result, ASYNC_ERROR_CANCELED);
}

void JobControl::FinishRun(Common::Error result)
{
    ActionHandler* handler = std::exchange(m_handler, nullptr);
    m_result = GetInvalidResultError();
    if (!ChangeState(STATE_FINISHING, STATE_BEGIN) &&
        m_state.load(std::memory_order_acquire) != STATE_CANCEL_SCHEDULED_WAIT_ALL)
        ReportBroken("State() == STATE_CANCEL_SCHEDULED_WAIT_ALL && \"State logic broken.\"", 661);
    // From here on no field is touched: the handler may run the control again
    // or destroy it.
    const std::shared_ptr<Job> job = std::move(m_job);
    if (handler) {
        const Common::Error failure = SafeFinishRun(*handler, result);
        if (!failure.IsSuccess())
            Common::TraceError(Common::TRACE_ERROR, failure);
    } else {
        const Common::Error missing(ASYNC_ERROR_NULL_FINISH_HANDLER,
                                    "Can't perform JobControl::SafeFinishRun with null handler.",
                                    kSource.At("FinishRun", 665));
        Common::TraceError(Common::TRACE_ERROR, missing);
    }
}

Common::Error JobControl::SafeFinishRun(ActionHandler& handler, const Common::Error& result)
{
    try {
        handler.Completed(result);
    } catch (const Common::Error&) {
        FinishExceptionDescription description;
        return DescribeCurrentException(description);
    }
    return Common::Success;
}

} // namespace Async
