// A delegating handler that runs a bound call before it passes on a failure
// (a result whose code is not 0); a success passes untouched. A Common::Error
// thrown by the call replaces the result, with the failure chained beneath it.
//
// Threading: completed once, on whichever thread completes the job.
#pragma once

#include <utility>

#include "enterprise/common/async/delegating_action_handler.h"

namespace Async::Detail {

template <typename F>
class CustomActionFailureHandler final : public DelegatingActionHandler
{
public:
    CustomActionFailureHandler(ActionHandler& delegate, F onFailure)
        : DelegatingActionHandler(&delegate), m_onFailure(std::move(onFailure))
    {
    }

    Common::Error FilterResult(const Common::Error& result) override
    {
        if (!result.IsSuccess())
            m_onFailure();
        return result;
    }

private:
    F m_onFailure;
};

} // namespace Async::Detail
