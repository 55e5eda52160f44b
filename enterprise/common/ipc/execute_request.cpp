#include "enterprise/common/ipc/execute_request.h"

#include "core/common/location.h"
#include "platform/ipc/binding_errors.h"

namespace Binding {

namespace {

constexpr Common::SourceFile kSource("enterprise/common/ipc/execute_request");

} // namespace

Common::Error ExecuteRequest(AccessPoint& accessPoint, std::unique_ptr<Request>& request)
{
    std::unique_ptr<Request> local = std::move(request);
    std::unique_ptr<JobManagement::Job> job;
    Common::Error result = accessPoint.Call(local, job);
    local.reset(); // not taken: ours to delete
    if (result.GetCode() != Common::Success.GetCode())
        return result;
    if (!job)
        return BindingErrors::MakeBindingError(BindingErrors::kNoCallJob, BindingErrors::kNoCallJobText,
                                               kSource.At("ExecuteRequest", __LINE__));
    result = job->Wait(0);
    job.reset();
    return result;
}

} // namespace Binding
