// Async::SilentWorkAdaptor: work that calls a bound call and reports success
// ("silent": the call reports nothing itself), keeping a data value (such as a
// keep-alive pointer) as long as the adaptor lives.
//
// Threading: Run on the service thread that runs the work.
#pragma once

#include <utility>

#include "core/common/error.h"
#include "enterprise/common/async/async_service.h"

namespace Async {

template <typename Callable, typename Data>
class SilentWorkAdaptor final : public Work
{
public:
    SilentWorkAdaptor(Callable callable, Data data) : m_callable(std::move(callable)), m_data(std::move(data)) {}

    Common::Error Run() override
    {
        m_callable();
        return Common::Success;
    }
    void Detach() override {}

private:
    Callable m_callable;
    Data m_data;
};

} // namespace Async
