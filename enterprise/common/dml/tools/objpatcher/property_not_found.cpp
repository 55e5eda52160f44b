#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "enterprise/common/dml/tools/objpatcher/error_parameters.h"
#include "enterprise/common/dml/tools/objpatcher/tool_errors.h"
#include "enterprise/common/dml/tools/objpatcher/tool_locations.h"
#include "enterprise/common/por/por_errors.h"

namespace Objpatcher {

namespace {

Common::Error MakePropertyNotFoundError(const Common::Location& location, const std::u16string& name,
                                        std::u16string reason)
{
    const std::u16string text = Common::FormatCatalogueMessage(Common::GetMessageText(PorErrors::kPropertyNotFoundText),
                                                               name);
    return AddErrorParameters(Common::MakeTraceLevelError(PorErrors::kPropertyNotFound, text.c_str(), location),
                              {{"reason", std::move(reason)}});
}

} // namespace

Common::Error MakeMissingAlternativesError(const Common::Location& location, const char16_t* first,
                                           const char16_t* second)
{
    return MakePropertyNotFoundError(
        location, second,
        Common::FormatMessage(Common::GetMessageText(ToolErrors::kMissingAlternativesText), {first, second}));
}

Common::Error MakeUnknownCommandError(const std::u16string& command)
{
    return MakePropertyNotFoundError(
        kUnknownCommandLocation, command,
        Common::FormatCatalogueMessage(Common::GetMessageText(ToolErrors::kUnknownCommandText), command));
}

} // namespace Objpatcher
