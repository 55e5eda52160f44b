#include "enterprise/common/async/synchronous_action.h"

#include "core/common/message_catalogue.h"
#include "enterprise/common/async/async_errors.h"
#include "enterprise/common/async/operation_description.h"

namespace Async {

namespace {
constexpr Common::SourceFile kSource("enterprise/common/async/synchronous_action", 0x30AD4F7563758C53ull - 32);
}

Common::Error ErrorContextApplier::ApplyErrorContext(const Common::Error& error)
{
    return error;
}

std::shared_ptr<Job> SynchronousAction::Perform(ActionHandler& handler)
{
    TextDescription description(ASYNC_ERROR_WORK_EXCEPTION, Common::GetMessageText(kWorkExceptionText),
                                Common::GetMessageText(kWorkStdExceptionText),
                                Common::GetMessageText(kWorkUnknownExceptionText), kSource.At("Perform", 32));
    SafeRunAndComplete([this] { return RunWithContext(); }, description, handler);
    return {};
}

Common::Error SynchronousAction::RunWithContext()
{
    Common::Error result = PerformSynchronously();
    if (result.IsSuccess())
        return result;
    return ApplyErrorContext(result);
}

} // namespace Async
