// Async::DelegatingActionHandler: forwards a completion to a delegate after
// passing it through FilterResult. A Common::Error thrown by the filter
// becomes the forwarded result, with the incoming result chained behind it.
// Without a delegate the completion is reported as a failed assertion and
// dropped.
//
// Declaration order is the binary order; never insert or reorder.
//
// Threading: forwards on the thread that completed it; SetHandler must not
// race with a completion.
#pragma once

#include "enterprise/common/async/job.h"

namespace Async {

class DelegatingActionHandler : public ActionHandler
{
public:
    explicit DelegatingActionHandler(ActionHandler* handler = nullptr) noexcept : m_handler(handler) {}

    void Completed(const Common::Error& result) override;
    // A copy of `result` unless overridden.
    virtual Common::Error FilterResult(const Common::Error& result);

    void SetHandler(ActionHandler* handler) noexcept { m_handler = handler; }
    ActionHandler* GetHandler() const noexcept { return m_handler; }

private:
    ActionHandler* m_handler; // not owned
};

} // namespace Async
