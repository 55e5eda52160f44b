// Async::Gateway: an asynchronous reader-writer gate. A caller asks for an
// exclusive or a shared passage and receives a job; when the passage is
// granted, a Gateway::Flag is stored in the caller's holder and the caller's
// handler is completed with success, in the thread environment of the
// requesting thread (possibly inside the acquire call). Releasing the flag, or
// destroying it, gives the passage back and admits the next waiters.
//
// Waiting requests form one strict first-in, first-out queue: an exclusive
// request never overtakes a waiter, a shared one never overtakes an exclusive
// waiter (a shared request is granted at once while no exclusive passage is
// held or waits). Cancelling a waiting request completes its handler at once
// with ASYNC_ERROR_CANCELED; the request keeps its place and, once admitted,
// gives its passage straight back. A grant and a cancel racing complete the
// handler exactly once.
//
// Admissions run in the gate's tail-recursion loop: a flag released inside the
// handler that received it does not recurse, and the next waiter is admitted
// after that handler returns. While a grant is delivered, a synchronization
// fork stands guard: a handler that blocks its thread in a waiting handler
// hands the next admissions to a service thread (or, without a service, runs
// them on its thread before it blocks).
//
// The gate's state lives in a shared logic kept alive by the gateway, by every
// request and by every held flag.
//
// Declaration order of Flag is the binary order; never insert or reorder.
//
// Threading: acquire, release, cancel and admission from any thread. The gate's
// recursive mutex is never held while a handler is called or a flag released.
#pragma once

#include <memory>

#include "core/common/non_copyable.h"
#include "enterprise/common/async/job.h"

namespace Async {

namespace Detail {
class GatewayLogic;
}

class Gateway : public Common::NonCopyable
{
public:
    // The token of one held passage.
    class Flag : public Common::NonCopyable
    {
    public:
        // Gives the passage back when the flag still holds it.
        virtual ~Flag() = default;
        // Gives the passage back early; later calls do nothing.
        virtual void Release() = 0;
    };

    // An open gate.
    Gateway();
    // A gate held exclusively by a new flag, which replaces the content of
    // `holder` (a flag it held before is destroyed, releasing its passage).
    static Gateway CreateAcquired(std::unique_ptr<Flag>& holder);
    virtual ~Gateway();

    // Requests a passage. On the grant the flag goes into `holder`, which must
    // be empty and live until then, and `handler` is completed with success.
    // std::bad_weak_ptr when the gate's logic is gone.
    std::shared_ptr<Job> AcquireExclusive(std::unique_ptr<Flag>& holder, ActionHandler& handler);
    std::shared_ptr<Job> AcquireShared(std::unique_ptr<Flag>& holder, ActionHandler& handler);

private:
    explicit Gateway(std::shared_ptr<Detail::GatewayLogic> logic);

    std::shared_ptr<Detail::GatewayLogic> m_logic;
};

} // namespace Async
