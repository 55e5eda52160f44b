#include "enterprise/common/async/delegating_action_handler.h"

#include "core/common/assertion.h"
#include "core/common/location.h"

namespace Async {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/async/delegating_action_handler");
}

void DelegatingActionHandler::Completed(const Common::Error& result)
{
    Common::Error filtered;
    try {
        filtered = FilterResult(result);
    } catch (const Common::Error& thrown) {
        filtered = thrown;
        filtered.AddCause(result);
    }
    if (!m_handler) {
        Common::ReportAssertion("Handler && \"Invalid Delegating Action Handler state.\"", kSource.path, 61);
        return;
    }
    m_handler->Completed(filtered);
}

Common::Error DelegatingActionHandler::FilterResult(const Common::Error& result)
{
    return result;
}

} // namespace Async
