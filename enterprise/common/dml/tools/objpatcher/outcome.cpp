#include "enterprise/common/dml/tools/objpatcher/outcome.h"

#include "core/common/error_text.h"
#include "core/common/trace.h"

namespace Objpatcher {

namespace {

constexpr int kErrorTraceLevel = 4;

} // namespace

int ReportConnectionFailure(std::ostream& out, const Common::Error& error)
{
    out << "Failed to connect:\n" << Common::ErrorToUtf8Text(error) << std::endl;
    Common::TraceError(kErrorTraceLevel, error);
    return kExitFailure;
}

int ReportRequestFailure(std::ostream& out, const Common::Error& error)
{
    out << "Failed to process request:\n" << Common::ErrorToUtf8Text(error) << std::endl;
    Common::TraceError(kErrorTraceLevel, error);
    out << Common::ErrorToUtf8Text(error) << std::endl;
    return kExitFailure;
}

} // namespace Objpatcher
