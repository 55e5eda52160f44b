// Async::WaitCompletionHandler: a handler in front of another one that lets
// any number of wait actions wait for the one completion passing through it.
//
// The completion is forwarded to the handler behind (SetHandler) first; then
// every wait is released, in the order the waits were performed: with success,
// or with the completion's result when result propagation is on. A wait
// performed after the completion is released at once. Waiting is built on a
// gateway that the handler's logic holds exclusively until the completion;
// each wait asks for a shared passage and holds it until its job handle is
// released.
//
// Cancelling a wait before the completion ends it with ASYNC_ERROR_CANCELED
// (with propagation too: the cancel is passed on rather than a success). A
// wait from MakeUncancelableWaitAction ignores cancels.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: the completion may arrive on any thread; waits are released on
// that thread or wherever the gateway runs its grants, in the environment of
// the thread that performed each wait. SetResultPropagation only before the
// completion.
#pragma once

#include <memory>

#include "core/common/mutex.h"
#include "enterprise/common/async/delegating_action_handler.h"
#include "enterprise/common/async/gateway.h"
#include "enterprise/common/async/job.h"

namespace Async {

class WaitCompletionHandler : public DelegatingActionHandler
{
public:
    class Logic;

    WaitCompletionHandler();
    ~WaitCompletionHandler() override;

    // Forwards the result, then releases the waits (first completion only).
    void Completed(const Common::Error& result) override;

    void SetResultPropagation(bool propagate);
    // A cancellable wait action; after the completion, when no wait action
    // keeps the logic any more, an immediate success action.
    std::unique_ptr<Action> MakeWaitAction();
    // The same wait, whose job ignores Cancel.
    std::unique_ptr<Action> MakeUncancelableWaitAction();

private:
    std::shared_ptr<Logic> m_logic; // until the completion
    Common::Mutex m_mutex;
    std::weak_ptr<Logic> m_weakLogic COMMON_GUARDED_BY(m_mutex);
    bool m_propagate COMMON_GUARDED_BY(m_mutex) = false;
};

class WaitCompletionHandler::Logic : public ActionHandler
{
public:
    Logic();
    ~Logic() override = default;

    // Keeps the result, then gives the exclusive passage back, releasing the waits.
    void Completed(const Common::Error& result) override;
    // The callable of every wait action: asks for a shared passage.
    std::shared_ptr<Job> Wait(ActionHandler& handler);

    void SetPropagation(bool propagate) { m_propagate = propagate; }

private:
    class ResultPropagator;

    // Destroyed in reverse: the result, the gate, then the flag if still held.
    std::unique_ptr<Gateway::Flag> m_exclusive;
    Gateway m_gate;
    bool m_propagate = false;
    Common::Error m_result;
};

} // namespace Async
