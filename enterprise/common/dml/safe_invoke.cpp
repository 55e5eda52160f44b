#include "enterprise/common/dml/safe_invoke.h"

#include "core/common/error.h"
#include "core/common/trace.h"
#include "enterprise/common/dml/dml_errors.h"

namespace Dml {
namespace {

constexpr Common::SourceFile kSource("enterprise/common/dml/safe_invoke", 0x31c021eefb054a2bull - 28);

// Calls `call`; a Common::Error it throws is handled and swallowed.
template <typename Call>
void Guarded(Call call)
{
    try {
        call();
    } catch (const Common::Error& escaped) {
        HandleCallbackException(escaped);
    }
}

} // namespace

Common::Error GetBaseError()
{
    return Common::Error(DML_ERROR_CALLBACK, u"Exception from callback.", kSource.At("GetBaseError", 28));
}

void HandleCallbackException(const Common::Error& escaped) noexcept
{
    Common::Error error = GetBaseError();
    error.AddCause(escaped);
    try {
        Common::TraceError(Common::TRACE_DEBUG, error);
    } catch (...) {
        // A trace sink that fails must not turn a swallowed callback error
        // into a new exception of the caller.
    }
}

void DeliverSnapshot(const std::vector<std::shared_ptr<const Por::View::Unit>>& snapshot, ReportReader& reader)
{
    for (const std::shared_ptr<const Por::View::Unit>& unit : snapshot) {
        if (unit)
            Guarded([&] { reader.Read(*unit); });
    }
}

void DeliverUpdates(const std::vector<ViewManagement::ViewUpdate>& updates, UpdateReader& reader)
{
    for (const ViewManagement::ViewUpdate& update : updates) {
        if (!update.Key)
            continue;
        switch (update.Type) {
        case ViewManagement::UPDATE_TYPE_0:
            Guarded([&] { reader.ReadType0(*update.Key); });
            break;
        case ViewManagement::UPDATE_TYPE_1:
            if (update.PackedUpdate)
                Guarded([&] { reader.ReadType1(*update.Key, *update.PackedUpdate); });
            break;
        case ViewManagement::UPDATE_TYPE_2:
            Guarded([&] { reader.ReadType2(*update.Key); });
            break;
        default:
            break;
        }
    }
}

} // namespace Dml
