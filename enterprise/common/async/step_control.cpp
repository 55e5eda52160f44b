#include "enterprise/common/async/step_control.h"

#include <utility>

#include "core/common/assertion.h"
#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "enterprise/common/async/async_errors.h"

namespace Async {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/async/step_control", 0x2E3870E85977C843ull - 54);

constexpr const char16_t* kStepOperation = u"Step";

Common::Error MakeStepError(unsigned code, const std::u16string& text, const char* function, uint32_t line)
{
    return Common::MakeTraceLevelError(code, text.c_str(), kSource.At(function, line));
}

} // namespace

Common::Error StepControl::SafeStepCompletionDetails::DescribeException(const Common::Error& caught)
{
    Common::Error described = MakeStepError(
        ASYNC_ERROR_OPERATION_EXCEPTION,
        FormatOperationText(Common::GetMessageText(kOperationExceptionText), kStepOperation), "DescribeException", 54);
    described.AddCause(caught);
    return described;
}

Common::Error StepControl::SafeStepCompletionDetails::DescribeStdException(const std::exception& caught)
{
    return MakeStepError(
        ASYNC_ERROR_OPERATION_STD_EXCEPTION,
        FormatOperationStdText(Common::GetMessageText(kOperationStdExceptionText), kStepOperation, caught.what()),
        "DescribeStdException", 59);
}

Common::Error StepControl::SafeStepCompletionDetails::DescribeUnknownException()
{
    return MakeStepError(ASYNC_ERROR_OPERATION_UNKNOWN_EXCEPTION,
                         FormatOperationText(Common::GetMessageText(kOperationUnknownExceptionText), kStepOperation),
                         "DescribeUnknownException", 64);
}

StepControl::StepControl()
    : m_ownerHandler(nullptr), m_rollbackHandler(nullptr), m_stepCounter(std::make_shared<std::atomic<int64_t>>(0)),
      m_currentHandler(nullptr), m_ownerJob(nullptr)
{
    TailRecursionController::Initialize();
}

StepControl::~StepControl() = default;

void StepControl::Initialize(ActionHandler& ownerHandler, StepHandler* rollbackHandler, Job* ownerJob)
{
    m_ownerHandler = &ownerHandler;
    m_rollbackHandler = rollbackHandler;
    m_ownerJob = ownerJob;
}

void StepControl::PerformStep(Action& action, StepHandler* handler)
{
    m_stepCounter->fetch_add(1, std::memory_order_acq_rel);
    m_currentHandler = handler;
    m_control.Perform(action, *this, m_ownerJob);
}

void StepControl::Finish()
{
    m_stepCounter->fetch_add(1, std::memory_order_acq_rel);
    m_ownerHandler->Completed(Common::Success);
}

void StepControl::Cancel()
{
    m_control.Cancel();
}

void StepControl::Completed(const Common::Error& result)
{
    m_pendingResult = result;
    if (m_currentHandler && (result.IsSuccess() || m_currentHandler->CanHandleFailure())) {
        (void)Continue(); // processed here, or by the loop already running on this thread
        return;
    }
    CompleteOrRollback(result);
}

void StepControl::CompleteOrRollback(const Common::Error& result)
{
    m_stepCounter->fetch_add(1, std::memory_order_acq_rel);
    if (!result.IsSuccess() && m_rollbackHandler) {
        m_pendingResult = result;
        m_currentHandler = m_rollbackHandler;
        ProcessStepResult();
        return;
    }
    m_ownerHandler->Completed(result);
}

void StepControl::ProcessStepResult()
{
    // What the handler does may destroy the step control: compare through our
    // own reference to the counter, and take the owner's handler beforehand.
    const std::shared_ptr<std::atomic<int64_t>> counter = m_stepCounter;
    const int64_t mark = counter->fetch_add(1, std::memory_order_acq_rel) + 1;
    StepHandler* handler = std::exchange(m_currentHandler, nullptr);
    const Common::Error result = std::exchange(m_pendingResult, Common::Success);
    ActionHandler* ownerHandler = m_ownerHandler;

    Common::Error stepResult;
    try {
        stepResult = handler->OnStepCompleted(result);
    } catch (const Common::Error&) {
        SafeStepCompletionDetails description;
        stepResult = DescribeCurrentException(description);
    }

    if (counter->load(std::memory_order_acquire) == mark) {
        ownerHandler->Completed(stepResult.GetCode() == ASYNC_ERROR_STEPS_STOPPED ? Common::Success : stepResult);
        return;
    }
    if (!stepResult.IsSuccess())
        Common::ReportAssertion("stepResult == Common::Success && \"Logic broken\"", kSource.path, 163);
}

} // namespace Async
