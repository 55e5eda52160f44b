#include "enterprise/common/dml/tools/objpatcher/property_not_found.h"

#include <string>

#include "core/common/error.h"
#include "core/common/message_catalogue.h"
#include "core/common/message_format.h"
#include "enterprise/common/por/por_errors.h"

namespace Objpatcher {

Common::Error MakePropertyNotFoundError(const Common::Location& location, const char16_t* name)
{
    const char16_t* catalogueText = Common::GetMessageText(PorErrors::kPropertyNotFoundText);
    if (!name)
        return Common::MakeTraceLevelError(PorErrors::kPropertyNotFound, catalogueText, location);
    const std::u16string text = Common::FormatCatalogueMessage(catalogueText, name);
    return Common::MakeTraceLevelError(PorErrors::kPropertyNotFound, text.c_str(), location);
}

} // namespace Objpatcher
