// Async::JobComposition<T>: the base of jobs built on a step control. It owns
// the step control (shared, so a running step can keep it alive), holds the
// step handler and the rollback handler that call members of T, and cancels by
// cancelling the step control. T overrides Describe.
//
// Threading: Cancel from any thread; the rest on the thread that drives the
// chain.
#pragma once

#include <memory>

#include "enterprise/common/async/base_job.h"
#include "enterprise/common/async/include/detail/method_step_handler.h"
#include "enterprise/common/async/step_control.h"

namespace Async {

template <typename T>
class JobComposition : public BaseJob
{
public:
    void Cancel() override { m_stepControl->Cancel(); }

protected:
    JobComposition() : m_stepControlHolder(new StepControl()), m_stepControl(m_stepControlHolder.get()) {}

    // Sets up the chain once T is constructed: both handlers call members of
    // this T, the rollback handler takes failures when `withRollback`, and
    // this job is the owner of every step.
    void InitializeSteps(ActionHandler& ownerHandler, bool withRollback)
    {
        T* self = static_cast<T*>(this);
        m_stepHandler.SetObject(self);
        m_rollbackHandler.SetObject(self);
        m_stepControl->Initialize(ownerHandler, withRollback ? &m_rollbackHandler : nullptr, this);
    }

    StepControl& GetStepControl() { return *m_stepControl; }

    Detail::ObjectMethodHandler<T> m_stepHandler;
    Detail::ObjectMethodHandler<T> m_rollbackHandler;

private:
    std::shared_ptr<StepControl> m_stepControlHolder;
    StepControl* m_stepControl;
};

} // namespace Async
