// The producer side of a shared subscription: a cycle that keeps one
// "ReadSubscription"(subscriber) request outstanding. Each reply's updates go
// to the consumer's Consume and the next request is sent at once, on the same
// thread; the first failure (a cancellation included) goes to the consumer's
// Fail and ends the cycle for good. There is no pause and no retry.
//
// ProductionCycle runs its action cyclically under a job control, with itself
// (a waiting handler) as the handler; its destructor cancels a started run and
// waits until the run has ended, so the consumer has had its Fail before the
// destructor returns.
//
// Threading: Consume, Fail and the next request run on the library's
// completion thread (or on the starting thread when a call fails at once);
// batches reach the consumer one at a time, in reply order. The consumer must
// outlive the cycle.
#pragma once

#include <memory>

#include "enterprise/common/async/job_control.h"
#include "enterprise/common/async/waiting_handler.h"
#include "enterprise/common/dml/client/update_cache.h"
#include "platform/ipc/binding.h"

namespace Dml::Client {

class ProductionCycle final : public Async::WaitingHandler
{
public:
    explicit ProductionCycle(std::unique_ptr<Async::Action> action);
    ~ProductionCycle() override;

    void Start();

private:
    std::unique_ptr<Async::Action> m_action;
    Async::JobControl m_control;
    bool m_started = false;
};

// The action that pulls one batch of subscriber `subscriberId` for `consumer`.
std::unique_ptr<Async::Action> MakePullTransmissionUpdates(const std::shared_ptr<Binding::AccessPoint>& accessPoint,
                                                           Consumer& consumer, uint32_t subscriberId);

} // namespace Dml::Client
